#include "transport/SerialPortPeer.h"
#include "transport/WindowsHeaders.h"

namespace
{
HANDLE openComPort (const juce::String& name)
{
    return CreateFileA (("\\\\.\\" + name).toRawUTF8(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, 0, nullptr);
}

bool isRunningUnderWine()
{
    const auto ntdll = GetModuleHandleA ("ntdll.dll");
    return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
}

/** Drops bytes an earlier test left in the port's buffers. */
void purgePort (const juce::String& name)
{
    const auto port = openComPort (name);

    if (port != INVALID_HANDLE_VALUE)
    {
        PurgeComm (port, PURGE_RXCLEAR | PURGE_TXCLEAR);
        CloseHandle (port);
    }
}
} // namespace

struct SerialPortPeer::Native
{
    HANDLE device = INVALID_HANDLE_VALUE;
    juce::String portUnderTest;
};

SerialPortPeer::SerialPortPeer() : native (std::make_unique<Native>())
{
    const auto portName = juce::SystemStats::getEnvironmentVariable ("USB_TEST_SERIAL_PORT", {});
    const auto peerName = juce::SystemStats::getEnvironmentVariable ("USB_TEST_SERIAL_PEER", {});

    if (portName.isEmpty() || peerName.isEmpty())
        return;

    purgePort (portName);
    native->device = openComPort (peerName);

    if (native->device == INVALID_HANDLE_VALUE)
        return;

    DCB dcb;
    memset (&dcb, 0, sizeof (dcb));
    dcb.DCBlength = sizeof (dcb);
    GetCommState (native->device, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = 0;
    SetCommState (native->device, &dcb);

    // Reads return what is there, or wait up to 100 ms for the first byte.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutConstant = 5000;
    SetCommTimeouts (native->device, &timeouts);
    PurgeComm (native->device, PURGE_RXCLEAR | PURGE_TXCLEAR);

    native->portUnderTest = portName;
}

SerialPortPeer::~SerialPortPeer()
{
    if (native->device != INVALID_HANDLE_VALUE)
        CloseHandle (native->device);
}

bool SerialPortPeer::isReady() const noexcept
{
    return native->portUnderTest.isNotEmpty();
}

juce::String SerialPortPeer::getPortName() const
{
    return native->portUnderTest;
}

bool SerialPortPeer::send (const void* data, size_t count)
{
    DWORD written = 0;
    return WriteFile (native->device, data, (DWORD) count, &written, nullptr) && written == count;
}

juce::MemoryBlock SerialPortPeer::receive (size_t count, int timeoutMs)
{
    juce::MemoryBlock received;
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    char buffer[4096];

    while (received.getSize() < count && juce::Time::getMillisecondCounter() < deadline)
    {
        DWORD got = 0;

        if (! ReadFile (native->device, buffer, (DWORD) juce::jmin (sizeof (buffer), count - received.getSize()), &got, nullptr))
            break;

        received.append (buffer, got);
    }

    return received;
}

std::unique_ptr<SerialPort> SerialPortPeer::openPortForReading (const SerialPortSettings& settings) const
{
    return std::make_unique<SerialPort> (getPortName(), settings);
}

bool SerialPortPeer::hostRefusesSecondOpen() const
{
    return ! isRunningUnderWine();
}
