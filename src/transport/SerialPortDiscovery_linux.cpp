// Port discovery on Linux: a walk of sysfs from each tty up to the USB device it belongs to.
#include "transport/SerialPortDiscoveryLinux.h"

#include <climits>
#include <cstdlib>

namespace serial
{
namespace
{
/** The path with every symbolic link resolved, or an empty File when it doesn't exist. */
juce::File resolvePath (const juce::File& file)
{
    char resolved[PATH_MAX];

    if (::realpath (file.getFullPathName().toRawUTF8(), resolved) == nullptr)
        return {};

    return juce::File (juce::CharPointer_UTF8 (resolved));
}

juce::String readAttribute (const juce::File& deviceFolder, const char* name)
{
    return deviceFolder.getChildFile (name).loadFileAsString().trim();
}

/** The nearest folder at or above deviceFolder, inside root, that describes a USB device. */
juce::File findUsbDevice (juce::File deviceFolder, const juce::File& root)
{
    for (; deviceFolder.isAChildOf (root); deviceFolder = deviceFolder.getParentDirectory())
        if (deviceFolder.getChildFile ("idVendor").existsAsFile()
             && deviceFolder.getChildFile ("idProduct").existsAsFile())
            return deviceFolder;

    return {};
}
} // namespace

juce::Array<DiscoveredPort> enumerateUsbSerialPorts (const juce::File& sysfsRoot)
{
    juce::Array<DiscoveredPort> ports;
    const auto root = resolvePath (sysfsRoot);

    if (root == juce::File())
        return ports;

    juce::StringArray ttyNames;

    for (const auto& tty : root.getChildFile ("class/tty").findChildFiles (juce::File::findDirectories, false))
        ttyNames.add (tty.getFileName());

    ttyNames.sortNatural();

    for (const auto& ttyName : ttyNames)
    {
        const auto device = resolvePath (root.getChildFile ("class/tty").getChildFile (ttyName).getChildFile ("device"));

        if (device == juce::File())
            continue;   // a virtual terminal: no device behind it

        const auto usbDevice = findUsbDevice (device, root);

        if (usbDevice == juce::File())
            continue;

        const auto product = readAttribute (usbDevice, "product");

        DiscoveredPort port;
        port.hardwareId = "USB\\Vid_" + readAttribute (usbDevice, "idVendor").toUpperCase()
                        + "&Pid_" + readAttribute (usbDevice, "idProduct").toUpperCase()
                        + "&Rev_" + readAttribute (usbDevice, "bcdDevice").toUpperCase();
        port.friendlyName = product.isEmpty() ? ttyName : product + " (" + ttyName + ")";
        port.portName = "/dev/" + ttyName;
        port.location = usbDevice.getFileName();
        port.serialNumber = readAttribute (usbDevice, "serial");
        ports.add (port);
    }

    return ports;
}

juce::Array<DiscoveredPort> enumeratePortDevices()
{
    // USB_FILE_UTILITY_SYSFS stands in for /sys, so that a made-up device tree can be
    // offered to the programs themselves (their tests do).
    const auto root = juce::SystemStats::getEnvironmentVariable ("USB_FILE_UTILITY_SYSFS", "/sys");
    return enumerateUsbSerialPorts (juce::File (root));
}
} // namespace serial
