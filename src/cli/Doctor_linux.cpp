// The doctor's checks on Linux: sysfs for the device and its tty, the device node's owner
// and mode for access, udev's database and rule folders for the udev rule, /proc for
// ModemManager and for other processes holding the port.
#include "cli/Doctor.h"
#include "transport/PortHolders.h"
#include "transport/SerialPortDiscoveryLinux.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{
const juce::String deviceVendor ("5e1d"), deviceProduct ("0b47");
const juce::String deviceIdText ("5E1D:0B47");
const juce::String ruleFileName ("60-usb-file-utility.rules");

juce::String readAttribute (const juce::File& folder, const char* name)
{
    return folder.getChildFile (name).loadFileAsString().trim();
}

Doctor::Check ok (const juce::String& name, const juce::String& finding)
{
    return { name, true, finding, {} };
}

Doctor::Check problem (const juce::String& name, const juce::String& finding, const juce::String& fix)
{
    return { name, false, finding, fix };
}

/** The USB devices with the device's id under sys/bus/usb/devices. */
juce::Array<juce::File> findUsbDevices (const juce::File& sysRoot)
{
    juce::Array<juce::File> found;

    for (const auto& device : sysRoot.getChildFile ("bus/usb/devices").findChildFiles (juce::File::findDirectories, false))
        if (readAttribute (device, "idVendor").equalsIgnoreCase (deviceVendor)
             && readAttribute (device, "idProduct").equalsIgnoreCase (deviceProduct))
            found.add (device);

    return found;
}

/** The device's ports, as the program lists them (the hardware id's revision aside). */
juce::StringArray findDevicePorts (const juce::File& sysRoot)
{
    juce::StringArray ports;
    const auto prefix = "USB\\Vid_" + deviceVendor.toUpperCase() + "&Pid_" + deviceProduct.toUpperCase() + "&";

    for (const auto& port : serial::enumerateUsbSerialPorts (sysRoot))
        if (port.hardwareId.startsWithIgnoreCase (prefix))
            ports.add (port.portName);

    return ports;
}

/** The node of a port in the checked system's /dev. */
juce::File nodeOf (const Doctor::Host& host, const juce::String& portName)
{
    if (portName.startsWith ("/dev/"))
        return host.devRoot.getChildFile (portName.substring (5));

    return juce::File::isAbsolutePath (portName) ? juce::File (portName) : host.devRoot.getChildFile (portName);
}

juce::String groupName (gid_t group)
{
    if (auto* entry = ::getgrgid (group))
        return entry->gr_name;

    return juce::String ((int) group);
}

/** udev's record of a device node: its lines "G:uaccess", "E:ID_MM_DEVICE_IGNORE=1", ... */
juce::StringArray udevRecordOf (const Doctor::Host& host, const struct stat& node)
{
    const auto name = "c" + juce::String ((int) major (node.st_rdev)) + ":" + juce::String ((int) minor (node.st_rdev));
    return juce::StringArray::fromLines (host.udevDataRoot.getChildFile (name).loadFileAsString());
}

bool isRuleInstalled (const Doctor::Host& host)
{
    for (const auto& folder : host.ruleFolders)
        if (folder.getChildFile (ruleFileName).existsAsFile())
            return true;

    return false;
}

bool isProcessRunning (const juce::File& procRoot, const juce::String& command)
{
    for (const auto& process : procRoot.findChildFiles (juce::File::findDirectories, false))
        if (process.getFileName().containsOnly ("0123456789") && readAttribute (process, "comm") == command)
            return true;

    return false;
}

