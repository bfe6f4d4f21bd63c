// Whole files and folder trees between the host and the device, block by block.

#include "remotefs/FileTransfer.h"
#include "remotefs/HostPaths.h"
#include "remotefs/LocalFiles.h"
#include "remotefs/LocalTargetResolver.h"
#include "remotefs/LocalTreeWalker.h"
#include "remotefs/TransferReport.h"
#include "protocol/VeltraneClient.h"
#include "base/ILogger.h"

namespace
{
constexpr int writeBlockTimeoutMs = 5000;
constexpr int readBlockTimeoutMs = 1000;
constexpr int localOutputBufferSize = 0x8000;

bool isProgressBlock (juce::int32 blockIndex) noexcept
{
    return (blockIndex & 0xff) == 0;
}

/** Tree transfers join by "/" even at the root ("//name"), as the device has always been
    asked; the listing's join (joinRemotePath) makes "/name" there. */
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

bool FileTransfer::isCancelled()
{
    const bool cancelled = watcher().isCancelled();

    // One line per cancel, however many nested transfers notice it.
    if (cancelled && ! cancelLogged)
        logLine ("Transfer cancelled.");

    cancelLogged = cancelled;
    return cancelled;
}

juce::String FileTransfer::temporaryPathFor (const juce::String& remotePath)
{
    const auto slash = remotePath.lastIndexOfChar ('/');
    return remotePath.substring (0, slash + 1) + "." + remotePath.substring (slash + 1) + ".uploading";
}

//==============================================================================
int FileTransfer::writeFile (const juce::String& localPath, const juce::String& remotePath,
                             const juce::String& writtenPath)
{
    auto& watcher = this->watcher();

    // The local file is opened first: a mistyped path must not create (and so empty) a
    // device file. Only a regular file is opened: a FIFO or a device node may block the
    // open, or never end.
    const auto localFile = resolveLocalPath (localPath);
    std::unique_ptr<juce::FileInputStream> input;

    if (localFile != juce::File() && LocalFiles::kindOf (localFile) == LocalFiles::Kind::other)
        logLine ("Not sending " + localPath + ": not a regular file");
    else if (localFile != juce::File() && localFile.existsAsFile())
        input = localFile.createInputStream();

    if (input == nullptr || ! input->openedOk())
    {
        logLine ("Couldn't create input stream");
        return -1;
    }

    const auto size = input->getTotalLength();
    juce::int64 handle = 0;

    if (isCancelled() || files.openRemoteFile (writtenPath, 0, handle) != 0)
        return -1;

    watcher.fileStarted (localPath, remotePath, size);

    const auto fail = [&] (bool deviceAnswers)
    {
        input.reset();
        files.closeRemoteFile (handle);   // best effort: the transfer has failed whatever the answer

        // A device that stopped answering would only make this wait out its time too.
        if (deviceAnswers)
            files.deleteRemoteEntry (writtenPath);

        watcher.fileFinished (false);
        return -1;
    };

    FileWriteRequest request (handle, *input);
    juce::int32 blockIndex = 0;

    while (input->getPosition() < input->getTotalLength())
    {
        if (isCancelled())
            return fail (true);

        if (files.getClient().sendRequestAndWait (request, writeBlockTimeoutMs) == nullptr)
        {
            logLine ("Failed on write");
            return fail (files.getClient().isConnected());
        }

        if (request.getLastBlockSize() == 0)
        {
            logLine ("Couldn't read " + localPath + " beyond byte " + juce::String (input->getPosition()));
            logLine ("Failed on write");
            return fail (true);
        }

        if (isProgressBlock (blockIndex))
            logLine ("Block " + juce::String (blockIndex) + " Sent.");

        ++blockIndex;
        request.takeNextSerialNumber();
        watcher.blockDone (firstPassDone (input->getPosition()));
    }

    input.reset();

    if (files.closeRemoteFile (handle) != 0)
    {
        watcher.fileFinished (false);
        return -1;
    }

    return 0;
}

int FileTransfer::sendFileInPlace (const juce::String& localPath, const juce::String& remotePath)
{
    const auto startTime = juce::Time::currentTimeMillis();

    if (writeFile (localPath, remotePath, remotePath) != 0)
        return -1;

    if (verify && ! matchesDevice (resolveLocalPath (localPath), remotePath))
    {
        watcher().fileFinished (false);
        return -1;
    }

    logLine (formatTransferReport (resolveLocalPath (localPath).getSize(), juce::Time::currentTimeMillis() - startTime));
    watcher().fileFinished (true);
    return 0;
}

int FileTransfer::sendFile (const juce::String& localPath, const juce::String& remotePath)
{
    const auto startTime = juce::Time::currentTimeMillis();
    const auto temporaryPath = temporaryPathFor (remotePath);

    if (writeFile (localPath, remotePath, temporaryPath) != 0)
        return -1;

    const auto size = resolveLocalPath (localPath).getSize();

    // The old file goes only once the new one is whole on the device, and not at all
    // when the operator cancelled meanwhile.
    if (! files.confirmFileSize (temporaryPath, size)
        || (verify && ! matchesDevice (resolveLocalPath (localPath), temporaryPath))
        || isCancelled() || ! replaceWithTemporary (temporaryPath, remotePath))
    {
        files.deleteRemoteEntry (temporaryPath);
        watcher().fileFinished (false);
        return -1;
    }

    logLine (formatTransferReport (size, juce::Time::currentTimeMillis() - startTime));
    watcher().fileFinished (true);
    return 0;
}

bool FileTransfer::matchesDevice (const juce::File& localFile, const juce::String& remotePath)
{
    juce::FileInputStream local (localFile);
    juce::int64 handle = 0, size = 0;

    if (! local.openedOk() || files.openRemoteFile (remotePath, 1, handle, &size) != 0)
    {
        logLine ("Verify failed: can't read " + remotePath + " back");
        return false;
    }

    FileReadRequest request (handle, (juce::uint32) juce::jlimit ((juce::int64) 0, (juce::int64) maxFileBlockSize, size));
    juce::HeapBlock<char> expected (maxFileBlockSize);
    juce::int64 position = 0;
    juce::String problem;
    const auto differsAt = [&] (juce::int64 offset)
    {
        problem = remotePath + " differs from " + localFile.getFullPathName() + " at byte " + juce::String (offset);
    };

    while (problem.isEmpty() && position < size)
    {
        if (isCancelled())
        {
            problem = "cancelled while reading " + remotePath + " back";
            break;
        }

        auto response = files.getClient().sendRequestAndWait (request, readBlockTimeoutMs);

        if (response == nullptr)
        {
            problem = "can't read " + remotePath + " back at byte " + juce::String (position);
            break;
        }

        auto& block = static_cast<FileReadResponse&> (*response);
        const auto count = (int) juce::jmin ((juce::int64) block.getCount(), size - position);
        const auto got = count > 0 ? local.read (expected, count) : 0;

        for (int i = 0; i < juce::jmin (got, count) && problem.isEmpty(); ++i)
            if ((juce::uint8) expected[i] != block.getData()[i])
                differsAt (position + i);

        if (problem.isEmpty() && (count <= 0 || got != count))
            differsAt (position + juce::jmax (0, juce::jmin (got, count)));

        position += juce::jmax (0, count);
        request.takeNextSerialNumber();

        // The second pass: the second half of the file's progress.
        watcher().blockDone ((size + position) / 2);
    }

    if (problem.isEmpty() && size != localFile.getSize())
        differsAt (juce::jmin (size, localFile.getSize()));

    files.closeRemoteFile (handle);

    if (problem.isEmpty())
        return true;

    logLine ("Verify failed: " + problem);
    return false;
}

bool FileTransfer::replaceWithTemporary (const juce::String& temporaryPath, const juce::String& remotePath)
{
    // A device may refuse to move onto an existing name, so the old file is removed first;
    // from then on the new one is whole under the temporary name.
    if (files.exists (remotePath, false) && files.deleteRemoteEntry (remotePath) != 0)
    {
        logLine ("Couldn't replace " + remotePath);
        return false;
    }

    if (files.moveRemoteEntry (temporaryPath, remotePath, false) == 0)
        return true;

    logLine ("Couldn't move " + temporaryPath + " to " + remotePath);
    return false;
}

int FileTransfer::getFile (const juce::String& remotePath, const juce::String& localPath)
{
    auto localFile = resolveLocalPath (localPath);

    // The standard output is written to on the descriptor it already is (with its own
    // position and appending), whatever it leads to.
    if (LocalFiles::isStandardOutput (localFile))
    {
        juce::String error;
        return getFileToStream (remotePath, *LocalFiles::openStream ({}, error), localPath);
    }

    // A link to a file is written through: the file it leads to is replaced, the link stays.
    if (LocalFiles::isLink (localFile) && LocalFiles::kindOf (localFile) == LocalFiles::Kind::regularFile)
        localFile = LocalFiles::resolve (localFile);

    // A FIFO, a socket or a device node is written to as a stream, never replaced.
    if (localFile != juce::File() && LocalFiles::kindOf (localFile) == LocalFiles::Kind::other)
    {
        juce::String error;
        const auto stream = LocalFiles::openStream (localFile, error);

        if (stream == nullptr)
        {
            logLine ("Couldn't open " + localPath + ": " + error);
            return -1;
        }

        return getFileToStream (remotePath, *stream, localPath);
    }

    const auto startTime = juce::Time::currentTimeMillis();
    juce::int64 handle = 0, size = 0;

    if (isCancelled() || files.openRemoteFile (remotePath, 1, handle, &size) != 0)
        return -1;

    logLine ("Getting remote file " + remotePath);
    watcher().fileStarted (remotePath, localPath, size);

    // The data goes into a temporary file beside the target, so that an existing file
    // stays as it was until the whole remote file has arrived.
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
        files.closeRemoteFile (handle);   // best effort: the transfer has failed whatever the answer
        watcher().fileFinished (false);
        return -1;
    };

