#pragma once

#include <juce_core/juce_core.h>

#include <map>

/** Finds the serial ports present on the host. filterIndex 0 lists every port device;
    1 only those whose first hardware id is the device's (compared without regard to
    case, as a whole). Ports of other devices are logged as "Ignoring " + their id.
    Returns friendly name -> port name, keys compared without regard to case (a later
    device with the same friendly name replaces the earlier one). The ports named in the
    environment variable USB_FILE_UTILITY_PORTS (separated by ';') follow the discovered
    ones, each under its own name. Blocks until the enumeration is done. Without
    logIgnored the ports of other devices go unmentioned (for a watch that looks often). */
juce::StringPairArray findSerialPorts (int filterIndex, bool logIgnored = true);

/** What the host tells of a discovered port's device beyond its name. */
struct PortDetails
{
    juce::String location;       ///< where it is plugged in (Linux: the USB path from sysfs, "1-1.4")
    juce::String serialNumber;   ///< the USB device's serial number, where the host reports one
};

/** The details of each discovered port, by port name. Blocks until the enumeration is done. */
std::map<juce::String, PortDetails> findPortDetails();
