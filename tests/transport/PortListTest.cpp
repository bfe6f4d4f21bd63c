// Which discovered ports are offered, whatever the platform found them with.
#include "transport/SerialPortDiscoveryDetail.h"
#include "support/CapturingLogger.h"

#include <gtest/gtest.h>

namespace
{
const juce::String deviceId = "USB\\Vid_5E1D&Pid_0B47&Rev_0100";

serial::DiscoveredPort port (const juce::String& friendlyName, const juce::String& hardwareId, const juce::String& portName)
{
    return { friendlyName, hardwareId, portName, {}, {} };
}

const juce::Array<serial::DiscoveredPort> mixedDevices {
    port ("Device Port", deviceId, "COM7"),
    port ("Lower Case Device", "usb\\vid_5e1d&pid_0b47&rev_0100", "COM8"),
    port ("Newer Revision", "USB\\Vid_5E1D&Pid_0B47&Rev_0200", "COM9"),
    port ("Longer Id", deviceId + "&MI_00", "COM10"),
    port ("Communications Port", "ACPI\\PNP0501", "COM1")
};
} // namespace

TEST (PortList, OnlyTheDevicesWholeIdMatchesAndTheOthersAreLogged)
{
    CapturingLogger logger;
    const auto ports = serial::buildPortList (mixedDevices, 1, {});

    EXPECT_EQ (ports.getAllKeys(), juce::StringArray ({ "Device Port", "Lower Case Device" }));
    EXPECT_EQ (ports["Device Port"], "COM7");
    EXPECT_EQ (ports["Lower Case Device"], "COM8");
    EXPECT_EQ (logger.getLines(), juce::StringArray ("Ignoring USB\\Vid_5E1D&Pid_0B47&Rev_0200",
                                                      "Ignoring " + deviceId + "&MI_00",
                                                      "Ignoring ACPI\\PNP0501"));
}

TEST (PortList, WithoutALoggerIgnoredDevicesAreDroppedQuietly)
{
    ASSERT_EQ (ILogger::instance(), nullptr);
    EXPECT_EQ (serial::buildPortList (mixedDevices, 1, {}).size(), 2);
}

TEST (PortList, FilterZeroListsEveryDeviceWithoutLogging)
{
    CapturingLogger logger;
    const auto ports = serial::buildPortList (mixedDevices, 0, {});

    EXPECT_EQ (ports.size(), mixedDevices.size());
    EXPECT_EQ (ports["Communications Port"], "COM1");
    EXPECT_TRUE (logger.getLines().isEmpty());
}

TEST (PortList, ALaterDeviceWithTheSameFriendlyNameReplacesTheEarlierOne)
{
    const auto ports = serial::buildPortList ({ port ("USB Serial", deviceId, "COM3"),
                                                port ("Other", deviceId, "COM4"),
                                                port ("usb serial", deviceId, "COM5") }, 1, {});

    EXPECT_EQ (ports.getAllKeys(), juce::StringArray ({ "USB Serial", "Other" }));
    EXPECT_EQ (ports["USB SERIAL"], "COM5");
}

TEST (PortList, ExtraPortsFollowTheDiscoveredOnesUnderTheirOwnNames)
{
    for (int filterIndex : { 0, 1 })
    {
        const auto ports = serial::buildPortList ({ port ("Device Port", deviceId, "COM7") }, filterIndex,
                                                  " /dev/pts/7;COM9;; ;COM9");

        EXPECT_EQ (ports.getAllKeys(), juce::StringArray ({ "Device Port", "/dev/pts/7", "COM9" }));
        EXPECT_EQ (ports["/dev/pts/7"], "/dev/pts/7");
        EXPECT_EQ (ports["COM9"], "COM9");
    }

    EXPECT_EQ (serial::buildPortList ({}, 1, {}).size(), 0);
}
