// Whole files and folder trees between the host and the device, block by block.

#include "protocol/VeltraneClient.h"
#include "remotefs/HostPaths.h"
#include "remotefs/TransferReport.h"
#include "app/ILogger.h"

namespace
{
constexpr int writeBlockTimeoutMs = 5000;
constexpr int readBlockTimeoutMs = 1000;
constexpr int localOutputBufferSize = 0x8000;

bool isProgressBlock (juce::int32 blockIndex) noexcept
{
    return (blockIndex & 0xff) == 0;
}

juce::String remoteChildPath (const juce::String& folder, const juce::String& name)
{
    return folder + "/" + name;
}

/** The local folder name getFolder derives from a device path: its last part, ignoring
    blanks around it and one trailing "/". */
juce::String folderNameOf (const juce::String& remotePath)
{
    auto trimmed = remotePath.trim();

    if (trimmed.endsWithChar ('/'))
        trimmed = trimmed.upToLastOccurrenceOf ("/", false, false);

    return trimmed.fromLastOccurrenceOf ("/", false, false);
}

/** The entry called name directly inside folder, or File() when the name would lead
    anywhere else. getChildFile alone is not enough: it takes "~" and "~user" as home
    folders, and a device may name an entry so. */
juce::File childInside (const juce::File& folder, const juce::String& name)
{
    if (! isSafeEntryName (name))
        return {};

    const juce::File child (folder.getFullPathName() + juce::File::getSeparatorString() + name);
    return child.getParentDirectory() == folder && child.isAChildOf (folder) ? child : juce::File();
}

/** The files in a local tree, as sendFolder walks it (linked folders are not entered). */
int countFilesToSend (const juce::File& folder)
{
    int count = 0;

    for (const auto& child : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*",
                                                    juce::File::FollowSymlinks::no))
    {
        if (! child.isDirectory())
            ++count;
        else if (! child.isSymbolicLink())
            count += countFilesToSend (child);
    }

    return count;
}
} // namespace

void VeltraneClient::closeAfterFailedTransfer (juce::int64 handle)
{
    // Best effort, so that the device doesn't keep the handle open; the transfer has
    // failed whatever the answer.
    closeRemoteFile (handle);
}

bool VeltraneClient::transferCancelled()
{
    const auto* watcher = progress != nullptr ? progress : &noProgress;
    const bool cancelled = const_cast<TransferProgress*> (watcher)->isCancelled();

    // One line per cancel, however many nested transfers notice it.
    if (cancelled && ! cancelLogged)
        logLine ("Transfer cancelled.");

    cancelLogged = cancelled;
    return cancelled;
}

int VeltraneClient::sendFile (const juce::String& localPath, const juce::String& remotePath)
{
    const auto startTime = juce::Time::currentTimeMillis();
    auto& watcher = progress != nullptr ? *progress : noProgress;

    // The local file is opened first: a mistyped path must not create (and so empty) the
    // device file.
    const auto localFile = resolveLocalPath (localPath);
    std::unique_ptr<juce::FileInputStream> input;

    if (localFile != juce::File() && localFile.existsAsFile())
        input = localFile.createInputStream();

    if (input == nullptr || ! input->openedOk())
    {
        logLine ("Couldn't create input stream");
        return -1;
    }

    const auto size = input->getTotalLength();
    juce::int64 handle = 0;

    if (transferCancelled() || openRemoteFile (remotePath, 0, handle) != 0)
        return -1;

    watcher.fileStarted (localPath, remotePath, size);

    const auto fail = [&] (bool removePartialFile)
    {
        input.reset();
        closeAfterFailedTransfer (handle);

        if (removePartialFile)
            deleteRemoteEntry (remotePath);

        watcher.fileFinished (false);
        return -1;
    };

    FileWriteRequest request (handle, *input);
    juce::int32 blockIndex = 0;

    while (input->getPosition() < input->getTotalLength())
    {
        if (transferCancelled())
            return fail (true);

        if (sendRequestAndWait (request, writeBlockTimeoutMs) == nullptr)
        {
            logLine ("Failed on write");
            return fail (false);
        }

        if (request.getLastBlockSize() == 0)
        {
            logLine ("Couldn't read " + localPath + " beyond byte " + juce::String (input->getPosition()));
            logLine ("Failed on write");
            return fail (false);
        }

        if (isProgressBlock (blockIndex))
            logLine ("Block " + juce::String (blockIndex) + " Sent.");

        ++blockIndex;
        request.takeNextSerialNumber();
        watcher.blockDone (input->getPosition());
    }

    input.reset();

    if (closeRemoteFile (handle) != 0)
    {
        watcher.fileFinished (false);
        return -1;
    }

    logLine (formatTransferReport (size, juce::Time::currentTimeMillis() - startTime));
    watcher.fileFinished (true);
    return 0;
}

