#include "remotefs/LocalFiles.h"

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
/** Writes to a descriptor as it is; a failed write fails every later one. */
class DescriptorOutputStream final : public juce::OutputStream
{
public:
    DescriptorOutputStream (int descriptorToUse, bool owned) : descriptor (descriptorToUse), ownsDescriptor (owned) {}
    ~DescriptorOutputStream() override      { if (ownsDescriptor) ::close (descriptor); }

    void flush() override {}
    bool setPosition (juce::int64) override { return false; }
    juce::int64 getPosition() override      { return written; }

    bool write (const void* data, size_t size) override
    {
        for (auto* bytes = static_cast<const char*> (data); ! failed && size > 0;)
        {
            const auto done = ::write (descriptor, bytes, size);

            if (done < 0 && errno == EINTR)
                continue;

            if (done <= 0)
            {
                failed = true;
                break;
            }

            bytes += done;
            size -= (size_t) done;
            written += done;
        }

        return ! failed;
    }

private:
    const int descriptor;
    const bool ownsDescriptor;
    juce::int64 written = 0;
    bool failed = false;
};
} // namespace

namespace LocalFiles
{
bool isStandardOutput (const juce::File& file)
{
    const auto path = file.getFullPathName();
    return path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

std::unique_ptr<juce::OutputStream> openStream (const juce::File& file, juce::String& error)
{
    if (file == juce::File())
        return std::make_unique<DescriptorOutputStream> (STDOUT_FILENO, false);

    // A FIFO without a reader waits for one here, as cp does.
    const auto descriptor = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_NOCTTY | O_CLOEXEC);

    if (descriptor < 0)
    {
        error = std::strerror (errno);
        return nullptr;
    }

    return std::make_unique<DescriptorOutputStream> (descriptor, true);
}

Kind kindOf (const juce::File& file)
{
    struct stat status;

    if (::stat (file.getFullPathName().toRawUTF8(), &status) != 0)
        return Kind::missing;

    if (S_ISREG (status.st_mode))
        return Kind::regularFile;

    return S_ISDIR (status.st_mode) ? Kind::folder : Kind::other;
}

bool isLink (const juce::File& file)
{
    struct stat status;
    return ::lstat (file.getFullPathName().toRawUTF8(), &status) == 0 && S_ISLNK (status.st_mode);
}

bool readFolder (const juce::File& folder, juce::Array<juce::File>& entries)
{
    auto* dir = ::opendir (folder.getFullPathName().toRawUTF8());

    if (dir == nullptr)
        return false;

    bool complete = true;

    for (;;)
    {
        errno = 0;
        const auto* entry = ::readdir (dir);

        if (entry == nullptr)
        {
            complete = errno == 0;
            break;
        }

        const juce::String name (juce::CharPointer_UTF8 (entry->d_name));

        if (name != "." && name != "..")
            entries.add (juce::File (folder.getFullPathName() + juce::File::getSeparatorString() + name));
    }

    ::closedir (dir);
    return complete;
}

juce::File resolveExisting (const juce::File& file)
{
    char resolved[PATH_MAX];

    if (::realpath (file.getFullPathName().toRawUTF8(), resolved) == nullptr)
        return {};

    return juce::File (juce::CharPointer_UTF8 (resolved));
}
} // namespace LocalFiles
