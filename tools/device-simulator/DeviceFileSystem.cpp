#include "DeviceFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string describeError (const std::string& what, const std::string& devicePath)
{
    return what + ": " + std::strerror (errno) + ": " + devicePath;
}

std::string realPathOf (const std::string& path)
{
    char* resolved = ::realpath (path.c_str(), nullptr);

    if (resolved == nullptr)
        return {};

    std::string result (resolved);
    std::free (resolved);
    return result;
}

bool removeTree (const std::string& hostPath)
{
    struct stat info;

    if (::lstat (hostPath.c_str(), &info) != 0)
        return false;

    if (! S_ISDIR (info.st_mode))
        return ::unlink (hostPath.c_str()) == 0;

    DIR* folder = ::opendir (hostPath.c_str());

    if (folder == nullptr)
        return false;

    bool removedAll = true;

    while (auto* entry = ::readdir (folder))
    {
        const std::string name = entry->d_name;

        if (name != "." && name != "..")
            removedAll = removeTree (hostPath + "/" + name) && removedAll;
    }

    ::closedir (folder);
    return removedAll && ::rmdir (hostPath.c_str()) == 0;
}
} // namespace

DeviceFileSystem::DeviceFileSystem (const std::string& rootFolder, juce::int64 firstHandle)
    : nextHandle (firstHandle)
{
    struct stat info;
    const auto real = realPathOf (rootFolder);

    if (! real.empty() && ::stat (real.c_str(), &info) == 0 && S_ISDIR (info.st_mode))
        root = real;
}

DeviceFileSystem::~DeviceFileSystem()
{
    for (auto& open : openFiles)
        ::close (open.second.fd);
}

bool DeviceFileSystem::normalise (const std::string& devicePath, std::string& normalised)
{
    std::vector<std::string> parts;
    size_t start = 0;

    while (start <= devicePath.size())
    {
        auto end = devicePath.find ('/', start);

        if (end == std::string::npos)
            end = devicePath.size();

        const auto part = devicePath.substr (start, end - start);

        if (part == "..")
        {
            if (parts.empty())
                return false;

            parts.pop_back();
        }
        else if (! part.empty() && part != ".")
        {
            parts.push_back (part);
        }

        start = end + 1;
    }

    normalised.clear();

    for (const auto& part : parts)
        normalised += "/" + part;

    if (normalised.empty())
        normalised = "/";

    return true;
}

std::string DeviceFileSystem::getName (const std::string& devicePath)
{
    std::string normalised;

    if (! normalise (devicePath, normalised))
        return {};

    return normalised.substr (normalised.rfind ('/') + 1);
}

bool DeviceFileSystem::isInsideRoot (const std::string& realPath) const
{
    if (root == "/")
        return true;

    return realPath == root
        || (realPath.size() > root.size() && realPath.compare (0, root.size(), root) == 0
            && realPath[root.size()] == '/');
}

std::string DeviceFileSystem::resolve (const std::string& devicePath, std::string& hostPath) const
{
    if (devicePath.find ('\0') != std::string::npos)
        return "Invalid path: " + devicePath;

    std::string normalised;

    if (devicePath.empty())
        return "Empty path";

    if (! normalise (devicePath, normalised))
        return "Path leaves the file system: " + devicePath;

    // The folders along the path are resolved one at a time, each to its real path, so
    // that a link anywhere must stay inside the root and a chain of links as long as a
    // folder that contains itself can make (deeper than the kernel's 40 links) still
    // resolves. The last part stays as it is: a link there is opened through, but
    // deleted or moved as the link itself. What doesn't exist yet has no links in it.
    std::string current = root == "/" ? std::string() : root;
    bool exists = true;
    size_t start = 1;

    while (start <= normalised.size() && normalised != "/")
    {
        auto end = normalised.find ('/', start);

        if (end == std::string::npos)
            end = normalised.size();

        const auto candidate = current + "/" + normalised.substr (start, end - start);
        const bool isLast = end == normalised.size();
        struct stat info;

        if (exists && ::lstat (candidate.c_str(), &info) == 0)
        {
            const auto real = realPathOf (candidate);

            if (real.empty() || ! isInsideRoot (real))
                return "Path leaves the file system: " + devicePath;

            current = isLast ? candidate : real;
        }
        else
        {
            exists = false;
            current = candidate;
        }

        start = end + 1;
    }

    hostPath = current.empty() ? "/" : current;
    return {};
}

std::string DeviceFileSystem::getEntry (const std::string& path, Entry& entry) const
{
    std::string hostPath;
    auto problem = resolve (path, hostPath);

    if (! problem.empty())
        return problem;

    entry = {};
    struct stat info;

    if (::stat (hostPath.c_str(), &info) != 0)
        return {};

    entry.exists = true;
    entry.isFolder = S_ISDIR (info.st_mode);
    entry.readOnly = (info.st_mode & S_IWUSR) == 0;
    entry.size = entry.isFolder ? 0 : (juce::int64) info.st_size;
    entry.changed = info.st_ctime;
    entry.modified = info.st_mtime;
    entry.accessed = info.st_atime;
    return {};
}

