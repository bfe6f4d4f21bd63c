// The Windows side of the port: what open and configure leave in the driver, and SetupAPI
// discovery, under Wine with COM ports that are pseudo-terminals.
#include "transport/SerialPortDiscovery.h"
#include "transport/SerialPort.h"
#include "transport/SerialPortPeer.h"
#include "transport/WindowsHeaders.h"

#include <gtest/gtest.h>

namespace
{
class WindowsPortTest : public ::testing::Test
{
protected:
    void SetUp() override  { ASSERT_TRUE (peer.isReady()) << "run scripts/windows-tests.sh"; }

    SerialPortPeer peer;
    const SerialPortSettings settings;
};
} // namespace

TEST_F (WindowsPortTest, TheDevicePathIsTheNameAfterTheDevicePrefix)
{
    SerialPort port (peer.getPortName(), settings);
    EXPECT_TRUE (port.isOpen());
    EXPECT_EQ (port.getDevicePath(), "\\\\.\\" + peer.getPortName());

    SerialPort unnamed ({}, settings);
    EXPECT_FALSE (unnamed.isOpen());
    EXPECT_EQ (unnamed.getHandle(), nullptr);
    EXPECT_EQ (unnamed.getDevicePath(), "\\\\.\\");
}

TEST_F (WindowsPortTest, OpenSetsTheReadTimeOutsAndConfigureTheLine)
{
    SerialPort port (peer.getPortName(), settings);
    ASSERT_TRUE (port.isOpen());

    COMMTIMEOUTS timeouts {};
    ASSERT_TRUE (GetCommTimeouts (port.getHandle(), &timeouts));
    // Under Wine, which doesn't implement the first combination, a 1 ms interval stands in.
    const bool underWine = GetProcAddress (GetModuleHandleA ("ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_EQ (timeouts.ReadIntervalTimeout, underWine ? 1u : MAXDWORD);
    EXPECT_EQ (timeouts.ReadTotalTimeoutMultiplier, underWine ? 0u : MAXDWORD);
    EXPECT_EQ (timeouts.ReadTotalTimeoutConstant, 10000u);
    EXPECT_EQ (timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ (timeouts.WriteTotalTimeoutConstant, 0u);

    DCB dcb {};
    dcb.DCBlength = sizeof (dcb);
    ASSERT_TRUE (GetCommState (port.getHandle(), &dcb));
    EXPECT_EQ (dcb.BaudRate, 115200u);
    EXPECT_EQ (dcb.ByteSize, 8);
    EXPECT_EQ (dcb.Parity, NOPARITY);
    EXPECT_EQ (dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ (dcb.fOutxCtsFlow, 1u);

    // A pseudo-terminal keeps no parity setting, so parity can't be read back here.
    SerialPortSettings slower;
    slower.baudRate = 9600;
    slower.stopBits = 2;
    ASSERT_TRUE (port.configure (slower));
    ASSERT_TRUE (GetCommState (port.getHandle(), &dcb));
    EXPECT_EQ (dcb.BaudRate, 9600u);
    EXPECT_EQ (dcb.StopBits, TWOSTOPBITS);
}

namespace
{
/** Closes a port on a thread of its own, as the message thread does under the streams. */
class PortCloser : public juce::Thread
{
public:
    explicit PortCloser (SerialPort& portToClose) : juce::Thread ("PortCloser"), port (portToClose)  { startThread(); }
    ~PortCloser() override  { stopThread (5000); }

    void run() override
    {
        port.close();
        closed.signal();
    }

    SerialPort& port;
    juce::WaitableEvent closed { true };
};
} // namespace

// A stream thread's call on the handle must finish before the handle's value is freed,
// which Windows may give to the next object opened.
TEST_F (WindowsPortTest, CloseWaitsForAnIoCallInProgressAndNoCallStartsAfterIt)
{
    SerialPort port (peer.getPortName(), settings);
    ASSERT_TRUE (port.isOpen());

    std::unique_ptr<PortCloser> closer;
    auto callInProgress = std::make_unique<SerialPort::IoLease> (port);
    ASSERT_TRUE (static_cast<bool> (*callInProgress));
    const auto handle = callInProgress->getHandle();

    closer = std::make_unique<PortCloser> (port);
    ASSERT_TRUE (waitUntil ([&] { return ! port.isOpen(); }));
    EXPECT_FALSE (closer->closed.wait (300));
    EXPECT_FALSE (static_cast<bool> (SerialPort::IoLease (port)));

    DCB dcb {};
    dcb.DCBlength = sizeof (dcb);
    EXPECT_TRUE (GetCommState (handle, &dcb));

    callInProgress.reset();
    EXPECT_TRUE (closer->closed.wait (5000));
}

TEST (WindowsPortDiscovery, EnumerationEndsCleanlyAndTheEnvironmentsPortsFollow)
{
    ASSERT_TRUE (SetEnvironmentVariableA ("USB_FILE_UTILITY_PORTS", "COM9;COM12"));
    const auto devicePorts = findSerialPorts (1);
    const auto allPorts = findSerialPorts (0);
    SetEnvironmentVariableA ("USB_FILE_UTILITY_PORTS", nullptr);

    for (const auto* ports : { &devicePorts, &allPorts })
    {
        const auto names = ports->getAllKeys();
        ASSERT_GE (names.size(), 2);
        EXPECT_EQ (names[names.size() - 2], "COM9");
        EXPECT_EQ (names[names.size() - 1], "COM12");
        EXPECT_EQ ((*ports)["COM12"], "COM12");
    }

    EXPECT_GE (allPorts.size(), devicePorts.size());
}
