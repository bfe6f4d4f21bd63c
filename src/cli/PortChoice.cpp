#include "cli/PortChoice.h"
#include "cli/Console.h"
#include "transport/SerialPortDiscovery.h"

juce::StringPairArray PortChoice::listPorts()
{
    return findSerialPorts (1);
}

juce::String PortChoice::choose (const juce::String& requested, Console& console)
{
    const auto ports = listPorts();
    const auto names = ports.getAllKeys();
    const auto portNames = ports.getAllValues();

    if (requested.isNotEmpty())
    {
        for (int i = 0; i < ports.size(); ++i)
            if (names[i].equalsIgnoreCase (requested) || portNames[i].equalsIgnoreCase (requested))
                return portNames[i];

        return requested;
    }

    if (ports.size() == 1)
        return portNames[0];

    if (ports.size() == 0)
    {
        console.error ("No device port found: attach the device, or name the port with --port "
                       "or in USB_FILE_UTILITY_PORTS");
        return {};
    }

    console.error ("Several ports found; choose one with --port:");

    for (int i = 0; i < ports.size(); ++i)
        console.error ("  " + portNames[i] + (names[i] != portNames[i] ? "  (" + names[i] + ")" : juce::String()));

    return {};
}