std::string DeviceFileSystem::listFolder (const std::string& path, std::vector<std::string>& files,
                                          std::vector<std::string>& folders) const
{
    std::string hostPath;
    auto problem = resolve (path, hostPath);

    if (! problem.empty())
        return problem;

    DIR* folder = ::opendir (hostPath.c_str());

    if (folder == nullptr)
        return describeError ("Can't list folder", path);

    files.clear();
    folders.clear();

    while (auto* entry = ::readdir (folder))
    {
        const std::string name = entry->d_name;

        if (name == "." || name == "..")
            continue;

        // Links are listed as what they point to; a dangling one is left out.
        struct stat info;

        if (::stat ((hostPath + "/" + name).c_str(), &info) != 0)
            continue;

        (S_ISDIR (info.st_mode) ? folders : files).push_back (name);
    }

    ::closedir (folder);

    // The host's order of directory entries is arbitrary; sorted by bytes, answers repeat.
    std::sort (files.begin(), files.end());
    std::sort (folders.begin(), folders.end());
    return {};
}

std::string DeviceFileSystem::createFolder (const std::string& path)
{
    std::string hostPath;
    auto problem = resolve (path, hostPath);

    if (! problem.empty())
        return problem;

    if (::mkdir (hostPath.c_str(), 0777) != 0)
        return describeError ("Can't create folder", path);

    return {};
}

std::string DeviceFileSystem::move (const std::string& fromPath, const std::string& toPath)
{
    std::string hostFrom, hostTo;
    auto problem = resolve (fromPath, hostFrom);

    if (problem.empty())
        problem = resolve (toPath, hostTo);

    if (! problem.empty())
        return problem;

    struct stat info;

    if (hostFrom == root)
        return "Can't move the root folder";

    if (::lstat (hostFrom.c_str(), &info) != 0)
        return describeError ("Can't move", fromPath);

    // rename() would replace an existing file silently; a device asked to rename onto an
    // existing name refuses, unless it was started as one that replaces.
    if (! moveReplaces && ::lstat (hostTo.c_str(), &info) == 0)
        return "Already exists: " + toPath;

    if (::rename (hostFrom.c_str(), hostTo.c_str()) != 0)
        return describeError ("Can't move to " + toPath, fromPath);

    return {};
}

std::string DeviceFileSystem::remove (const std::string& path)
{
    std::string hostPath;
    auto problem = resolve (path, hostPath);

    if (! problem.empty())
        return problem;

    if (hostPath == root)
        return "Can't delete the root folder";

    struct stat info;

    if (::lstat (hostPath.c_str(), &info) != 0)
        return describeError ("Can't delete", path);

    if (! removeTree (hostPath))
        return describeError ("Can't delete everything in", path);

    return {};
}

std::string DeviceFileSystem::open (const std::string& path, bool forWriting, juce::int64& handle, juce::int64& size)
{
    std::string hostPath;
    auto problem = resolve (path, hostPath);

    if (! problem.empty())
        return problem;

    if (openFiles.size() >= maxOpenFiles)
        return "Too many open files: " + path;

    const int flags = forWriting ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDONLY;
    // Non-blocking, so that a FIFO in the folder can't stall the simulator; it is refused below.
    const int fd = ::open (hostPath.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);

    if (fd < 0)
        return describeError ("Can't open", path);

    struct stat info;

    if (::fstat (fd, &info) != 0 || ! S_ISREG (info.st_mode))
    {
        ::close (fd);
        return "Not a file: " + path;
    }

    handle = nextHandle++;
    size = (juce::int64) info.st_size;
    openFiles[handle] = { fd, path, forWriting };
    return {};
}

DeviceFileSystem::OpenFile* DeviceFileSystem::findOpenFile (juce::int64 handle)
{
    auto found = openFiles.find (handle);
    return found != openFiles.end() ? &found->second : nullptr;
}

std::string DeviceFileSystem::read (juce::int64 handle, void* buffer, size_t wanted, size_t& got)
{
    auto* file = findOpenFile (handle);
    got = 0;

    if (file == nullptr)
        return "Unknown file handle " + std::to_string (handle);

    while (got < wanted)
    {
        const auto n = ::read (file->fd, static_cast<char*> (buffer) + got, wanted - got);

        if (n < 0 && errno == EINTR)
            continue;

        if (n < 0)
            return describeError ("Can't read", file->devicePath);

        if (n == 0)
            break;

        got += (size_t) n;
    }

    return {};
}

std::string DeviceFileSystem::write (juce::int64 handle, const void* data, size_t count)
{
    auto* file = findOpenFile (handle);

    if (file == nullptr)
        return "Unknown file handle " + std::to_string (handle);

    if (! file->writable)
        return "File is open for reading only: " + file->devicePath;

    size_t written = 0;

    while (written < count)
    {
        const auto n = ::write (file->fd, static_cast<const char*> (data) + written, count - written);

        if (n < 0 && errno == EINTR)
            continue;

        if (n <= 0)
            return describeError ("Can't write", file->devicePath);

        written += (size_t) n;
    }

    return {};
}

std::string DeviceFileSystem::seek (juce::int64 handle, juce::int64 position, int mode)
{
    auto* file = findOpenFile (handle);

    if (file == nullptr)
        return "Unknown file handle " + std::to_string (handle);

    const int whence = mode == 0 ? SEEK_SET : mode == 1 ? SEEK_CUR : mode == 2 ? SEEK_END : -1;

    if (whence < 0)
        return "Unknown seek mode " + std::to_string (mode);

    if (::lseek (file->fd, (off_t) position, whence) < 0)
        return describeError ("Can't seek", file->devicePath);

    return {};
}

std::string DeviceFileSystem::close (juce::int64 handle)
{
    auto* file = findOpenFile (handle);

    if (file == nullptr)
        return "Unknown file handle " + std::to_string (handle);

    ::close (file->fd);
    openFiles.erase (handle);
    return {};
}

std::string DeviceFileSystem::getHandlePath (juce::int64 handle) const
{
    auto found = openFiles.find (handle);
    return found != openFiles.end() ? found->second.devicePath : std::string();
}
