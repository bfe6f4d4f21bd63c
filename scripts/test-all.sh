#!/usr/bin/env bash
# Sets everything up and runs every test: the native build (warnings are errors) with its
# unit, GUI and end-to-end tests; all of them again under AddressSanitizer + UBSan; the
# core, client and simulator tests under ThreadSanitizer; a short fuzzing run; the headless
# demo; the Debian package (lintian, installed and run); and the Windows build under Wine.
# Exits non-zero when anything fails.
#   FUZZ_SECONDS=60   how long the fuzz targets run, together
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh windows || exit 1

jobs=$(nproc)
failed=()
step() {
    local name=$1; shift
    echo "=== $name"
    local start=$SECONDS
    if "$@"; then
        echo "=== $name: passed ($((SECONDS - start)) s)"
    else
        echo "=== $name: FAILED ($((SECONDS - start)) s)"
        failed+=("$name")
    fi
}

native() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUSB_WARNINGS_AS_ERRORS=ON >/dev/null &&
    cmake --build build -j "$jobs" &&
    (cd build && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j 2 --timeout 300)
}

address_sanitized() {
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUSB_SANITIZE=address \
          -DUSB_BUILD_GUI=ON -DUSB_WARNINGS_AS_ERRORS=ON >/dev/null &&
    cmake --build build-asan -j "$jobs" &&
    (cd build-asan &&
     ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j 2 --timeout 300)
}

thread_sanitized() {
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUSB_SANITIZE=thread \
          -DUSB_BUILD_GUI=OFF -DUSB_WARNINGS_AS_ERRORS=ON >/dev/null &&
    cmake --build build-tsan -j "$jobs" --target core_tests client_tests simulator_tests \
        usb-file-utility-cli cli_tests device_tests &&
    (cd build-tsan &&
     TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
        ctest --output-on-failure -j 2 --timeout 300)
}

step "native build and tests" native
step "all tests under ASan and UBSan" address_sanitized
step "core, client, simulator and command-line tests under TSan" thread_sanitized
# The README's first command, headless: it must exit 0 when the demo worked.
demo() { env -u DISPLAY bash scripts/run.sh > build/demo.log 2>&1 || { tail -n 30 build/demo.log; return 1; }; }

step "fuzzing" bash scripts/fuzz.sh
step "the headless demo (scripts/run.sh)" demo
step "Debian package: build, lintian, install, run, remove" bash scripts/package.sh --install
if [ -f scripts/windows-tests.sh ]; then
    step "Windows build and tests under Wine" bash scripts/windows-tests.sh
fi

if [ ${#failed[@]} -gt 0 ]; then
    # The failed tests again at the end, where a shortened log still shows them.
    for dir in build build-asan build-tsan; do
        list=$dir/Testing/Temporary/LastTestsFailed.log
        [ -s "$list" ] || continue
        echo "failed in $dir: $(tr '\n' ' ' < "$list")"
        # What those tests said of their failures: failed checks, sanitizer reports.
        grep -aE 'FAILED:|Failure|Sanitizer|runtime error|did not' "$dir/Testing/Temporary/LastTest.log" |
            grep -v '^=' | head -n 20 | sed 's/^/    /'
    done
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "All tests passed."
