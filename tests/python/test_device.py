"""usb_file_utility against the device simulator: every call, its errors, names that aren't
UTF-8, Ctrl-C in the middle of a transfer, two devices at once, and the pytest plugin."""

import logging
import os
import signal
import threading
from pathlib import Path

import pytest

import usb_file_utility as ufu
from usb_file_utility.pytest_plugin import Simulator, simulator_executable

BLOCK = 8169


@pytest.fixture
def device(usb_simulator):
    with ufu.Device(usb_simulator.port) as dev:
        yield dev


def simulator_with(tmp_path, name, *rules):
    folder = tmp_path / name
    folder.mkdir()
    return Simulator(simulator_executable(), folder, rules)


def test_files_and_folders_both_ways(usb_simulator, device, tmp_path, caplog):
    caplog.set_level(logging.INFO, logger="usb_file_utility")
    identity = device.identify()
    assert (identity.family_id, identity.device_id, identity.second_text) == (0x12, 3, "serial 00000001")

    data = os.urandom(3 * BLOCK + 5)
    (tmp_path / "config.bin").write_bytes(data)
    seen = []
    device.put(tmp_path / "config.bin", "/mnt/nandfs/usr", verify=True, progress=lambda done, total: seen.append((done, total)))
    assert usb_simulator.path("/mnt/nandfs/usr/config.bin").read_bytes() == data
    assert seen[-1] == (len(data), len(data)) and len(seen) >= 4
    assert any("File transfer completed successfully" in r.getMessage() for r in caplog.records)

    device.mkdir("/mnt/nandfs/usr/sub")
    entries = device.ls("/mnt/nandfs/usr", long=True)
    assert [(e.name, e.is_folder) for e in entries] == [("config.bin", False), ("sub", True)]
    assert entries[0].size == len(data) and entries[0].modified.year >= 2020
    assert device.ls("/mnt/nandfs/usr")[0].size is None

    device.get("/mnt/nandfs/usr/config.bin", tmp_path / "back.bin")
    assert (tmp_path / "back.bin").read_bytes() == data
    assert device.read_bytes("/mnt/nandfs/usr/config.bin") == data

    device.mv("/mnt/nandfs/usr/config.bin", "/mnt/nandfs/usr/sub/moved.bin")
    device.get_tree("/mnt/nandfs/usr/sub", tmp_path / "tree")
    assert (tmp_path / "tree" / "moved.bin").read_bytes() == data
    device.put_tree(tmp_path / "tree", "/mnt/nandfs/usr/copy")
    assert usb_simulator.path("/mnt/nandfs/usr/copy/moved.bin").read_bytes() == data

    device.rm("/mnt/nandfs/usr/copy")
    assert not usb_simulator.path("/mnt/nandfs/usr/copy").exists()


def test_firmware_is_installed_once(usb_simulator, device, tmp_path):
    image = tmp_path / "KX9image.bin"
    image.write_bytes(os.urandom(2 * BLOCK))
    assert device.update(image, verify=True) == "installed"
    assert usb_simulator.path("/mnt/nandfs/KX9image").read_bytes() == image.read_bytes()
    assert usb_simulator.path("/mnt/nandfs/KX9imageDone").exists()

    usb_simulator.path("/mnt/nandfs/lib").mkdir()
    usb_simulator.path("/mnt/nandfs/lib/libm.so.2").write_text("")
    assert device.update(image) == "skipped"


def test_failures_are_exceptions_with_the_log_text(usb_simulator, device, tmp_path):
    with pytest.raises(ufu.PortError):
        ufu.Device(str(tmp_path / "no-such-port"))

    with pytest.raises(ufu.DeviceError) as failed:
        device.get("/mnt/nandfs/usr/missing.txt", tmp_path / "x")
    assert failed.value.path == "/mnt/nandfs/usr/missing.txt" and "failed to open remote file" in str(failed.value)

    usb_simulator.path("/mnt/nandfs/usr/a").write_text("a")
    usb_simulator.path("/mnt/nandfs/usr/b").write_text("b")
    with pytest.raises(ufu.DeviceError, match="exists"):
        device.mv("/mnt/nandfs/usr/a", "/mnt/nandfs/usr/b")
    assert usb_simulator.path("/mnt/nandfs/usr/b").read_text() == "b"

    device.close()
    with pytest.raises(ufu.PortError):
        device.identify()


