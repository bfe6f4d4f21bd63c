#pragma once

#include <juce_core/juce_core.h>

/** One port a device may be reached on. */
struct AvailablePort
{
    juce::String portName;      ///< what opening takes: COM7, /dev/ttyACM0, a path
    juce::String description;   ///< the host's name for the device, or the port name
    juce::String slot;          ///< where it is plugged in (the USB path), or the port name
    juce::String usbSerial;     ///< the USB device's serial number, where the host reports one

    bool operator== (const AvailablePort& other) const noexcept     { return portName == other.portName; }
};

/** Which port to open. A requested name may be a discovered device's name, one of the
    listed port names, a discovered device's USB serial number, or any port path, used as
    it is. Without one, the only port there
    is is taken; none or several is an error. */
namespace PortChoice
{
    /** Discovered devices first, then the ports named in USB_FILE_UTILITY_PORTS (a path
        only when it exists). Without logIgnored the ports of other devices go unmentioned. */
    juce::Array<AvailablePort> listPorts (bool logIgnored = true);

    /** False for a port path that doesn't exist; other names (COM7) can't be told. */
    bool isThere (const juce::String& portName);

    /** The port as listPorts gives it (its slot and USB serial number), or with its own
        name as slot when it isn't listed. */
    AvailablePort describe (const juce::String& portName);

    /** The port to open; empty when there is none to choose, and then problem holds the
        lines that say why (and, for several, which there are). */
    juce::String choose (const juce::String& requested, juce::StringArray& problem);
}
