#include "remotefs/LocalFiles.h"
#include "transport/WindowsHeaders.h"

namespace
{
/** Writes to a handle as it is; a failed write fails every later one. */
class HandleOutputStream final : public juce::OutputStream
{
public:
    HandleOutputStream (HANDLE handleToUse, bool owned) : handle (handleToUse), ownsHandle (owned) {}
    ~HandleOutputStream() override          { if (ownsHandle) CloseHandle (handle); }

    void flush() override                   { FlushFileBuffers (handle); }
    bool setPosition (juce::int64) override { return false; }
    juce::int64 getPosition() override      { return written; }

    bool write (const void* data, size_t size) override
    {
        for (auto* bytes = static_cast<const char*> (data); ! failed && size > 0;)
        {
            DWORD done = 0;

            if (! WriteFile (handle, bytes, (DWORD) juce::jmin (size, (size_t) 0x100000), &done, nullptr) || done == 0)
            {
                failed = true;
                break;
            }

            bytes += done;
            size -= done;
            written += done;
        }

        return ! failed;
    }

private:
    const HANDLE handle;
    const bool ownsHandle;
    juce::int64 written = 0;
    bool failed = false;
};
} // namespace

namespace LocalFiles
{
bool isStandardOutput (const juce::File&)
{
    return false;
}

std::unique_ptr<juce::OutputStream> openStream (const juce::File& file, juce::String& error)
{
    if (file == juce::File())
        return std::make_unique<HandleOutputStream> (GetStdHandle (STD_OUTPUT_HANDLE), false);

    const auto handle = CreateFileW (file.getFullPathName().toWideCharPointer(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);

    if (handle == INVALID_HANDLE_VALUE)
    {
        error = "error " + juce::String ((int) GetLastError());
        return nullptr;
    }

    return std::make_unique<HandleOutputStream> (handle, true);
}

Kind kindOf (const juce::File& file)
{
    const auto attributes = GetFileAttributesW (file.getFullPathName().toWideCharPointer());

    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::missing;

    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Kind::folder;

    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? Kind::other : Kind::regularFile;
}

bool isLink (const juce::File& file)
{
    const auto attributes = GetFileAttributesW (file.getFullPathName().toWideCharPointer());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool readFolder (const juce::File& folder, juce::Array<juce::File>& entries)
{
    WIN32_FIND_DATAW data;
    const auto pattern = folder.getFullPathName() + "\\*";
    const auto handle = FindFirstFileW (pattern.toWideCharPointer(), &data);

    if (handle == INVALID_HANDLE_VALUE)
        return false;

    do
    {
        const juce::String name (data.cFileName);

        if (name != "." && name != "..")
            entries.add (juce::File (folder.getFullPathName() + juce::File::getSeparatorString() + name));
    }
    while (FindNextFileW (handle, &data));

    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose (handle);
    return complete;
}

juce::File resolveExisting (const juce::File& file)
{
    const auto handle = CreateFileW (file.getFullPathName().toWideCharPointer(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);

    if (handle == INVALID_HANDLE_VALUE)
        return {};

    WCHAR path[32768];
    const auto length = GetFinalPathNameByHandleW (handle, path, 32768, FILE_NAME_NORMALIZED);
    CloseHandle (handle);

    if (length == 0 || length >= 32768)
        return {};

    juce::String resolved (path);

    if (resolved.startsWith ("\\\\?\\UNC\\"))
        return juce::File ("\\\\" + resolved.substring (8));

    return juce::File (resolved.startsWith ("\\\\?\\") ? resolved.substring (4) : resolved);
}
} // namespace LocalFiles