    if (output == nullptr || ! output->openedOk())
        return fail ("Couldn't create output stream");

    if (! receiveBlocks (handle, size, remotePath, *output, localPath))
        return fail ({});

    // The stream keeps the result of its last write to itself, so the file on disk is
    // measured: a disk that filled up during the final flush leaves it short.
    output->flush();
    const bool written = output->getStatus().wasOk();
    output.reset();

    if (! written || partial->getFile().getSize() != size)
        return fail ("Couldn't write file - " + localPath);

    // Read a second time: a device that answers differently twice can't be trusted.
    if (verify && ! matchesDevice (partial->getFile(), remotePath))
        return fail ({});

    if (! partial->overwriteTargetFileWithTemporary())
        return fail ("Couldn't write file - " + localPath);

    partial.reset();
    return finishGet (handle, size, startTime);
}

int FileTransfer::getFileToStream (const juce::String& remotePath, juce::OutputStream& stream, const juce::String& streamName)
{
    // What has gone into a stream can't be read again to compare.
    if (verify)
    {
        logLine ("Can't verify a copy into " + streamName + ": it can't be read back");
        return -1;
    }

    const auto startTime = juce::Time::currentTimeMillis();
    juce::int64 handle = 0, size = 0;

    if (isCancelled() || files.openRemoteFile (remotePath, 1, handle, &size) != 0)
        return -1;

    logLine ("Getting remote file " + remotePath);
    watcher().fileStarted (remotePath, streamName, size);

    if (! receiveBlocks (handle, size, remotePath, stream, streamName))
    {
        files.closeRemoteFile (handle);
        watcher().fileFinished (false);
        return -1;
    }

    stream.flush();
    return finishGet (handle, size, startTime);
}

