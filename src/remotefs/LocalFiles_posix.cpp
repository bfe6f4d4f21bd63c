#include "remotefs/LocalFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace LocalFiles
{
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
