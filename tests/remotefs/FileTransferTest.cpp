#include "remotefs/ClientSession.h"

namespace
{
constexpr size_t block = 8169;

juce::StringArray progressLines (const juce::StringArray& lines)
{
    juce::StringArray progress;
    for (auto& line : lines)
        if (line.startsWith ("Block "))
            progress.add (line);
    return progress;
}

bool hasReport (const juce::StringArray& lines, juce::int64 size)
{
    for (auto& line : lines)
        if (line.startsWith ("File transfer completed successfully " + juce::String (size) + " bytes in ")
            && line.endsWith (" MBit/s."))
            return true;
    return false;
}

/** Writes the content; unlike File::replaceWithData, an empty content leaves an empty file. */
void writeLocal (const juce::File& file, const juce::MemoryBlock& content)
{
    juce::FileOutputStream out (file);
    out.setPosition (0);
    out.truncate();

    if (content.getSize() > 0)
        out.write (content.getData(), content.getSize());
}

/** The bytes of a block as a string, so that empty blocks compare too (MemoryBlock's own
    comparison passes a null pointer to memcmp for them). */
std::string bytesOf (const juce::MemoryBlock& block)
{
    return block.isEmpty() ? std::string() : std::string (static_cast<const char*> (block.getData()), block.getSize());
}

std::string contentOf (const juce::File& file)
{
    juce::MemoryBlock content;
    file.loadFileAsData (content);
    return bytesOf (content);
}
} // namespace

using FileTransfer = ClientSession;

TEST_F (FileTransfer, FilesGoBothWaysInBlocksOf8169Bytes)
{
    connect();

    for (auto size : { (size_t) 0, block, block + 1, 3 * block - 7 })
    {
        SCOPED_TRACE (size);
        logger.clear();
        const auto content = SimulatedDevice::pattern (size, (int) size);
        const auto local = localFolder().getChildFile ("up-" + juce::String ((int) size));
        writeLocal (local, content);
        const auto writesBefore = device.getRequests ("FileWriteRequest").size();

        ASSERT_EQ (client.sendFile (local.getFullPathName(), "/mnt/nandfs/copy"), 0) << lines().joinIntoString ("\n");
        EXPECT_EQ (contentOf (device.fileAt ("/mnt/nandfs/copy")), bytesOf (content));
        EXPECT_EQ (device.getRequests ("FileWriteRequest").size() - writesBefore, (int) ((size + block - 1) / block));
        EXPECT_TRUE (hasReport (lines(), (juce::int64) size)) << lines().joinIntoString ("\n");

        const auto readsBefore = device.getRequests ("FileReadRequest").size();
        const auto back = localFolder().getChildFile ("down-" + juce::String ((int) size));
        ASSERT_EQ (client.getFile ("/mnt/nandfs/copy", back.getFullPathName()), 0);
        EXPECT_EQ (contentOf (back), bytesOf (content));
        EXPECT_TRUE (back.existsAsFile());
        EXPECT_EQ (device.getRequests ("FileReadRequest").size() - readsBefore, (int) ((size + block - 1) / block));
        EXPECT_TRUE (lines().contains ("Getting remote file /mnt/nandfs/copy"));
    }

    // Every handle the transfers opened was closed again.
    EXPECT_EQ (device.getRequests ("FileOpenRequest").size(), device.getRequests ("FileCloseRequest").size());
}

TEST_F (FileTransfer, ProgressIsLoggedEvery256Blocks)
{
    connect();
    const auto content = SimulatedDevice::pattern (257 * block);
    const auto local = localFolder().getChildFile ("big.bin");
    local.replaceWithData (content.getData(), content.getSize());

    ASSERT_EQ (client.sendFile (local.getFullPathName(), "/mnt/nandfs/big.bin"), 0);
    EXPECT_EQ (progressLines (lines()), linesOf ({ "Block 0 Sent.", "Block 256 Sent." }));

    logger.clear();
    ASSERT_EQ (client.getFile ("/mnt/nandfs/big.bin", localFolder().getChildFile ("back.bin").getFullPathName()), 0);
    EXPECT_EQ (progressLines (lines()), linesOf ({ "Block 0 Received.", "Block 256 Received." }));
    EXPECT_EQ (contentOf (localFolder().getChildFile ("back.bin")), bytesOf (content));

    logger.clear();
    device.writeFile ("/mnt/nandfs/256.bin", SimulatedDevice::pattern (256 * block));
    ASSERT_EQ (client.getFile ("/mnt/nandfs/256.bin", localFolder().getChildFile ("256.bin").getFullPathName()), 0);
    EXPECT_EQ (progressLines (lines()), linesOf ({ "Block 0 Received." }));
}

