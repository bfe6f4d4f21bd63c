// Port discovery on Linux, against sysfs trees built in a temporary folder with the
// layout the kernel uses.
#include "transport/SerialPortDiscoveryLinux.h"
#include "support/CapturingLogger.h"

#include <gtest/gtest.h>

namespace
{
class FakeSysfs
{
public:
    FakeSysfs()   { root.createDirectory(); }
    ~FakeSysfs()  { root.deleteRecursively(); }

    /** A USB device with one serial interface. A USB-serial adapter (ttyUSB) puts a port
        folder between the interface and the tty; a CDC-ACM device (ttyACM) doesn't. */
    void addUsbPort (const juce::String& ttyName, const juce::String& usbPath, const juce::String& vendor,
                     const juce::String& product, const juce::String& revision, const juce::String& productName)
    {
        const auto usbDevice = root.getChildFile ("devices/pci0000:00/0000:00:14.0/usb1/" + usbPath);
        ASSERT_TRUE (usbDevice.createDirectory());
        writeAttribute (usbDevice, "idVendor", vendor);
        writeAttribute (usbDevice, "idProduct", product);
        writeAttribute (usbDevice, "bcdDevice", revision);

        if (productName.isNotEmpty())
            writeAttribute (usbDevice, "product", productName);

        writeAttribute (usbDevice, "serial", "SN-" + usbPath);

        auto device = usbDevice.getChildFile (usbPath + ":1.0");

        if (ttyName.startsWith ("ttyUSB"))
            device = device.getChildFile (ttyName);

        addTty (ttyName, device, device.getChildFile ("tty/" + ttyName));
    }

    /** A tty whose device is not on USB, or (device File()) a virtual one. */
    void addTty (const juce::String& ttyName, const juce::File& device, const juce::File& classFolder)
    {
        ASSERT_TRUE (classFolder.createDirectory());

        if (device != juce::File())
        {
            ASSERT_TRUE (device.createDirectory());
            ASSERT_TRUE (device.createSymbolicLink (classFolder.getChildFile ("device"), false));
        }

        const auto classTty = root.getChildFile ("class/tty");
        ASSERT_TRUE (classTty.createDirectory());
        ASSERT_TRUE (classFolder.createSymbolicLink (classTty.getChildFile (ttyName), false));
    }

    juce::Array<serial::DiscoveredPort> enumerate() const  { return serial::enumerateUsbSerialPorts (root); }

    // A random name, as parallel test processes would all pick the same "next free" one.
    const juce::File root = juce::File::createTempFile ("fake-sysfs");

private:
    static void writeAttribute (const juce::File& folder, const char* name, const juce::String& value)
    {
        ASSERT_TRUE (folder.getChildFile (name).replaceWithText (value + "\n"));
    }
};
} // namespace

TEST (SysfsDiscovery, TheDevicesPortIsFoundByItsLowerCaseIds)
{
    FakeSysfs sysfs;
    sysfs.addUsbPort ("ttyACM0", "1-2", "5e1d", "0b47", "0100", "USB Serial Device");

    const auto devices = sysfs.enumerate();
    ASSERT_EQ (devices.size(), 1);
    EXPECT_EQ (devices[0].hardwareId, "USB\\Vid_5E1D&Pid_0B47&Rev_0100");
    EXPECT_EQ (devices[0].friendlyName, "USB Serial Device (ttyACM0)");
    EXPECT_EQ (devices[0].portName, "/dev/ttyACM0");
    EXPECT_EQ (devices[0].location, "1-2");   // where it is plugged in: the USB path
    EXPECT_EQ (devices[0].serialNumber, "SN-1-2");

    const auto ports = serial::buildPortList (devices, 1, {});
    EXPECT_EQ (ports.getAllKeys(), juce::StringArray ({ "USB Serial Device (ttyACM0)" }));
    EXPECT_EQ (ports["USB Serial Device (ttyACM0)"], "/dev/ttyACM0");
}

TEST (SysfsDiscovery, OtherUsbSerialPortsAreIgnoredWithALogLine)
{
    FakeSysfs sysfs;
    sysfs.addUsbPort ("ttyACM0", "1-2", "5e1d", "0b47", "0200", "USB Serial Device");
    sysfs.addUsbPort ("ttyUSB0", "1-3", "0403", "6001", "0600", "FT232R USB UART");

    CapturingLogger logger;
    EXPECT_EQ (serial::buildPortList (sysfs.enumerate(), 1, {}).size(), 0);
    EXPECT_EQ (logger.getLines(), juce::StringArray ({ "Ignoring USB\\Vid_5E1D&Pid_0B47&Rev_0200",
                                                       "Ignoring USB\\Vid_0403&Pid_6001&Rev_0600" }));

    logger.clear();
    const auto all = serial::buildPortList (sysfs.enumerate(), 0, {});
    EXPECT_EQ (all["FT232R USB UART (ttyUSB0)"], "/dev/ttyUSB0");
    EXPECT_EQ (all.size(), 2);
    EXPECT_TRUE (logger.getLines().isEmpty());
}

TEST (SysfsDiscovery, OnlyTtysOnUsbAreListedInNaturalOrder)
{
    FakeSysfs sysfs;
    sysfs.addUsbPort ("ttyACM10", "1-4", "5e1d", "0b47", "0100", "USB Serial Device");
    sysfs.addUsbPort ("ttyACM2", "1-2", "5e1d", "0b47", "0100", {});
    sysfs.addUsbPort ("ttyUSB0", "1-3", "0403", "6001", "0600", "FT232R USB UART");

    const auto platform = sysfs.root.getChildFile ("devices/platform/serial8250");
    sysfs.addTty ("ttyS0", platform, platform.getChildFile ("tty/ttyS0"));
    sysfs.addTty ("tty1", {}, sysfs.root.getChildFile ("devices/virtual/tty/tty1"));

    juce::StringArray portNames, friendlyNames;

    for (const auto& device : sysfs.enumerate())
    {
        portNames.add (device.portName);
        friendlyNames.add (device.friendlyName);
    }

    EXPECT_EQ (portNames, juce::StringArray ({ "/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyUSB0" }));
    EXPECT_EQ (friendlyNames[0], "ttyACM2");   // a device without a product string
}

TEST (SysfsDiscovery, AMissingTreeHasNoPorts)
{
    EXPECT_TRUE (serial::enumerateUsbSerialPorts (juce::File ("/nonexistent/sysfs")).isEmpty());

    FakeSysfs empty;
    EXPECT_TRUE (empty.enumerate().isEmpty());
}
