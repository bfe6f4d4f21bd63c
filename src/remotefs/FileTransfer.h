#pragma once

#include "remotefs/RemoteFileSystem.h"
#include "remotefs/TransferProgress.h"

class LocalTargetResolver;
class LocalTreeWalker;

/** Whole files and folder trees between the host and the device, one block of at most
    8169 bytes in flight; every block waits for its answer (5000 ms for written blocks,
    1000 ms for read ones). Every call blocks its caller and returns 0 on success, -1 on
    failure, with the reason in the log.

    What a transfer never does, whoever calls it:
    - an upload never destroys a device file: it goes to a temporary name beside the
      target and replaces the target only once the device reports its full size;
    - a download never leaves a half-written host file, and a host file named after a
      device entry never lands outside the folder the caller chose;
    - a host tree gives regular files and folders only (see LocalTreeWalker);
    - a device tree ends: its depth and its number of entries are bounded, and a folder
      that lists like its parent is taken for a loop.

    A TransferProgress set on it hears of every file and block and may cancel; a cancelled
    transfer returns -1. */
class FileTransfer
{
public:
    explicit FileTransfer (VeltraneClient& client) : files (client) {}

    /** Copies a local file to the device, through a temporary file (temporaryPathFor) that
        is moved over remotePath once complete. A local path that is not a readable regular
        file fails before the device is asked for anything. On failure or cancel the old
        device file stays as it was, and the temporary file is removed where the device
        still answers. */
    int sendFile (const juce::String& localPath, const juce::String& remotePath);

    /** Copies a local file into remotePath itself, without a temporary file: for files
        whose use is guarded otherwise (the firmware image and its trigger). A cancel or a
        failure removes the partial device file. */
    int sendFileInPlace (const juce::String& localPath, const juce::String& remotePath);

    /** Copies a device file to the host. The data goes into a temporary file beside the
        local path, which replaces the local file only once exactly the announced size has
        arrived on disk; on any failure the local file stays as it was. A link to a file is
        written through (the link stays); a FIFO, a socket or a device node is written to
        as a stream (getFileToStream), never replaced. */
    int getFile (const juce::String& remotePath, const juce::String& localPath);

    /** Copies a device file into a stream as it arrives (the standard output, a FIFO):
        nothing is replaced, and what was written stays written when the copy fails. A
        copy into a FIFO, a socket or a device node through getFile comes here too. Can't
        be verified (the stream can't be read back): with verify on it fails at once. */
    int getFileToStream (const juce::String& remotePath, juce::OutputStream& stream, const juce::String& streamName);

    /** Copies a local folder tree into the device folder remotePath (created when
        missing). Every entry is tried; -1 when any of them failed or was left out. */
    int sendFolder (const juce::String& localFolderPath, const juce::String& remotePath);

    /** Copies a device folder tree into a new folder of localParentPath, named name or,
        when name is empty, after the last part of remotePath. Every entry is tried; -1
        when any of them failed, had a name that can't be used inside the local folder, or
        lay beyond the bounds. */
    int getFolder (const juce::String& remotePath, const juce::String& localParentPath, const juce::String& name);

    /** How deep getFolder descends, and how many entries one getFolder visits at most. */
    static constexpr int maxFolderDepth = 64;
    static constexpr int maxTreeEntries = 100000;

    /** Where sendFile puts the data until it is complete: a hidden name beside the target. */
    static juce::String temporaryPathFor (const juce::String& remotePath);

    /** With verify on, every upload is read back from the device and compared byte for byte
        before it counts (and, for sendFile, before it replaces the target), and every
        download is read a second time and compared before it replaces the local file. Off
        by default. */
    void setVerify (bool shouldVerify) noexcept     { verify = shouldVerify; }

    /** Reads remotePath back and compares it with the local file, as the second half of the
        file's progress. False, with a log line naming the first differing byte, when they
        differ, the read fails or the transfer is cancelled. */
    bool matchesDevice (const juce::File& localFile, const juce::String& remotePath);

    /** The progress watcher for the transfers that follow (nullptr for none); not owned. */
    void setTransferProgress (TransferProgress* progressToUse) noexcept   { progress = progressToUse; }

    /** True once the progress watcher has cancelled; logs "Transfer cancelled." once. */
    bool isCancelled();

    RemoteFileSystem& getFileSystem() noexcept     { return files; }

private:
    TransferProgress& watcher() noexcept           { return progress != nullptr ? *progress : noProgress; }

    /** The progress of a file's first pass: with verify on, the read-back is the second
        half of the file's progress, so the first pass counts half. */
    juce::int64 firstPassDone (juce::int64 bytes) const noexcept     { return verify ? bytes / 2 : bytes; }
    int writeFile (const juce::String& localPath, const juce::String& remotePath, const juce::String& writtenPath);
    bool receiveBlocks (juce::int64 handle, juce::int64 size, const juce::String& remotePath,
                        juce::OutputStream& output, const juce::String& localName);
    int finishGet (juce::int64 handle, juce::int64 size, juce::int64 startTime);
    bool replaceWithTemporary (const juce::String& temporaryPath, const juce::String& remotePath);
    int sendFolderTree (LocalTreeWalker& walker, const juce::File& localFolder, const juce::String& remotePath);

    struct DeviceTree;
    int getFolderTree (DeviceTree& tree, const juce::String& remotePath, const juce::File& localFolder, int depth,
                       const juce::StringArray* parentListing);

    RemoteFileSystem files;
    TransferProgress* progress = nullptr;
    TransferProgress noProgress;
    bool cancelLogged = false;
    bool verify = false;
};
