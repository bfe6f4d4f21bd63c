# Helpers for driving the real program against the device simulator on a virtual X
# display (the end-to-end tests and the headless demo). Source it; call start_session
# first. Needs Xvfb, xdotool and ImageMagick's import.
#   APP         the usb-file-utility executable
#   SIMULATOR   the device-simulator executable

session_dir=""
xvfb_pid=""
simulator_pid=""

keep_session=""

# start_session [FOLDER]: a virtual display, and a session folder (a new temporary one,
# removed at the end, unless FOLDER is given) holding the device, home and logs.
start_session() {
    if [ -n "${1:-}" ]; then
        session_dir=$1
        keep_session=yes
    else
        session_dir=$(mktemp -d /tmp/usb-file-utility-e2e.XXXXXX)
    fi
    mkdir -p "$session_dir/device/mnt/nandfs" "$session_dir/home"
    exec 3> "$session_dir/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    local display=""
    for _ in $(seq 100); do
        display=$(cat "$session_dir/display" 2>/dev/null || true)
        [ -n "$display" ] && break
        sleep 0.1
    done
    [ -n "$display" ] || { echo "Xvfb did not start"; return 1; }
    export DISPLAY=":$display"
    trap end_session EXIT
}

# Runs as the EXIT trap: it must not change the script's exit status.
end_session() {
    stop_simulator
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    if [ -n "$session_dir" ] && [ -z "$keep_session" ] && [ -z "${KEEP_SESSION:-}" ]; then
        rm -rf "$session_dir"
    fi
    return 0
}

# start_simulator [RULE...]: the simulator serves $session_dir/device on $session_dir/port.
start_simulator() {
    stop_simulator
    local args=()
    for rule in "$@"; do args+=(--rule "$rule"); done
    launch_simulator "$session_dir" "$session_dir/device" "${args[@]}" || return 1
    simulator_pid=$launched_pid
}

stop_simulator() {
    if [ -n "$simulator_pid" ]; then
        kill "$simulator_pid" 2>/dev/null || true
        wait "$simulator_pid" 2>/dev/null || true
        simulator_pid=""
    fi
}

# write_settings KEY VALUE ...: a fresh settings file in the session's home.
write_settings() {
    local folder="$session_dir/home/.config/zem"
    mkdir -p "$folder"
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo
        echo '<PROPERTIES>'
        while [ $# -ge 2 ]; do
            echo "  <VALUE name=\"$1\" val=\"$2\"/>"
            shift 2
        done
        echo '</PROPERTIES>'
    } > "$folder/KX9ManufacturingUSBUtility.properties"
}

# The windows of a process that are on the screen.
visible_windows() {
    xdotool search --onlyvisible --pid "$1" 2>/dev/null || true
}

# The message box of a process, if one is on the screen: a visible window other than the
# main one, leaving out the thin shadow windows that Windows programs put around theirs.
message_box_of() {
    local window
    for window in $(visible_windows "$1"); do
        [ "$(xdotool getwindowname "$window" 2>/dev/null)" = "USB File Utility" ] && continue
        local WIDTH=0 HEIGHT=0
        eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
        if [ "$WIDTH" -gt 40 ] && [ "$HEIGHT" -gt 40 ]; then
            echo "$window"
            return
        fi
    done
}

# run_app [ARG...]: runs the program with the session's home and port, answering each
# message box with Return, until it ends. Sets app_status (the exit code), and leaves
# the standard error in $session_dir/app.err, the number of boxes answered in
# $session_dir/boxes and a screenshot of the first box in $session_dir/box.png.
run_app() {
    start_app "$@"
    await_app
}

# start_app [ARG...]: starts the program as run_app does and returns at once; app_pid is
# its process. await_app then answers its boxes until it ends.
start_app() {
    HOME="$session_dir/home" XDG_CONFIG_HOME="" USB_FILE_UTILITY_PORTS="${APP_PORTS:-$session_dir/port}" \
        "$APP" "$@" > "$session_dir/app.out" 2> "$session_dir/app.err" &
    app_pid=$!
}

await_app() {
    local pid=$app_pid answered="" waited=0
    rm -f "$session_dir/box.png"
    while kill -0 "$pid" 2>/dev/null && [ $waited -lt 1200 ]; do
        local box
        box=$(message_box_of "$pid")
        if [ -n "$box" ]; then
            [ -f "$session_dir/box.png" ] || import -window root "$session_dir/box.png" 2>/dev/null || true
            xdotool windowfocus "$box" 2>/dev/null || true
            xdotool key --window "$box" Return 2>/dev/null || true
            # A box may take a moment to go; it is counted once.
            case " $answered " in *" $box "*) ;; *) answered="$answered $box" ;; esac
            sleep 0.5
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "the program did not end; stopping it"
        kill "$pid" || true
    fi
    app_status=0
    wait "$pid" || app_status=$?
    echo "$answered" | wc -w > "$session_dir/boxes"
    # A sanitizer's report ends the program with its own code; show it where CI keeps it.
    grep -aqE 'Sanitizer|runtime error' "$session_dir/app.err" && head -n 40 "$session_dir/app.err"
    return 0
}

# The main window of a process, once it is on the screen (waits up to 20 s): the largest of
# its windows with the program's title (Windows programs put thin shadow windows of the
# same title around theirs).
main_window_of() {
    local window="" candidate largest=0
    for _ in $(seq 200); do
        for candidate in $(xdotool search --onlyvisible --pid "$1" --name "^USB File Utility$" 2>/dev/null); do
            local WIDTH=0 HEIGHT=0
            eval "$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
            if [ $((WIDTH * HEIGHT)) -gt "$largest" ]; then
                largest=$((WIDTH * HEIGHT))
                window=$candidate
            fi
        done
        [ -n "$window" ] && break
        sleep 0.1
    done
    echo "$window"
}

# click_window WINDOW X Y: a left click at X,Y inside the window.
click_window() {
    xdotool mousemove --window "$1" "$2" "$3" click 1 2>/dev/null
}

# close_window PID: a click on the close button at the right end of the title bar of the
# process's main window, as it is on the screen now.
close_window() {
    local window WIDTH=0
    window=$(main_window_of "$1")
    eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null | grep -E '^WIDTH=[0-9]+$')"
    click_window "$window" $((WIDTH - 20)) 17
}

# wait_for_log LINE [SECONDS]: until the program has logged the line (see log_has).
wait_for_log() {
    for _ in $(seq $(( ${2:-30} * 10 ))); do
        log_has "$1" && return 0
        sleep 0.1
    done
    return 1
}

# wait_for_request TEXT [SECONDS]: until the device has received a request line holding TEXT.
wait_for_request() {
    local tries=$(( ${2:-20} * 10 ))
    for _ in $(seq "$tries"); do
        grep -qF "$1" "$session_dir/requests.log" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# The device's requests between its first and its last FileWriteRequest.
requests_during_writes() {
    awk '/^FileWriteRequest/ { if (!first) first = NR; last = NR } { line[NR] = $0 }
         END { if (first) for (i = first; i <= last; ++i) print line[i] }' "$session_dir/requests.log"
}

# bar_pixels SCREENSHOT: how many pixels have the progress bar's fill colour.
bar_pixels() {
    convert "$1" -fill black +opaque 'srgb(66,162,200)' -fill white -opaque 'srgb(66,162,200)' \
        -format '%[fx:round(mean*w*h)]' info:
}

# Test bookkeeping (check, $failures).
. "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
# A line of the program's log (on Windows its lines end in CR LF).
log_has() { tr -d '\r' < "$session_dir/app.err" | grep -aqxF "$1"; }
