"""pytest fixtures for rigs that test devices:

- usb_device: a Device on the port named by --usb-port or USB_FILE_UTILITY_PORT (or the one
  port there is), closed after the test;
- usb_simulator: the bundled device simulator serving a temporary folder; its .port is a
  path Device() takes and its .root the host folder that stands for the device's "/".

Installed with the package, pytest loads it by itself; in a source tree, name it in
conftest.py: pytest_plugins = ["usb_file_utility.pytest_plugin"].
"""

import os
import shutil
import subprocess
import time
from pathlib import Path

import pytest

import usb_file_utility


def pytest_addoption(parser):
    parser.addoption("--usb-port", default=None, help="the device's port for the usb_device fixture")


@pytest.fixture
def usb_device(request):
    port = request.config.getoption("--usb-port") or os.environ.get("USB_FILE_UTILITY_PORT")
    with usb_file_utility.Device(port) as device:
        yield device


class Simulator:
    """A device simulator process on a pseudo-terminal."""

    def __init__(self, executable, folder, rules=()):
        self.root = Path(folder) / "device"
        (self.root / "mnt" / "nandfs" / "usr").mkdir(parents=True, exist_ok=True)
        self.port = str(Path(folder) / "port")
        arguments = [executable, "--root", str(self.root), "--link", self.port, "--exit-with-parent"]
        for rule in rules:
            arguments += ["--rule", rule]
        self.process = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.process.stdout.readline()   # the pty's path, once it is ready
        deadline = time.monotonic() + 5
        while not os.path.islink(self.port) and time.monotonic() < deadline:
            time.sleep(0.01)

    def path(self, device_path):
        """The host file that stands for a device path."""
        return self.root / device_path.lstrip("/")

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


INSTALLED_SIMULATOR = "/usr/lib/usb-file-utility/device-simulator"


def simulator_executable():
    """USB_FILE_UTILITY_SIMULATOR, or the one the package installed, or device-simulator on PATH."""
    found = (os.environ.get("USB_FILE_UTILITY_SIMULATOR")
             or (INSTALLED_SIMULATOR if os.access(INSTALLED_SIMULATOR, os.X_OK) else None)
             or shutil.which("device-simulator"))
    if not found:
        pytest.skip("no device simulator: set USB_FILE_UTILITY_SIMULATOR")
    return found


@pytest.fixture
def usb_simulator(tmp_path):
    simulator = Simulator(simulator_executable(), tmp_path)
    yield simulator
    simulator.stop()
