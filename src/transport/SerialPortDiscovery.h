#pragma once

#include <juce_core/juce_core.h>

/** Finds the serial ports present on the host. filterIndex 0 lists every port device;
    1 only those whose first hardware id is the device's (compared without regard to
    case, as a whole). Ports of other devices are logged as "Ignoring " + their id.
    Returns friendly name -> port name, keys compared without regard to case (a later
    device with the same friendly name replaces the earlier one). The ports named in the
    environment variable USB_FILE_UTILITY_PORTS (separated by ';') follow the discovered
    ones, each under its own name. Blocks until the enumeration is done. Without
    logIgnored the ports of other devices go unmentioned (for a watch that looks often). */
juce::StringPairArray findSerialPorts (int filterIndex, bool logIgnored = true);

/** Where each discovered port is plugged in: port name -> location (on Linux the USB path
    from sysfs, such as "1-1.4"). Ports whose location the host doesn't tell are absent.
    Blocks until the enumeration is done. */
juce::StringPairArray findPortLocations();
