// The doctor's checks on Windows: the device's COM port among the present ports, and
// whether it can be opened (another program holding it gives "Access denied").
#include "cli/Doctor.h"
#include "transport/SerialPortDiscovery.h"
#include "transport/WindowsHeaders.h"

namespace
{
Doctor::Check checkPort (const juce::String& portName)
{
    const auto path = portName.startsWith ("\\\\.\\") ? portName : "\\\\.\\" + portName;
    const auto handle = CreateFileA (path.toRawUTF8(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED, nullptr);

    if (handle != INVALID_HANDLE_VALUE)
    {
        CloseHandle (handle);
        return { "port", true, portName + " is present and free.", {} };
    }

    const auto error = GetLastError();

    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return { "port", false, portName + " is in use by another program (access denied).",
                 "Close the program that holds " + portName + " (a terminal program, another copy of this tool)." };

    return { "port", false, portName + " can't be opened (error " + juce::String ((int) error) + ").",
             "Check the name in the Device Manager under \"Ports (COM & LPT)\", or plug the device in." };
}
} // namespace

std::vector<Doctor::Check> Doctor::run (const juce::String& portName) const
{
    std::vector<Check> checks;
    const auto ports = findSerialPorts (1);

    if (ports.size() == 0)
        checks.push_back ({ "device", false, "No device with the USB id 5E1D:0B47 is present.",
                            "Plug the device in; the Device Manager shows it under \"Ports (COM & LPT)\"." });
    else
        checks.push_back ({ "device", true, "The device is present: " + ports.getAllKeys().joinIntoString (", ") + ".", {} });

    auto toCheck = ports.getAllValues();

    if (portName.isNotEmpty())
        toCheck.addIfNotAlreadyThere (portName);

    for (const auto& port : toCheck)
        checks.push_back (checkPort (port));

    return checks;
}
