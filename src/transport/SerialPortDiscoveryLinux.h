#pragma once

#include "transport/SerialPortDiscoveryDetail.h"

namespace serial
{
/** The USB serial ports under a sysfs tree (normally "/sys"): each tty in class/tty whose
    device sits below a USB device, with a Windows-form hardware id built from that USB
    device's idVendor, idProduct and bcdDevice, the friendly name "<product> (<tty>)" and
    the port name /dev/<tty>. Other ttys (consoles, on-board UARTs) are not listed. Sorted
    by tty name. */
juce::Array<DiscoveredPort> enumerateUsbSerialPorts (const juce::File& sysfsRoot);
} // namespace serial