TEST_F (FileTransfer, AFailedGetLeavesTheExistingLocalFileAsItWas)
{
    connect ({ "FileReadRequest#2 drop" });
    device.writeFile ("/mnt/nandfs/mac.bin", SimulatedDevice::pattern (3 * block));
    const auto local = localFolder().getChildFile ("mac.bin");
    local.replaceWithText ("the old file");

    EXPECT_EQ (client.getFile ("/mnt/nandfs/mac.bin", local.getFullPathName()), -1);
    EXPECT_TRUE (lines().contains ("Failed on read"));
    EXPECT_EQ (local.loadFileAsString(), "the old file");
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles), 1);
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);   // no partial file beside it

    // The device's handle was given back.
    EXPECT_EQ (device.getRequests ("FileCloseRequest").size(), 1);
}

TEST_F (FileTransfer, ARefusedOpenTouchesNothingLocal)
{
    connect();
    const auto local = localFolder().getChildFile ("kept.txt");
    local.replaceWithText ("kept");

    EXPECT_EQ (client.getFile ("/mnt/nandfs/missing", local.getFullPathName()), -1);
    EXPECT_EQ (local.loadFileAsString(), "kept");
    EXPECT_EQ (lastLine(), "failed to open remote file");
}

TEST_F (FileTransfer, ADeviceThatStopsDeliveringEndsTheTransfer)
{
    connect ({ "FileReadRequest#2- read-limit 0" });
    device.writeFile ("/mnt/nandfs/stuck.bin", SimulatedDevice::pattern (2 * block));
    const auto local = localFolder().getChildFile ("stuck.bin");

    EXPECT_EQ (client.getFile ("/mnt/nandfs/stuck.bin", local.getFullPathName()), -1);
    EXPECT_TRUE (lines().contains ("The device sent no data at byte 8169 of 16338"));
    EXPECT_EQ (lastLine(), "Failed on read");
    EXPECT_FALSE (local.exists());
    EXPECT_EQ (device.getRequests ("FileCloseRequest").size(), 1);
}

TEST_F (FileTransfer, FilesOf4GiBAndMoreAskForFullBlocks)
{
    // 4 GiB + 10 bytes: the low 32 bits alone would ask for 10 bytes a block. The file
    // itself is short, so the device runs dry after its real bytes.
    connect ({ "* path=/mnt/nandfs/huge.bin size 4294967306" });
    device.writeFile ("/mnt/nandfs/huge.bin", SimulatedDevice::pattern (100));

    EXPECT_EQ (client.getFile ("/mnt/nandfs/huge.bin", localFolder().getChildFile ("huge.bin").getFullPathName()), -1);
    const auto reads = device.getRequests ("FileReadRequest");
    ASSERT_EQ (reads.size(), 2);
    EXPECT_TRUE (reads[0].endsWith ("count=8169")) << reads[0];
}

TEST_F (FileTransfer, SendingAMissingLocalFileClosesTheRemoteOne)
{
    connect();
    EXPECT_EQ (client.sendFile (localFolder().getChildFile ("none").getFullPathName(), "/mnt/nandfs/x"), -1);
    EXPECT_TRUE (lines().contains ("Couldn't create input stream"));
    EXPECT_EQ (device.getRequests ("FileWriteRequest").size(), 0);
    EXPECT_EQ (device.getRequests ("FileCloseRequest").size(), 1);
}

TEST_F (FileTransfer, AnUnansweredBlockFailsTheSend)
{
    connect ({ "FileWriteRequest#2 drop" });
    const auto local = localFolder().getChildFile ("up.bin");
    const auto content = SimulatedDevice::pattern (3 * block);
    local.replaceWithData (content.getData(), content.getSize());

    EXPECT_EQ (client.sendFile (local.getFullPathName(), "/mnt/nandfs/up.bin"), -1);
    EXPECT_TRUE (lines().contains ("Failed on write"));
    EXPECT_EQ (device.getRequests ("FileWriteRequest").size(), 2);
    EXPECT_FALSE (hasReport (lines(), (juce::int64) content.getSize()));
}