bool FileTransfer::receiveBlocks (juce::int64 handle, juce::int64 size, const juce::String& remotePath,
                                  juce::OutputStream& output, const juce::String& localName)
{
    // Every block asks for at most 8169 bytes; computed in 64 bits, so that a file of
    // 4 GiB or more doesn't ask for its size's low 32 bits.
    FileReadRequest request (handle, (juce::uint32) juce::jlimit ((juce::int64) 0, (juce::int64) maxFileBlockSize, size));
    juce::int32 blockIndex = 0;
    juce::int64 position = 0;

    while (position < size)
    {
        if (isCancelled())
            return false;

        auto response = files.getClient().sendRequestAndWait (request, readBlockTimeoutMs);

        if (response == nullptr)
        {
            logLine ("Failed on read");
            return false;
        }

        if (isProgressBlock (blockIndex))
            logLine ("Block " + juce::String (blockIndex) + " Received.");

        ++blockIndex;
        auto& block = static_cast<FileReadResponse&> (*response);

        if (block.getCount() <= 0)
        {
            logLine ("The device sent no data at byte " + juce::String (position) + " of " + juce::String (size));
            logLine ("Failed on read");
            return false;
        }

        if (block.getCount() > size - position)
        {
            logLine ("The device sent more than the " + juce::String (size) + " bytes it announced for "
                     + remotePath);
            logLine ("Failed on read");
            return false;
        }

        if (! output.write (block.getData(), (size_t) block.getCount()))
        {
            logLine ("Couldn't write file - " + localName);
            logLine ("Failed on read");
            return false;
        }

        position += block.getCount();
        request.takeNextSerialNumber();
        watcher().blockDone (firstPassDone (position));
    }

    return true;
}

int FileTransfer::finishGet (juce::int64 handle, juce::int64 size, juce::int64 startTime)
{
    if (files.closeRemoteFile (handle) != 0)
    {
        watcher().fileFinished (false);
        return -1;
    }

    logLine (formatTransferReport (size, juce::Time::currentTimeMillis() - startTime));
    watcher().fileFinished (true);
    return 0;
}

