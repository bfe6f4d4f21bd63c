// Port discovery on Windows: the present devices of the ports setup class, through SetupAPI.
#include "transport/SerialPortDiscoveryDetail.h"
#include "transport/WindowsHeaders.h"
#include <setupapi.h>

namespace serial
{
namespace
{
// The ports (COM & LPT) device setup class.
const GUID portsClassGuid = { 0x4D36E978, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };

constexpr DWORD textBufferSize = 1024;

/** Text in the ANSI code page, up to its first zero or the end of the buffer. */
juce::String fromAnsi (const char* text, size_t bufferSize)
{
    const auto length = (int) strnlen (text, bufferSize);

    if (length == 0)
        return {};

    const int wideLength = MultiByteToWideChar (CP_ACP, 0, text, length, nullptr, 0);
    juce::HeapBlock<wchar_t> wide ((size_t) wideLength + 1, true);
    MultiByteToWideChar (CP_ACP, 0, text, length, wide.get(), wideLength);
    return juce::String (wide.get());
}

/** A device registry property as text; empty when it can't be read. A list of strings
    (the hardware ids) gives its first entry. */
juce::String readProperty (HDEVINFO deviceList, SP_DEVINFO_DATA& device, DWORD property)
{
    char buffer[textBufferSize] = {};

    if (! SetupDiGetDeviceRegistryPropertyA (deviceList, &device, property, nullptr,
                                             reinterpret_cast<PBYTE> (buffer), textBufferSize, nullptr))
        return {};

    return fromAnsi (buffer, sizeof (buffer));
}

juce::String readPortName (HKEY deviceKey)
{
    char buffer[textBufferSize] = {};
    DWORD size = textBufferSize;

    if (RegQueryValueExA (deviceKey, "PortName", nullptr, nullptr, reinterpret_cast<LPBYTE> (buffer), &size) != ERROR_SUCCESS)
        return {};

    return fromAnsi (buffer, juce::jmin ((size_t) size, sizeof (buffer)));
}
} // namespace

juce::Array<DiscoveredPort> enumeratePortDevices()
{
    juce::Array<DiscoveredPort> ports;
    const auto deviceList = SetupDiGetClassDevsA (&portsClassGuid, nullptr, nullptr, DIGCF_PRESENT);

    if (deviceList == INVALID_HANDLE_VALUE)
        return ports;

    for (DWORD index = 0;; ++index)
    {
        SP_DEVINFO_DATA device;
        memset (&device, 0, sizeof (device));
        device.cbSize = sizeof (device);   // 28 bytes in 32-bit programs, 32 in 64-bit ones

        if (! SetupDiEnumDeviceInfo (deviceList, index, &device))
            break;

        DiscoveredPort port;
        port.friendlyName = readProperty (deviceList, device, SPDRP_FRIENDLYNAME);
        port.hardwareId = readProperty (deviceList, device, SPDRP_HARDWAREID);
        // Where it is plugged in, as the system reports it ("Port_#0003.Hub_#0001").
        port.location = readProperty (deviceList, device, SPDRP_LOCATION_INFORMATION);

        const auto deviceKey = SetupDiOpenDevRegKey (deviceList, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);

        if (deviceKey == reinterpret_cast<HKEY> (INVALID_HANDLE_VALUE))
            continue;   // no device key: not a usable port

        port.portName = readPortName (deviceKey);
        RegCloseKey (deviceKey);
        ports.add (port);
    }

    SetupDiDestroyDeviceInfoList (deviceList);
    return ports;
}
} // namespace serial
