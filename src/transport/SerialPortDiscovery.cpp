// Which discovered ports findSerialPorts offers, and under which names.
#include "transport/SerialPortDiscoveryDetail.h"
#include "base/ILogger.h"

namespace serial
{
namespace
{
// Indexed by the filter index. Index 0 lists every device; its text is never compared.
constexpr const char* portFilters[] = { "All Devices", "USB\\Vid_5E1D&Pid_0B47&Rev_0100" };
constexpr int numPortFilters = (int) std::size (portFilters);
} // namespace

juce::StringPairArray buildPortList (const juce::Array<DiscoveredPort>& devices, int filterIndex,
                                     const juce::String& extraPortNames, bool logIgnored)
{
    // Keys are friendly names, compared without regard to case; a later device replaces
    // an earlier one of the same name.
    juce::StringPairArray ports (true);

    // An index outside the table is a programming error; it lists no device.
    jassert (filterIndex >= 0 && filterIndex < numPortFilters);
    const bool knownFilter = filterIndex >= 0 && filterIndex < numPortFilters;

    for (const auto& device : devices)
    {
        if (filterIndex == 0 || (knownFilter && device.hardwareId.equalsIgnoreCase (portFilters[filterIndex])))
            ports.set (device.friendlyName, device.portName);
        else if (logIgnored)
            logLine ("Ignoring " + device.hardwareId);
    }

    for (const auto& token : juce::StringArray::fromTokens (extraPortNames, ";", {}))
    {
        const auto name = token.trim();

        if (name.isNotEmpty())
            ports.set (name, name);
    }

    return ports;
}
} // namespace serial

juce::StringPairArray findSerialPorts (int filterIndex, bool logIgnored)
{
    return serial::buildPortList (serial::enumeratePortDevices(), filterIndex,
                                  juce::SystemStats::getEnvironmentVariable (serial::extraPortsVariable, {}), logIgnored);
}

std::map<juce::String, PortDetails> findPortDetails()
{
    std::map<juce::String, PortDetails> details;

    for (const auto& device : serial::enumeratePortDevices())
        details[device.portName] = { device.location, device.serialNumber };

    return details;
}
