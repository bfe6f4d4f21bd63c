"""Drives the device over its USB serial port: identify it, list, fetch and send files and
folder trees, install firmware, follow its notifications.

    import usb_file_utility as ufu
    with ufu.Device() as dev:
        print(dev.identify())
        dev.put("config.bin", "/mnt/nandfs/usr/config.bin", verify=True)

Every call blocks until the device has answered and returns its result; failures raise
PortError, DeviceError or TransferCancelled (a KeyboardInterrupt) with the log's text. The
log goes to the logger "usb_file_utility". Device names that aren't UTF-8 come as str with
surrogate escapes (as os.fsdecode gives them) and go back as the same bytes.
"""

import logging
import os
from typing import Callable, Iterator, List, Optional, Union

from ._types import DeviceError, DeviceIdentity, Entry, Notification, Port, PortError, TransferCancelled
from . import _usb_file_utility as _native

# The log's lines go here; made now, not in the middle of the first transfer.
logging.getLogger("usb_file_utility")

__all__ = ["ports", "Device", "Port", "DeviceIdentity", "Entry", "Notification",
           "PortError", "DeviceError", "TransferCancelled"]

LocalPath = Union[str, bytes, "os.PathLike[str]"]
Progress = Optional[Callable[[int, int], None]]


def ports() -> List[Port]:
    """The ports a device may be on: discovered devices, then USB_FILE_UTILITY_PORTS."""
    return _native.ports()


class Device:
    """The device on one port. Use it from one thread at a time; Devices on two ports run
    in parallel. Long calls release the GIL; Ctrl-C stops a transfer after its current
    block and raises TransferCancelled."""

    def __init__(self, port: Optional[str] = None):
        self._device = _native._Device(port)

    @property
    def port(self) -> str:
        return self._device.port

    def close(self) -> None:
        self._device.close()

    def __enter__(self) -> "Device":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def identify(self) -> DeviceIdentity:
        return self._device.identify()

    def ls(self, path: str = "/mnt/nandfs/usr", long: bool = False) -> List[Entry]:
        """The folder's entries in the order the window lists them."""
        return self._device.ls(path, long)

    def get(self, remote: str, local: LocalPath, progress: Progress = None) -> None:
        """A device file to local (into it, when it is a folder); an existing file is
        replaced only once the whole file has arrived."""
        self._device.get(remote, local, progress)

    def put(self, local: LocalPath, remote: str, verify: bool = False, progress: Progress = None) -> None:
        """A host file to remote (into it, when it is a device folder); the old device file
        is replaced only once the new one is whole (and, with verify, read back)."""
        self._device.put(local, remote, verify, progress)

    def get_tree(self, remote: str, local: LocalPath, progress: Progress = None) -> None:
        self._device.get_tree(remote, local, progress)

    def put_tree(self, local: LocalPath, remote: str, verify: bool = False, progress: Progress = None) -> None:
        self._device.put_tree(local, remote, verify, progress)

    def rm(self, path: str) -> None:
        self._device.rm(path)

    def mkdir(self, path: str) -> None:
        self._device.mkdir(path)

    def mv(self, source: str, destination: str) -> None:
        """Renames or moves; never replaces an existing destination."""
        self._device.mv(source, destination)

    def read_bytes(self, path: str) -> bytes:
        """A small device file straight into memory."""
        return self._device.read_bytes(path)

    def update(self, image: LocalPath, force: bool = False, verify: bool = False) -> str:
        """Installs the firmware image unless the device has the firmware: "skipped" or
        "installed"."""
        return self._device.update(image, force, verify)

    def notifications(self, timeout: Optional[float] = None) -> Iterator[Notification]:
        """The device's notifications as they come, until timeout seconds pass without one
        (None: until interrupted)."""
        while True:
            notification = self._device.next_notification(-1.0 if timeout is None else timeout)
            if notification is None:
                return
            yield notification