int VeltraneClient::getFile (const juce::String& remotePath, const juce::String& localPath)
{
    const auto startTime = juce::Time::currentTimeMillis();
    auto& watcher = progress != nullptr ? *progress : noProgress;
    juce::int64 handle = 0, size = 0;

    if (transferCancelled() || openRemoteFile (remotePath, 1, handle, &size) != 0)
        return -1;

    logLine ("Getting remote file " + remotePath);
    watcher.fileStarted (remotePath, localPath, size);

    // The data goes into a temporary file beside the target, so that an existing file
    // stays as it was until the whole remote file has arrived.
    const auto localFile = resolveLocalPath (localPath);
    std::unique_ptr<juce::TemporaryFile> partial;
    std::unique_ptr<juce::FileOutputStream> output;

    if (localFile != juce::File() && ! localFile.isDirectory())
    {
        partial = std::make_unique<juce::TemporaryFile> (localFile, juce::TemporaryFile::useHiddenFile);
        output = partial->getFile().createOutputStream (localOutputBufferSize);
    }

    const auto fail = [&] (const juce::String& reason)
    {
        if (reason.isNotEmpty())
            logLine (reason);

        output.reset();
        partial.reset();    // removes the temporary file
        closeAfterFailedTransfer (handle);
        watcher.fileFinished (false);
        return -1;
    };

    if (output == nullptr || ! output->openedOk())
        return fail ("Couldn't create output stream");

    // Every block asks for at most 8169 bytes; computed in 64 bits, so that a file of
    // 4 GiB or more doesn't ask for its size's low 32 bits.
    FileReadRequest request (handle, (juce::uint32) juce::jlimit ((juce::int64) 0, (juce::int64) maxFileBlockSize, size));
    juce::int32 blockIndex = 0;

    while (output->getPosition() < size)
    {
        if (transferCancelled())
            return fail ({});

        auto response = sendRequestAndWait (request, readBlockTimeoutMs);

        if (response == nullptr)
            return fail ("Failed on read");

        if (isProgressBlock (blockIndex))
            logLine ("Block " + juce::String (blockIndex) + " Received.");

        ++blockIndex;
        auto& block = static_cast<FileReadResponse&> (*response);
        const auto position = output->getPosition();

        if (block.getCount() <= 0)
        {
            logLine ("The device sent no data at byte " + juce::String (position) + " of " + juce::String (size));
            return fail ("Failed on read");
        }

        if (block.getCount() > size - position)
        {
            logLine ("The device sent more than the " + juce::String (size) + " bytes it announced for "
                     + remotePath);
            return fail ("Failed on read");
        }

        if (! output->write (block.getData(), (size_t) block.getCount()))
        {
            logLine ("Couldn't write file - " + localPath);
            return fail ("Failed on read");
        }

        request.takeNextSerialNumber();
        watcher.blockDone (output->getPosition());
    }

    // The stream keeps the result of its last write to itself, so the file on disk is
    // measured: a disk that filled up during the final flush leaves it short.
    output->flush();
    const bool written = output->getStatus().wasOk();
    output.reset();

    if (! written || partial->getFile().getSize() != size)
        return fail ("Couldn't write file - " + localPath);

    if (! partial->overwriteTargetFileWithTemporary())
        return fail ("Couldn't write file - " + localPath);

    partial.reset();

    if (closeRemoteFile (handle) != 0)
    {
        watcher.fileFinished (false);
        return -1;
    }

    logLine (formatTransferReport (size, juce::Time::currentTimeMillis() - startTime));
    watcher.fileFinished (true);
    return 0;
}

