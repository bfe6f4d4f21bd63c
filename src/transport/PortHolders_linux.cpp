// Which processes hold a serial device open: a walk over /proc/<pid>/fd, comparing the
// device numbers of what each descriptor points at with the port's.
#include "transport/PortHolders.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace serial
{
namespace
{
// The pty multiplexer (/dev/ptmx, also /dev/pts/ptmx): each descriptor of it is the master
// of one pty. The slaves are the UNIX98 pty majors 136 to 143.
constexpr unsigned ptmxMajor = 5, ptmxMinor = 2;
constexpr unsigned firstPtySlaveMajor = 136, lastPtySlaveMajor = 143;

/** The device a port path names. */
struct PortDevice
{
    dev_t device = 0;           // the device number (st_rdev)
    dev_t fileSystem = 0;       // the devpts instance of a pty slave (st_dev)
    long ptyIndex = -1;         // the pty's number when the port is a pty slave, else -1
};

bool isNumber (const char* name) noexcept
{
    if (*name == 0)
        return false;

    for (; *name != 0; ++name)
        if (*name < '0' || *name > '9')
            return false;

    return true;
}

/** The start of a small text file such as /proc/<pid>/comm; empty when it can't be read. */
std::string readSmallFile (const std::string& path)
{
    const int descriptor = ::open (path.c_str(), O_RDONLY | O_CLOEXEC);

    if (descriptor < 0)
        return {};

    char buffer[1024];
    const auto count = ::read (descriptor, buffer, sizeof (buffer));
    ::close (descriptor);
    return count > 0 ? std::string (buffer, (size_t) count) : std::string();
}

/** The pty number in a pty master's /proc/<pid>/fdinfo/<fd> ("tty-index:"); -1 when the
    kernel doesn't show it. */
long readTtyIndex (const std::string& fdinfoPath)
{
    const auto text = "\n" + readSmallFile (fdinfoPath);
    const auto at = text.find ("\ntty-index:");

    if (at == std::string::npos)
        return -1;

    char* end = nullptr;
    const char* number = text.c_str() + at + 11;
    const long index = std::strtol (number, &end, 10);
    return end != number && index >= 0 ? index : -1;
}

bool isPtyMaster (const struct stat& info) noexcept
{
    return S_ISCHR (info.st_mode) && major (info.st_rdev) == ptmxMajor && minor (info.st_rdev) == ptmxMinor;
}

struct ProcessScan
{
    bool holdsPort = false;
    bool ownsPty = false;
};

ProcessScan scanProcess (const std::string& processFolder, const PortDevice& port)
{
    ProcessScan scan;
    const auto fdFolder = processFolder + "/fd";
    DIR* folder = ::opendir (fdFolder.c_str());

    if (folder == nullptr)
        return scan;   // gone, or another user's: not ours to see

    while (const auto* entry = ::readdir (folder))
    {
        if (! isNumber (entry->d_name))
            continue;

        const auto linkPath = fdFolder + "/" + entry->d_name;
        char target[PATH_MAX];
        const auto length = ::readlink (linkPath.c_str(), target, sizeof (target));

        // Sockets, pipes and anonymous inodes ("socket:[123]") are not devices.
        if (length <= 0 || target[0] != '/')
            continue;

        struct stat info;

        if (::stat (linkPath.c_str(), &info) != 0 || ! S_ISCHR (info.st_mode))
            continue;

        // A pty slave's number is only unique within its devpts instance.
        if (info.st_rdev == port.device && (port.ptyIndex < 0 || info.st_dev == port.fileSystem))
        {
            scan.holdsPort = true;
        }
        else if (port.ptyIndex >= 0 && isPtyMaster (info))
        {
            // A kernel that doesn't show the index leaves the master's pty unknown; the
            // process is then taken as the owner rather than refuse a port wrongly.
            const auto index = readTtyIndex (processFolder + "/fdinfo/" + entry->d_name);

            if (index < 0 || index == port.ptyIndex)
                scan.ownsPty = true;
        }
    }

    ::closedir (folder);
    return scan;
}
} // namespace

std::vector<PortHolder> findPortHolders (const juce::File& procRoot, const juce::String& devicePath)
{
    std::vector<PortHolder> holders;
    struct stat portInfo;

    if (devicePath.isEmpty() || ::stat (devicePath.toRawUTF8(), &portInfo) != 0 || ! S_ISCHR (portInfo.st_mode))
        return holders;

    PortDevice port;
    port.device = portInfo.st_rdev;
    port.fileSystem = portInfo.st_dev;

    if (const auto deviceMajor = major (portInfo.st_rdev);
        deviceMajor >= firstPtySlaveMajor && deviceMajor <= lastPtySlaveMajor)
        port.ptyIndex = (long) ((deviceMajor - firstPtySlaveMajor) * 256 + minor (portInfo.st_rdev));

    const auto root = procRoot.getFullPathName().toStdString();
    DIR* processes = ::opendir (root.c_str());

    if (processes == nullptr)
        return holders;

    const auto ownProcessId = (long) ::getpid();

    while (const auto* entry = ::readdir (processes))
    {
        if (! isNumber (entry->d_name) || std::atol (entry->d_name) == ownProcessId)
            continue;

        const auto processFolder = root + "/" + entry->d_name;
        const auto scan = scanProcess (processFolder, port);

        if (! scan.holdsPort || scan.ownsPty)
            continue;

        PortHolder holder;
        holder.processId = std::atoi (entry->d_name);
        holder.processName = juce::String (readSmallFile (processFolder + "/comm")).trim();
        holders.push_back (holder);
    }

    ::closedir (processes);

    std::sort (holders.begin(), holders.end(),
               [] (const PortHolder& a, const PortHolder& b) { return a.processId < b.processId; });
    return holders;
}
} // namespace serial
