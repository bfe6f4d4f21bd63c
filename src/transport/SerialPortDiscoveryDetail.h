#pragma once

#include "transport/SerialPortDiscovery.h"

/** The pieces of findSerialPorts: a native enumeration (SerialPortDiscovery_windows.cpp,
    SerialPortDiscovery_linux.cpp) and the filtering, shared by both. */
namespace serial
{
/** One serial-port device as the host describes it. */
struct DiscoveredPort
{
    juce::String friendlyName;   // what the operator sees
    juce::String hardwareId;     // Windows form: USB\Vid_5E1D&Pid_0B47&Rev_0100
    juce::String portName;       // what SerialPort::open takes: COM7, /dev/ttyACM0
    juce::String location;       // where it is plugged in (Linux: the USB path, "1-1.4"); may be empty
    juce::String serialNumber;   // the USB device's serial number; may be empty
};

/** The environment variable naming extra ports, separated by ';'. */
constexpr const char* extraPortsVariable = "USB_FILE_UTILITY_PORTS";

/** findSerialPorts' result for the given devices (in enumeration order) and the text of
    the extra-ports variable. Logs "Ignoring " + id for each device the filter drops. */
juce::StringPairArray buildPortList (const juce::Array<DiscoveredPort>& devices, int filterIndex,
                                     const juce::String& extraPortNames, bool logIgnored = true);

/** The serial-port devices present now, in the host's order. Blocks while it looks. */
juce::Array<DiscoveredPort> enumeratePortDevices();
} // namespace serial