int FileTransfer::sendFolder (const juce::String& localFolderPath, const juce::String& remotePath)
{
    const auto localFolder = resolveLocalPath (localFolderPath);
    watcher().treeStarted (LocalTreeWalker::countFiles (localFolder));

    LocalTreeWalker walker (localFolder);
    const auto result = sendFolderTree (walker, localFolder, remotePath);
    return result == 0 && walker.isComplete() ? 0 : -1;
}

int FileTransfer::sendFolderTree (LocalTreeWalker& walker, const juce::File& localFolder, const juce::String& remotePath)
{
    FileSystemEntryInfo info;

    if (files.getRemoteEntryInfo (remotePath, true, info) != 0)
    {
        logLine ("Can't get info for remote folder.");
        return -1;
    }

    if (! info.exists)
        files.createRemoteFolder (remotePath);

    bool allSent = true;

    for (const auto& entry : walker.entriesOf (localFolder))
    {
        if (isCancelled())
            return -1;

        const auto remoteChild = remoteChildPath (remotePath, entry.file.getFileName());

        if (entry.isFolder)
            allSent = sendFolderTree (walker, entry.file, remoteChild) == 0 && allSent;
        else
            allSent = sendFile (entry.file.getFullPathName(), remoteChild) == 0 && allSent;
    }

    return allSent ? 0 : -1;
}

//==============================================================================
/** What one getFolder has seen so far: where its files may go and how much it visited. */
struct FileTransfer::DeviceTree
{
    explicit DeviceTree (const juce::File& chosenFolder) : targets (chosenFolder) {}

    /** Counts one more entry; false (logged once) once the tree has had its share. */
    bool visit()
    {
        if (++entriesVisited <= maxTreeEntries)
            return true;

        if (entriesVisited == maxTreeEntries + 1)
            logLine ("Stopping: the device tree holds more than " + juce::String (maxTreeEntries) + " entries");

        return false;
    }

    LocalTargetResolver targets;
    int entriesVisited = 0;
};

int FileTransfer::getFolder (const juce::String& remotePath, const juce::String& localParentPath, const juce::String& name)
{
    const auto localParent = resolveLocalPath (localParentPath);

    if (! localParent.isDirectory())
        return -1;

    // Counting a device tree would take listings of its own on the wire.
    watcher().treeStarted (-1);

    // The name may come from the device ("..", "~" say): the local folder must be an
    // entry of the parent, and nothing else.
    DeviceTree tree (localParent);
    const auto folderName = name.isNotEmpty() ? name : folderNameOf (remotePath);
    const auto localFolder = folderName.isEmpty() ? localParent : tree.targets.childInside (localParent, folderName);

    if (localFolder == juce::File())
    {
        logLine ("Can't name a local folder \"" + folderName + "\" after " + remotePath);
        return -1;
    }

    return getFolderTree (tree, remotePath, localFolder, 1, nullptr);
}

int FileTransfer::getFolderTree (DeviceTree& tree, const juce::String& remotePath, const juce::File& localFolder,
                                 int depth, const juce::StringArray* parentListing)
{
    if (depth > maxFolderDepth)
    {
        logLine ("Not descending into " + remotePath + ": it lies more than " + juce::String (maxFolderDepth)
                 + " folders deep");
        return -1;
    }

    juce::StringArray fileNames, folderNames;

    if (files.getFolderContents (remotePath, &fileNames, &folderNames) != 0)
        return -1;

    // Files, then a separator no name holds, then folders: one list to compare with the parent's.
    auto listing = fileNames;
    listing.add ("/");
    listing.addArray (folderNames);

    if (parentListing != nullptr && listing == *parentListing)
    {
        logLine ("Not descending into " + remotePath + ": it lists the same entries as its parent, a loop");
        return -1;
    }

    if (! tree.targets.createFolder (localFolder))
        return -1;

    // What the device may have left out of the listing isn't copied: the tree isn't whole.
    bool allReceived = ! files.lastListingMayBeCut();

    for (int i = 0; i < listing.size(); ++i)
    {
        const bool isFolder = i > fileNames.size();

        if (i == fileNames.size())
            continue;

        if (isCancelled() || ! tree.visit())
            return -1;

        const auto& entry = listing[i];
        const auto remoteEntry = remoteChildPath (remotePath, entry);
        juce::String whyNot;
        const auto file = tree.targets.childInside (localFolder, entry, &whyNot);

        if (file == juce::File())
        {
            logLine ("Skipping the entry \"" + entry + "\" of " + remotePath + ": " + whyNot);
            allReceived = false;
        }
        else if (isFolder)
            allReceived = getFolderTree (tree, remoteEntry, file, depth + 1, &listing) == 0 && allReceived;
        else
            allReceived = getFile (remoteEntry, file.getFullPathName()) == 0 && allReceived;
    }

    return allReceived ? 0 : -1;
}
