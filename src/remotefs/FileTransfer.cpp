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
} // namespace

void VeltraneClient::closeAfterFailedTransfer (juce::int64 handle)
{
    // Best effort, so that the device doesn't keep the handle open; the transfer has
    // failed whatever the answer.
    closeRemoteFile (handle);
}

int VeltraneClient::sendFile (const juce::String& localPath, const juce::String& remotePath)
{
    const auto startTime = juce::Time::currentTimeMillis();
    juce::int64 handle = 0;

    if (openRemoteFile (remotePath, 0, handle) != 0)
        return -1;

    const auto localFile = resolveLocalPath (localPath);
    const auto size = localFile.getSize();
    std::unique_ptr<juce::FileInputStream> input;

    if (localFile != juce::File())
        input = localFile.createInputStream();

    if (input == nullptr)
    {
        logLine ("Couldn't create input stream");
        closeAfterFailedTransfer (handle);
        return -1;
    }

    FileWriteRequest request (handle, *input);
    juce::int32 blockIndex = 0;

    while (input->getPosition() < input->getTotalLength())
    {
        if (sendRequestAndWait (request, writeBlockTimeoutMs) == nullptr)
        {
            logLine ("Failed on write");
            input.reset();
            closeAfterFailedTransfer (handle);
            return -1;
        }

        if (request.getLastBlockSize() == 0)
        {
            logLine ("Couldn't read " + localPath + " beyond byte " + juce::String (input->getPosition()));
            logLine ("Failed on write");
            input.reset();
            closeAfterFailedTransfer (handle);
            return -1;
        }

        if (isProgressBlock (blockIndex))
            logLine ("Block " + juce::String (blockIndex) + " Sent.");

        ++blockIndex;
        request.takeNextSerialNumber();
    }

    input.reset();

    if (closeRemoteFile (handle) != 0)
        return -1;

    logLine (formatTransferReport (size, juce::Time::currentTimeMillis() - startTime));
    return 0;
}

int VeltraneClient::getFile (const juce::String& remotePath, const juce::String& localPath)
{
    const auto startTime = juce::Time::currentTimeMillis();
    juce::int64 handle = 0, size = 0;

    if (openRemoteFile (remotePath, 1, handle, &size) != 0)
        return -1;

    logLine ("Getting remote file " + remotePath);

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

    if (output == nullptr || ! output->openedOk())
    {
        logLine ("Couldn't create output stream");
        closeAfterFailedTransfer (handle);
        return -1;
    }

    // Every block asks for at most 8169 bytes; computed in 64 bits, so that a file of
    // 4 GiB or more doesn't ask for its size's low 32 bits.
    FileReadRequest request (handle, (juce::uint32) juce::jlimit ((juce::int64) 0, (juce::int64) maxFileBlockSize, size));
    juce::int32 blockIndex = 0;

    const auto fail = [&] (const juce::String& reason)
    {
        if (reason.isNotEmpty())
            logLine (reason);

        logLine ("Failed on read");
        output.reset();
        partial.reset();    // removes the temporary file
        closeAfterFailedTransfer (handle);
        return -1;
    };

    while (output->getPosition() < size)
    {
        auto response = sendRequestAndWait (request, readBlockTimeoutMs);

        if (response == nullptr)
            return fail ({});

        if (isProgressBlock (blockIndex))
            logLine ("Block " + juce::String (blockIndex) + " Received.");

        ++blockIndex;
        auto& block = static_cast<FileReadResponse&> (*response);

        if (block.getCount() <= 0)
            return fail ("The device sent no data at byte " + juce::String (output->getPosition())
                         + " of " + juce::String (size));

        if (! output->write (block.getData(), (size_t) block.getCount()))
            return fail ("Couldn't write file - " + localPath);

        request.takeNextSerialNumber();
    }

    output->flush();
    const bool written = output->getStatus().wasOk();
    output.reset();

    if (! written || ! partial->overwriteTargetFileWithTemporary())
    {
        logLine ("Couldn't write file - " + localPath);
        partial.reset();
        closeAfterFailedTransfer (handle);
        return -1;
    }

    partial.reset();

    if (closeRemoteFile (handle) != 0)
        return -1;

    logLine (formatTransferReport (size, juce::Time::currentTimeMillis() - startTime));
    return 0;
}

int VeltraneClient::sendFolder (const juce::String& localFolderPath, const juce::String& remotePath)
{
    FileSystemEntryInfo info;

    if (getRemoteEntryInfo (remotePath, true, info) != 0)
    {
        logLine ("Can't get info for remote folder.");
        return -1;
    }

    if (! info.exists)
        createRemoteFolder (remotePath);

    const auto localFolder = resolveLocalPath (localFolderPath);
    const auto children = localFolder.findChildFiles (juce::File::findFilesAndDirectories, false, "*",
                                                      juce::File::FollowSymlinks::no);
    bool allSent = true;

    for (const auto& child : children)
    {
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

            allSent = sendFolder (child.getFullPathName(), remoteChild) == 0 && allSent;
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

    // The name may come from the device (a listed folder called ".." say): it must stay
    // one component inside the parent.
    const auto folderName = name.isNotEmpty() ? name : folderNameOf (remotePath);

    if (folderName.isNotEmpty() && ! isSafeEntryName (folderName))
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

    const auto localFolder = folderName.isEmpty() ? localParent : localParent.getChildFile (folderName);
    localFolder.createDirectory();

    const auto remoteBase = remotePath + "/";
    const auto localBase = localFolder.getFullPathName() + juce::File::getSeparatorString();
    bool allReceived = true;

    const auto isUsable = [&] (const juce::String& entry)
    {
        if (isSafeEntryName (entry))
            return true;

        logLine ("Skipping the entry \"" + entry + "\" of " + remotePath + ": not a usable file name");
        allReceived = false;
        return false;
    };

    for (const auto& entry : fileNames)
        if (isUsable (entry))
            allReceived = getFile (remoteBase + entry, localBase + entry) == 0 && allReceived;

    for (const auto& entry : folderNames)
        if (isUsable (entry))
            allReceived = getFolder (remoteBase + entry, localBase, {}) == 0 && allReceived;

    return allReceived ? 0 : -1;
}
