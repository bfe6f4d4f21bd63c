"""The values and exceptions of usb_file_utility."""

import datetime
from dataclasses import dataclass
from typing import List, Optional, Union


@dataclass(frozen=True)
class Port:
    """A port a device may be reached on."""
    name: str          #: what Device() takes: /dev/ttyACM0, COM7, a path
    description: str   #: the host's name for the device, or the port name
    slot: str          #: where it is plugged in (the USB path, such as "1-1.4"), or the port name


@dataclass(frozen=True)
class DeviceIdentity:
    family_id: int
    device_id: int
    protocol_version: int
    firmware_version: int
    first_text: str
    second_text: str


@dataclass(frozen=True)
class Entry:
    """One entry of a device folder; size, writable and modified only from ls(long=True)."""
    name: str
    is_folder: bool
    size: Optional[int] = None
    writable: Optional[bool] = None
    modified: Optional[datetime.datetime] = None


@dataclass(frozen=True)
class Notification:
    """Something the device said on its own: kind "event" (id, argument as value) or
    "property" (path, id, and an int or str value)."""
    kind: str
    path: List[int]
    id: int
    value: Union[int, str]


class PortError(Exception):
    """No port, several ports, or a port that can't be opened (busy, missing, no permission)."""

    def __init__(self, message: str, port: str = ""):
        super().__init__(message)
        self.port = port


class DeviceError(Exception):
    """The device refused or failed an operation; the message is the log's text."""

    def __init__(self, message: str, path: str = ""):
        super().__init__(message)
        self.path = path


class TransferCancelled(KeyboardInterrupt):
    """Ctrl-C stopped a transfer after its current block: nothing was left half-written."""

    def __init__(self, message: str, path: str = ""):
        super().__init__(message)
        self.path = path
