#include "device/PortChoice.h"
#include "transport/SerialPortDiscovery.h"

namespace
{
/** The ports, with their slots only when asked for: finding them walks the devices again,
    which choosing a port doesn't need. */
juce::Array<AvailablePort> findPorts (bool withSlots, bool logIgnored = true)
{
    const auto ports = findSerialPorts (1, logIgnored);
    const auto details = withSlots ? findPortDetails() : std::map<juce::String, PortDetails>();
    juce::Array<AvailablePort> available;

    for (int i = 0; i < ports.size(); ++i)
    {
        const auto portName = ports.getAllValues()[i];

        // A named path that isn't there (a device link that has gone) is no port.
        if (! PortChoice::isThere (portName))
            continue;

        const auto found = details.find (portName);
        const auto detail = found != details.end() ? found->second : PortDetails();
        available.add ({ portName, ports.getAllKeys()[i], detail.location.isNotEmpty() ? detail.location : portName,
                         detail.serialNumber });
    }

    return available;
}
} // namespace

bool PortChoice::isThere (const juce::String& portName)
{
    return ! juce::File::isAbsolutePath (portName) || juce::File (portName).exists();
}

juce::Array<AvailablePort> PortChoice::listPorts (bool logIgnored)
{
    return findPorts (true, logIgnored);
}

AvailablePort PortChoice::describe (const juce::String& portName)
{
    for (const auto& port : findPorts (true, false))
        if (port.portName == portName)
            return port;

    return { portName, portName, portName, {} };
}

juce::String PortChoice::choose (const juce::String& requested, juce::StringArray& problem)
{
    const auto ports = findPorts (false);

    if (requested.isNotEmpty())
    {
        for (const auto& port : ports)
            if (port.description.equalsIgnoreCase (requested) || port.portName.equalsIgnoreCase (requested))
                return port.portName;

        // A USB serial number names the same unit wherever it is plugged in.
        for (const auto& port : findPorts (true, false))
            if (port.usbSerial.isNotEmpty() && port.usbSerial == requested)
                return port.portName;

        return requested;
    }

    if (ports.size() == 1)
        return ports.getReference (0).portName;

    if (ports.isEmpty())
    {
        problem.add ("No device port found: attach the device, or name the port with --port "
                     "or in USB_FILE_UTILITY_PORTS");
        return {};
    }

    problem.add ("Several ports found; choose one with --port:");

    for (const auto& port : ports)
        problem.add ("  " + port.portName + (port.description != port.portName ? "  (" + port.description + ")" : juce::String()));

    return {};
}
