#pragma once

#include <juce_core/juce_core.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

/** The device's file system: a host folder in which device path P is the host path
    root + P, and the table of open files. Paths are byte strings, used exactly as the host
    sent them. A path that would lead out of the folder, by ".." or by a symbolic link, is
    refused. Every operation returns an empty text on success and the failure text for the
    host otherwise. */
class DeviceFileSystem
{
public:
    struct Entry
    {
        bool exists = false;
        bool isFolder = false;
        bool readOnly = false;
        juce::int64 size = 0;
        std::time_t changed = 0, modified = 0, accessed = 0;
    };

    /** rootFolder must be an existing folder; see isValid. Handles are counted up from
        firstHandle. */
    DeviceFileSystem (const std::string& rootFolder, juce::int64 firstHandle);
    ~DeviceFileSystem();

    /** False when the root folder could not be resolved. */
    bool isValid() const noexcept { return ! root.empty(); }

    /** Collapses repeated "/", drops "." and resolves ".." components. Returns false when a
        ".." would climb above "/". The result starts with "/". */
    static bool normalise (const std::string& devicePath, std::string& normalised);

    /** The last component of a device path, "" for the root. */
    static std::string getName (const std::string& devicePath);

    /** entry.exists is false when nothing is there; that is not a failure. */
    std::string getEntry (const std::string& path, Entry& entry) const;
    std::string listFolder (const std::string& path, std::vector<std::string>& files,
                            std::vector<std::string>& folders) const;
    std::string createFolder (const std::string& path);

    /** Renames an entry. By default an existing destination is refused; see
        setMoveReplaces. */
    std::string move (const std::string& fromPath, const std::string& toPath);

    /** When on, a move replaces an existing destination as rename() does (a file, or an
        empty folder by a folder), as some devices do; off by default. */
    void setMoveReplaces (bool replaces) noexcept { moveReplaces = replaces; }

    /** Deletes a file, or a folder with everything in it. Links are deleted, not followed. */
    std::string remove (const std::string& path);

    /** Opens an existing file for reading, or creates (truncates) one for writing. */
    std::string open (const std::string& path, bool forWriting, juce::int64& handle, juce::int64& size);
    std::string read (juce::int64 handle, void* buffer, size_t wanted, size_t& got);
    std::string write (juce::int64 handle, const void* data, size_t count);

    /** mode 0 from the start, 1 from the current position, 2 from the end. */
    std::string seek (juce::int64 handle, juce::int64 position, int mode);
    std::string close (juce::int64 handle);

    /** The device path the handle's file was opened with; empty for an unknown handle. */
    std::string getHandlePath (juce::int64 handle) const;

    /** More files than this stay refused until the host closes some. */
    static constexpr size_t maxOpenFiles = 256;

private:
    struct OpenFile
    {
        int fd = -1;
        std::string devicePath;
        bool writable = false;
    };

    /** The host path of a device path, after the escape checks. */
    std::string resolve (const std::string& devicePath, std::string& hostPath) const;
    bool isInsideRoot (const std::string& realPath) const;
    OpenFile* findOpenFile (juce::int64 handle);

    std::string root;   // real path, no trailing "/" (empty when invalid)
    std::map<juce::int64, OpenFile> openFiles;
    juce::int64 nextHandle;
    bool moveReplaces = false;
};