/** Whether the user may read and write the node, from its owner, group and mode. */
bool mayOpen (const Doctor::Host& host, const struct stat& node)
{
    const auto user = host.userId >= 0 ? (uid_t) host.userId : ::getuid();

    if (user == 0)
        return true;

    if (node.st_uid == user)
        return (node.st_mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR);

    auto groups = host.groupIds;

    if (groups.isEmpty())
    {
        groups.add ((int) ::getgid());
        gid_t list[256];
        const auto count = ::getgroups (256, list);

        for (int i = 0; i < count; ++i)
            groups.add ((int) list[i]);
    }

    if (groups.contains ((int) node.st_gid))
        return (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);

    return (node.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
}

void checkPort (const Doctor::Host& host, const juce::String& portName, std::vector<Doctor::Check>& checks)
{
    const auto node = nodeOf (host, portName);
    struct stat info {};

    if (::stat (node.getFullPathName().toRawUTF8(), &info) != 0)
    {
        checks.push_back (problem ("port", portName + " does not exist.",
                                   "Check the name (ls /dev/ttyACM* /dev/ttyUSB*), or plug the device in."));
        return;
    }

    if (! S_ISCHR (info.st_mode))
    {
        checks.push_back (problem ("port", portName + " is not a serial device.", "Name the device's tty, such as /dev/ttyACM0."));
        return;
    }

    const auto udevRecord = udevRecordOf (host, info);

    if (mayOpen (host, info))
    {
        checks.push_back (ok ("access", "You may open " + portName + "."));
    }
    else
    {
        const bool ruleApplies = udevRecord.contains ("G:uaccess") || udevRecord.contains ("Q:uaccess");
        const auto group = groupName (info.st_gid);
        checks.push_back (problem ("access", "You may not open " + portName + " (it belongs to the group " + group
                                                 + (ruleApplies ? ", and the udev rule applies to it but you are not logged in at the seat)."
                                                                : ", and the udev rule does not apply to it)."),
                                   ruleApplies ? "Log in at the machine itself, or: sudo usermod -aG " + group + " \"$USER\" (then log in again)."
                                               : "Install the package's udev rule and plug the device in again, or: sudo usermod -aG "
                                                     + group + " \"$USER\" (then log in again)."));
    }

    if (isProcessRunning (host.procRoot, "ModemManager"))
    {
        if (udevRecord.contains ("E:ID_MM_DEVICE_IGNORE=1"))
            checks.push_back (ok ("modemmanager", "ModemManager runs but leaves " + portName + " alone."));
        else
            checks.push_back (problem ("modemmanager", "ModemManager runs and may open " + portName
                                                           + " for several seconds after each plug-in to probe it.",
                                       "Install the package's udev rule and plug the device in again, or: sudo systemctl stop ModemManager"));
    }
    else
    {
        checks.push_back (ok ("modemmanager", "ModemManager is not running."));
    }

    const auto holders = serial::findPortHolders (host.procRoot, node.getFullPathName());

    if (holders.empty())
    {
        checks.push_back (ok ("holders", "No other process has " + portName + " open."));
        return;
    }

    juce::StringArray named;

    for (const auto& holder : holders)
        named.add (juce::String (holder.processId) + (holder.processName.isNotEmpty() ? " (" + holder.processName + ")" : juce::String()));

    checks.push_back (problem ("holders", portName + " is in use by process " + named.joinIntoString (", ") + ".",
                               "Close that program, or end it: kill " + juce::String (holders.front().processId)));
}
} // namespace

std::vector<Doctor::Check> Doctor::run (const juce::String& portName) const
{
    std::vector<Check> checks;
    const auto devices = findUsbDevices (host.sysRoot);

    // A port named on the command line may be another line to the device (an adapter, a
    // virtual port): then the USB device and its rule are only worth a note.
    const bool portNamed = portName.isNotEmpty();

    if (devices.isEmpty() && portNamed)
        checks.push_back (ok ("device", "No device with the USB id " + deviceIdText + " is plugged in; checking " + portName + " only."));
    else if (devices.isEmpty())
        checks.push_back (problem ("device", "No device with the USB id " + deviceIdText + " is plugged in.",
                                   "Plug the device in and check the cable: lsusb should list 5e1d:0b47."));
    else
        checks.push_back (ok ("device", "The device (USB id " + deviceIdText + ") is plugged in"
                                            + (readAttribute (devices[0], "product").isNotEmpty() ? ": " + readAttribute (devices[0], "product") + "." : juce::String ("."))));

    const auto ports = findDevicePorts (host.sysRoot);

    if (! devices.isEmpty() && ports.isEmpty())
        checks.push_back (problem ("tty", "The device has no serial port (tty).",
                                   "Load its driver: sudo modprobe cdc_acm; then plug the device in again."));
    else if (! ports.isEmpty())
        checks.push_back (ok ("tty", "The device's port is " + ports.joinIntoString (", ") + "."));

    if (isRuleInstalled (host))
        checks.push_back (ok ("udev-rule", "The udev rule " + ruleFileName + " is installed."));
    else if (devices.isEmpty() && portNamed)
        checks.push_back (ok ("udev-rule", "The udev rule " + ruleFileName + " is not installed (it is only for the USB device)."));
    else
        checks.push_back (problem ("udev-rule", "The udev rule " + ruleFileName + " is not installed.",
                                   "Install the package, or copy packaging/linux/" + ruleFileName
                                       + " to /etc/udev/rules.d, run sudo udevadm control --reload, and plug the device in again."));

    auto toCheck = ports;

    if (portName.isNotEmpty())
        toCheck.addIfNotAlreadyThere (portName);

    for (const auto& port : toCheck)
        checkPort (host, port, checks);

    return checks;
}
