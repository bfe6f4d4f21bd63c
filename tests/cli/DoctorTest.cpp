// The doctor against a made-up system: sysfs, /dev, /proc, udev's database and rule
// folders in a temporary folder, with a real device node made by mknod.
#include "cli/Doctor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace
{
class MadeUpSystem
{
public:
    MadeUpSystem()
    {
        root.createDirectory();
        host.procRoot = root.getChildFile ("proc");
        host.sysRoot = root.getChildFile ("sys");
        host.devRoot = root.getChildFile ("dev");
        host.udevDataRoot = root.getChildFile ("run/udev/data");
        host.ruleFolders = { root.getChildFile ("etc/udev/rules.d") };
        host.userId = 1000;
        host.groupIds = { 1000 };

        // The device, with its tty, as the kernel shows a CDC-ACM device.
        const auto usb = host.sysRoot.getChildFile ("devices/pci0000:00/usb1/1-2");
        write (usb.getChildFile ("idVendor"), "5e1d");
        write (usb.getChildFile ("idProduct"), "0b47");
        write (usb.getChildFile ("bcdDevice"), "0100");
        write (usb.getChildFile ("product"), "KX9");
        link (usb, host.sysRoot.getChildFile ("bus/usb/devices/1-2"));
        const auto tty = usb.getChildFile ("1-2:1.0/tty/ttyACM0");
        tty.createDirectory();
        link (usb.getChildFile ("1-2:1.0"), tty.getChildFile ("device"));
        link (tty, host.sysRoot.getChildFile ("class/tty/ttyACM0"));

        // Its node: root's, for the group only, as udev leaves it without the rule.
        host.devRoot.createDirectory();
        const auto node = host.devRoot.getChildFile ("ttyACM0").getFullPathName();
        nodeMade = ::mknod (node.toRawUTF8(), S_IFCHR | 0660, makedev (166, 0)) == 0
                   && ::chmod (node.toRawUTF8(), 0660) == 0;   // past the umask
        host.procRoot.createDirectory();
    }

    ~MadeUpSystem() { root.deleteRecursively(); }

    /** A process with the given command name, holding the port open when asked to. */
    void addProcess (int processId, const juce::String& command, bool holdsPort)
    {
        const auto process = host.procRoot.getChildFile (juce::String (processId));
        write (process.getChildFile ("comm"), command);
        process.getChildFile ("fd").createDirectory();

        if (holdsPort)
            link (host.devRoot.getChildFile ("ttyACM0"), process.getChildFile ("fd/3"));
    }

    std::vector<Doctor::Check> run() const { return Doctor (host).run ({}); }

    static const Doctor::Check* find (const std::vector<Doctor::Check>& checks, const juce::String& name)
    {
        for (const auto& check : checks)
            if (check.name == name)
                return &check;

        return nullptr;
    }

    static void write (const juce::File& file, const juce::String& text)
    {
        file.getParentDirectory().createDirectory();
        file.replaceWithText (text + "\n");
    }

    static void link (const juce::File& target, const juce::File& linkFile)
    {
        linkFile.getParentDirectory().createDirectory();
        target.createSymbolicLink (linkFile, true);
    }

    const juce::File root = juce::File::createTempFile ("made-up-system");
    Doctor::Host host;
    bool nodeMade = false;
};
} // namespace

TEST (Doctor, NamesEveryProblemThatStopsAConnectWithItsFix)
{
    MadeUpSystem system;

    if (! system.nodeMade)
        GTEST_SKIP() << "mknod is not allowed here";

    system.addProcess (77, "ModemManager", false);
    system.addProcess (4242, "minicom", true);
    const auto checks = system.run();

    ASSERT_NE (MadeUpSystem::find (checks, "device"), nullptr);
    EXPECT_TRUE (MadeUpSystem::find (checks, "device")->ok);
    EXPECT_EQ (MadeUpSystem::find (checks, "tty")->finding, "The device's port is /dev/ttyACM0.");

    for (auto* name : { "udev-rule", "access", "modemmanager", "holders" })
    {
        const auto* check = MadeUpSystem::find (checks, name);
        ASSERT_NE (check, nullptr) << name;
        EXPECT_FALSE (check->ok) << name;
        EXPECT_TRUE (check->fix.isNotEmpty()) << name;
    }

    EXPECT_EQ (MadeUpSystem::find (checks, "holders")->finding, "/dev/ttyACM0 is in use by process 4242 (minicom).");
    EXPECT_TRUE (MadeUpSystem::find (checks, "access")->finding.contains ("the udev rule does not apply"));
    EXPECT_FALSE (Doctor::allOk (checks));
}

TEST (Doctor, IsContentOnceTheRuleAppliesAndThePortIsFree)
{
    MadeUpSystem system;

    if (! system.nodeMade)
        GTEST_SKIP() << "mknod is not allowed here";

    system.addProcess (77, "ModemManager", false);
    MadeUpSystem::write (system.host.ruleFolders[0].getChildFile ("60-usb-file-utility.rules"), "# the rule");
    MadeUpSystem::write (system.host.udevDataRoot.getChildFile ("c166:0"), "G:uaccess\nE:ID_MM_DEVICE_IGNORE=1");
    system.host.groupIds = { 0 };   // the node's group: uaccess gives the seat's user the same through an ACL

    const auto checks = system.run();

    for (const auto& check : checks)
        EXPECT_TRUE (check.ok) << check.name << ": " << check.finding;

    EXPECT_TRUE (Doctor::allOk (checks));
    EXPECT_EQ (checks.size(), 6u);
}