int VeltraneClient::sendFolder (const juce::String& localFolderPath, const juce::String& remotePath)
{
    const auto localFolder = resolveLocalPath (localFolderPath);
    (progress != nullptr ? *progress : noProgress).treeStarted (countFilesToSend (localFolder));
    return sendFolderTree (localFolder, remotePath);
}

int VeltraneClient::sendFolderTree (const juce::File& localFolder, const juce::String& remotePath)
{
    FileSystemEntryInfo info;

    if (getRemoteEntryInfo (remotePath, true, info) != 0)
    {
        logLine ("Can't get info for remote folder.");
        return -1;
    }

    if (! info.exists)
        createRemoteFolder (remotePath);

    const auto children = localFolder.findChildFiles (juce::File::findFilesAndDirectories, false, "*",
                                                      juce::File::FollowSymlinks::no);
    bool allSent = true;

    for (const auto& child : children)
    {
        if (transferCancelled())
            return -1;

        const auto remoteChild = remoteChildPath (remotePath, child.getFileName());

        if (child.isDirectory())
        {
            // A linked folder may lead back up the tree and never end.
            if (child.isSymbolicLink())
            {
                logLine ("Skipping linked folder " + child.getFullPathName());
                allSent = false;
                continue;
            }

            allSent = sendFolderTree (child, remoteChild) == 0 && allSent;
        }
        else
        {
            allSent = sendFile (child.getFullPathName(), remoteChild) == 0 && allSent;
        }
    }

    return allSent ? 0 : -1;
}

int VeltraneClient::getFolder (const juce::String& remotePath, const juce::String& localParentPath, const juce::String& name)
{
    const auto localParent = resolveLocalPath (localParentPath);

    if (! localParent.isDirectory())
        return -1;

    // Counting a device tree would take listings of its own on the wire.
    (progress != nullptr ? *progress : noProgress).treeStarted (-1);
    return getFolderTree (remotePath, localParent, name, 1);
}

int VeltraneClient::getFolderTree (const juce::String& remotePath, const juce::File& localParent,
                                   const juce::String& name, int depth)
{
    if (depth > maxFolderDepth)
    {
        logLine ("Not descending into " + remotePath + ": it lies more than " + juce::String (maxFolderDepth)
                 + " folders deep");
        return -1;
    }

    // The name may come from the device ("..", "~" say): the local folder must be an
    // entry of the parent, and nothing else.
    const auto folderName = name.isNotEmpty() ? name : folderNameOf (remotePath);
    const auto localFolder = folderName.isEmpty() ? localParent : childInside (localParent, folderName);

    if (localFolder == juce::File())
    {
        logLine ("Can't name a local folder \"" + folderName + "\" after " + remotePath);
        return -1;
    }

    FolderContentsRequest request (remotePath);
    auto response = sendRequestAndWait (request, readBlockTimeoutMs);

    if (response == nullptr)
        return -1;

    auto& listing = static_cast<FolderContentsResponse&> (*response);
    const auto fileNames = listing.getFileNames();
    const auto folderNames = listing.getFolderNames();
    response.reset();

    localFolder.createDirectory();

    const auto remoteBase = remotePath + "/";
    bool allReceived = true;

    const auto localEntry = [&] (const juce::String& entry)
    {
        const auto file = childInside (localFolder, entry);

        if (file == juce::File())
        {
            logLine ("Skipping the entry \"" + entry + "\" of " + remotePath + ": not a usable file name");
            allReceived = false;
        }

        return file;
    };

    for (const auto& entry : fileNames)
    {
        if (transferCancelled())
            return -1;

        const auto file = localEntry (entry);

        if (file != juce::File())
            allReceived = getFile (remoteBase + entry, file.getFullPathName()) == 0 && allReceived;
    }

    for (const auto& entry : folderNames)
    {
        if (transferCancelled())
            return -1;

        if (localEntry (entry) != juce::File())
            allReceived = getFolderTree (remoteBase + entry, localFolder, {}, depth + 1) == 0 && allReceived;
    }

    return allReceived ? 0 : -1;
}