//==============================================================================
TEST_F (FileTransfer, FolderTreesGoBothWays)
{
    connect();
    const auto tree = localFolder().getChildFile ("tree");
    tree.getChildFile ("sub/deeper").createDirectory();
    tree.getChildFile ("a.txt").replaceWithText ("a");
    tree.getChildFile (".hidden").replaceWithText ("h");
    tree.getChildFile ("sub/b.bin").replaceWithData (SimulatedDevice::pattern (block + 5).getData(), block + 5);
    tree.getChildFile ("sub/deeper/c.txt").replaceWithText ("c");

    ASSERT_EQ (client.sendFolder (tree.getFullPathName(), "/mnt/nandfs/tree"), 0);
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/a.txt").loadFileAsString(), "a");
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/.hidden").loadFileAsString(), "h");
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/sub/deeper/c.txt").loadFileAsString(), "c");
    EXPECT_EQ (device.getRequests ("FileSystemEntryCreateRequest").size(), 3);

    // Sending again finds the folders there and creates none.
    ASSERT_EQ (client.sendFolder (tree.getFullPathName(), "/mnt/nandfs/tree"), 0);
    EXPECT_EQ (device.getRequests ("FileSystemEntryCreateRequest").size(), 3);

    const auto target = localFolder().getChildFile ("fetched");
    target.createDirectory();
    ASSERT_EQ (client.getFolder ("/mnt/nandfs/tree/", target.getFullPathName(), {}), 0);
    EXPECT_EQ (target.getChildFile ("tree/a.txt").loadFileAsString(), "a");
    EXPECT_EQ (contentOf (target.getChildFile ("tree/sub/b.bin")), bytesOf (SimulatedDevice::pattern (block + 5)));
    EXPECT_EQ (target.getChildFile ("tree/sub/deeper/c.txt").loadFileAsString(), "c");

    ASSERT_EQ (client.getFolder ("/mnt/nandfs/tree/sub", target.getFullPathName(), "renamed"), 0);
    EXPECT_TRUE (target.getChildFile ("renamed/deeper/c.txt").existsAsFile());
}

TEST_F (FileTransfer, FetchingTheRootPutsItsEntriesIntoTheParent)
{
    connect();
    device.getRoot().getChildFile ("mnt").deleteRecursively();
    device.writeFile ("/top.txt", "top");

    const auto target = localFolder();
    ASSERT_EQ (client.getFolder ("/", target.getFullPathName(), {}), 0);
    EXPECT_EQ (target.getChildFile ("top.txt").loadFileAsString(), "top");
    EXPECT_EQ (device.getRequests ("FileOpenRequest")[0].fromFirstOccurrenceOf ("path=", false, false), "//top.txt access=1 mode=1");
}

TEST_F (FileTransfer, GetFolderNeedsAnExistingLocalParent)
{
    connect();
    EXPECT_EQ (client.getFolder ("/mnt/nandfs", localFolder().getChildFile ("absent").getFullPathName(), {}), -1);
    EXPECT_TRUE (device.getRequestLog().isEmpty());
}

TEST_F (FileTransfer, DeviceNamesThatWouldLeaveTheFolderAreSkipped)
{
    connect ({ "FolderContentsRequest#1 add-files .. a/b \"\" . ../escape",
               "FolderContentsRequest#1 add-folders .. sub\\x5cdir" });
    device.writeFile ("/mnt/nandfs/box/good.txt", "good");
    const auto target = localFolder().getChildFile ("inside");
    target.createDirectory();

    EXPECT_EQ (client.getFolder ("/mnt/nandfs/box", target.getFullPathName(), {}), -1);
    EXPECT_EQ (target.getChildFile ("box/good.txt").loadFileAsString(), "good");
    EXPECT_TRUE (lines().contains ("Skipping the entry \"..\" of /mnt/nandfs/box: not a usable file name"));
    EXPECT_TRUE (lines().contains ("Skipping the entry \"a/b\" of /mnt/nandfs/box: not a usable file name"));

    // Nothing was asked for or written outside the chosen folder.
    EXPECT_EQ (device.getRequests ("FileOpenRequest").size(), 1);
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
    EXPECT_EQ (device.getRequests ("FolderContentsRequest").size(), 1);

    // A folder called ".." can't become a local folder either.
    EXPECT_EQ (client.getFolder ("/mnt/nandfs/box/..", target.getFullPathName(), {}), -1);
}

TEST_F (FileTransfer, AFailedChildFailsTheFolderButTheWalkGoesOn)
{
    connect ({ "FileOpenRequest path=/mnt/nandfs/tree/a.txt fail Busy" });
    const auto tree = localFolder().getChildFile ("tree");
    tree.createDirectory();
    tree.getChildFile ("a.txt").replaceWithText ("a");
    tree.getChildFile ("b.txt").replaceWithText ("b");

    EXPECT_EQ (client.sendFolder (tree.getFullPathName(), "/mnt/nandfs/tree"), -1);
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/b.txt").loadFileAsString(), "b");

    device.writeFile ("/mnt/nandfs/tree/a.txt", "a");
    const auto target = localFolder().getChildFile ("fetched");
    target.createDirectory();
    EXPECT_EQ (client.getFolder ("/mnt/nandfs/tree", target.getFullPathName(), {}), -1);
    EXPECT_EQ (target.getChildFile ("tree/b.txt").loadFileAsString(), "b");
}

TEST_F (FileTransfer, SendFolderNeedsTheRemoteFolderInformation)
{
    connect ({ "FileSystemEntryInfoRequest#1 fail Busy" });
    EXPECT_EQ (client.sendFolder (localFolder().getFullPathName(), "/mnt/nandfs/x"), -1);
    EXPECT_EQ (lastLine(), "Can't get info for remote folder.");
    EXPECT_EQ (device.getRequestLog().size(), 1);
}