def test_names_that_are_not_utf8_go_back_as_their_bytes(usb_simulator, device, tmp_path):
    folder = usb_simulator.path("/mnt/nandfs/usr")
    with open(os.path.join(os.fsencode(folder), b"caf\xe9"), "wb") as latin1:
        latin1.write(b"latin-1")
    (folder / "caf\u00e9").write_text("utf-8")

    names = [entry.name for entry in device.ls("/mnt/nandfs/usr")]
    assert sorted(names) == sorted([os.fsdecode(b"caf\xe9"), "caf\u00e9"])
    assert device.read_bytes("/mnt/nandfs/usr/" + os.fsdecode(b"caf\xe9")) == b"latin-1"
    assert device.read_bytes("/mnt/nandfs/usr/caf\u00e9") == b"utf-8"


def test_ctrl_c_during_a_get_keeps_the_old_file(tmp_path):
    simulator = simulator_with(tmp_path, "slow", "FileReadRequest delay 50")
    simulator.path("/mnt/nandfs/usr/big.bin").write_bytes(os.urandom(100 * BLOCK))
    target = tmp_path / "big.bin"
    target.write_text("the old copy")
    try:
        with ufu.Device(simulator.port) as device:
            threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
            with pytest.raises(KeyboardInterrupt) as stopped:
                device.get("/mnt/nandfs/usr/big.bin", target)
            assert isinstance(stopped.value, ufu.TransferCancelled)
            assert "Transfer cancelled." in str(stopped.value)
            assert target.read_text() == "the old copy"
            assert device.identify().family_id == 0x12   # the device answers on
            assert not any(p.name.startswith(".big.bin") for p in tmp_path.iterdir())
    finally:
        simulator.stop()


def test_two_devices_run_at_once_from_two_threads(tmp_path):
    simulators = [simulator_with(tmp_path, name, "FileReadRequest delay 10") for name in ("a", "b")]
    events = []
    errors = []

    def fetch(simulator, name):
        try:
            data = os.urandom(40 * BLOCK)
            simulator.path("/mnt/nandfs/usr/f.bin").write_bytes(data)
            with ufu.Device(simulator.port) as device:
                device.get("/mnt/nandfs/usr/f.bin", tmp_path / (name + ".bin"),
                           progress=lambda done, total: events.append(name))
            assert (tmp_path / (name + ".bin")).read_bytes() == data
        except BaseException as e:   # reported by the main thread
            errors.append(e)

    try:
        threads = [threading.Thread(target=fetch, args=(s, n)) for s, n in zip(simulators, "ab")]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        for simulator in simulators:
            simulator.stop()

    assert errors == []
    # The two transfers took turns block by block: neither waited for the other to end.
    first_b, last_a = events.index("b"), len(events) - 1 - events[::-1].index("a")
    assert first_b < last_a


def test_notifications_and_ports(tmp_path, monkeypatch):
    simulator = simulator_with(tmp_path, "notifying", "WhoAmIRequest#1 notify event 7 2",
                               "WhoAmIRequest#1 notify property 1,2 0x8000 hello")
    monkeypatch.setenv("USB_FILE_UTILITY_PORTS", simulator.port)
    try:
        assert ufu.Port(simulator.port, simulator.port, simulator.port) in ufu.ports()
        with ufu.Device() as device:   # the one port there is
            device.identify()
            received = list(device.notifications(timeout=1))
        assert received == [ufu.Notification("event", [], 7, 2), ufu.Notification("property", [1, 2], 0x8000, "hello")]
    finally:
        simulator.stop()


def test_the_plugin_fixtures_run_the_example_suite(pytester, usb_simulator):
    pytester.copy_example(str(Path(__file__).parent / "example" / "test_rig_example.py"))
    result = pytester.runpytest("-p", "usb_file_utility.pytest_plugin", "--usb-port", usb_simulator.port)
    result.assert_outcomes(passed=2)
