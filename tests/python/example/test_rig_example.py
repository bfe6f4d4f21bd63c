"""How a rig's own tests use the package's pytest fixtures (kept here as documentation and
run by the project's tests): usb_device is the device on --usb-port, usb_simulator a
simulated device for tests without hardware."""

import usb_file_utility as ufu


def test_the_device_answers_and_keeps_a_file(usb_device, tmp_path):
    assert usb_device.identify().protocol_version > 0

    config = tmp_path / "config.bin"
    config.write_bytes(b"\x01\x02rig settings")
    usb_device.put(config, "/mnt/nandfs/usr/config.bin", verify=True)
    assert usb_device.read_bytes("/mnt/nandfs/usr/config.bin") == config.read_bytes()


def test_a_log_file_after_a_run(usb_simulator, tmp_path):
    usb_simulator.path("/mnt/nandfs/usr/run.log").write_text("step 1 ok\n")
    with ufu.Device(usb_simulator.port) as device:
        device.get("/mnt/nandfs/usr/run.log", tmp_path)
    assert (tmp_path / "run.log").read_text() == "step 1 ok\n"
