#include "remotefs/ClientSession.h"

#if ! JUCE_WINDOWS
 #include <csignal>
 #include <cstdlib>
 #include <sys/resource.h>
#endif

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

using FileTransfers = ClientSession;

TEST_F (FileTransfers, FilesGoBothWaysInBlocksOf8169Bytes)
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

        ASSERT_EQ (transfer.sendFile (local.getFullPathName(), "/mnt/nandfs/copy"), 0) << lines().joinIntoString ("\n");
        EXPECT_EQ (contentOf (device.fileAt ("/mnt/nandfs/copy")), bytesOf (content));
        EXPECT_EQ (device.getRequests ("FileWriteRequest").size() - writesBefore, (int) ((size + block - 1) / block));
        EXPECT_TRUE (hasReport (lines(), (juce::int64) size)) << lines().joinIntoString ("\n");

        const auto readsBefore = device.getRequests ("FileReadRequest").size();
        const auto back = localFolder().getChildFile ("down-" + juce::String ((int) size));
        ASSERT_EQ (transfer.getFile ("/mnt/nandfs/copy", back.getFullPathName()), 0);
        EXPECT_EQ (contentOf (back), bytesOf (content));
        EXPECT_TRUE (back.existsAsFile());
        EXPECT_EQ (device.getRequests ("FileReadRequest").size() - readsBefore, (int) ((size + block - 1) / block));
        EXPECT_TRUE (lines().contains ("Getting remote file /mnt/nandfs/copy"));
    }

    // Every handle the transfers opened was closed again.
    EXPECT_EQ (device.getRequests ("FileOpenRequest").size(), device.getRequests ("FileCloseRequest").size());
}

TEST_F (FileTransfers, ProgressIsLoggedEvery256Blocks)
{
    connect();
    const auto content = SimulatedDevice::pattern (257 * block);
    const auto local = localFolder().getChildFile ("big.bin");
    local.replaceWithData (content.getData(), content.getSize());

    ASSERT_EQ (transfer.sendFile (local.getFullPathName(), "/mnt/nandfs/big.bin"), 0);
    EXPECT_EQ (progressLines (lines()), linesOf ({ "Block 0 Sent.", "Block 256 Sent." }));

    logger.clear();
    ASSERT_EQ (transfer.getFile ("/mnt/nandfs/big.bin", localFolder().getChildFile ("back.bin").getFullPathName()), 0);
    EXPECT_EQ (progressLines (lines()), linesOf ({ "Block 0 Received.", "Block 256 Received." }));
    EXPECT_EQ (contentOf (localFolder().getChildFile ("back.bin")), bytesOf (content));

    logger.clear();
    device.writeFile ("/mnt/nandfs/256.bin", SimulatedDevice::pattern (256 * block));
    ASSERT_EQ (transfer.getFile ("/mnt/nandfs/256.bin", localFolder().getChildFile ("256.bin").getFullPathName()), 0);
    EXPECT_EQ (progressLines (lines()), linesOf ({ "Block 0 Received." }));
}

TEST_F (FileTransfers, AFailedGetLeavesTheExistingLocalFileAsItWas)
{
    connect ({ "FileReadRequest#2 drop" });
    device.writeFile ("/mnt/nandfs/mac.bin", SimulatedDevice::pattern (3 * block));
    const auto local = localFolder().getChildFile ("mac.bin");
    local.replaceWithText ("the old file");

    EXPECT_EQ (transfer.getFile ("/mnt/nandfs/mac.bin", local.getFullPathName()), -1);
    EXPECT_TRUE (lines().contains ("Failed on read"));
    EXPECT_EQ (local.loadFileAsString(), "the old file");
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles), 1);
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);   // no partial file beside it

    // The device's handle was given back.
    EXPECT_EQ (device.getRequests ("FileCloseRequest").size(), 1);
}

TEST_F (FileTransfers, ARefusedOpenTouchesNothingLocal)
{
    connect();
    const auto local = localFolder().getChildFile ("kept.txt");
    local.replaceWithText ("kept");

    EXPECT_EQ (transfer.getFile ("/mnt/nandfs/missing", local.getFullPathName()), -1);
    EXPECT_EQ (local.loadFileAsString(), "kept");
    EXPECT_EQ (lastLine(), "failed to open remote file");
}

TEST_F (FileTransfers, ADeviceThatStopsDeliveringEndsTheTransfer)
{
    connect ({ "FileReadRequest#2- read-limit 0" });
    device.writeFile ("/mnt/nandfs/stuck.bin", SimulatedDevice::pattern (2 * block));
    const auto local = localFolder().getChildFile ("stuck.bin");

    EXPECT_EQ (transfer.getFile ("/mnt/nandfs/stuck.bin", local.getFullPathName()), -1);
    EXPECT_TRUE (lines().contains ("The device sent no data at byte 8169 of 16338"));
    EXPECT_EQ (lastLine(), "Failed on read");
    EXPECT_FALSE (local.exists());
    EXPECT_EQ (device.getRequests ("FileCloseRequest").size(), 1);
}

TEST_F (FileTransfers, FilesOf4GiBAndMoreAskForFullBlocks)
{
    // 4 GiB + 10 bytes: the low 32 bits alone would ask for 10 bytes a block. The file
    // itself is short, so the device runs dry after its real bytes.
    connect ({ "* path=/mnt/nandfs/huge.bin size 4294967306" });
    device.writeFile ("/mnt/nandfs/huge.bin", SimulatedDevice::pattern (100));

    EXPECT_EQ (transfer.getFile ("/mnt/nandfs/huge.bin", localFolder().getChildFile ("huge.bin").getFullPathName()), -1);
    const auto reads = device.getRequests ("FileReadRequest");
    ASSERT_EQ (reads.size(), 2);
    EXPECT_TRUE (reads[0].endsWith ("count=8169")) << reads[0];
}

TEST_F (FileTransfers, ALocalPathThatIsNoReadableFileNeverReachesTheDevice)
{
    connect();
    device.writeFile ("/mnt/nandfs/KX9image", "the installed image");

    for (const auto& local : { localFolder().getChildFile ("none"), localFolder() })
    {
        EXPECT_EQ (transfer.sendFile (local.getFullPathName(), "/mnt/nandfs/KX9image"), -1);
        EXPECT_EQ (lastLine(), "Couldn't create input stream");
    }

    EXPECT_TRUE (device.getRequestLog().isEmpty());
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/KX9image").loadFileAsString(), "the installed image");
}

TEST_F (FileTransfers, ADownloadThatIsNotExactlyTheAnnouncedSizeKeepsTheOldFile)
{
    // The device announces 10000 bytes but its blocks carry more.
    connect ({ "* path=/mnt/nandfs/long.bin size 10000" });
    device.writeFile ("/mnt/nandfs/long.bin", SimulatedDevice::pattern (24507));
    const auto local = localFolder().getChildFile ("long.bin");
    local.replaceWithText ("the old file");

    EXPECT_EQ (transfer.getFile ("/mnt/nandfs/long.bin", local.getFullPathName()), -1);
    EXPECT_TRUE (lines().contains ("The device sent more than the 10000 bytes it announced for /mnt/nandfs/long.bin"));
    EXPECT_EQ (local.loadFileAsString(), "the old file");
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);

   #if ! JUCE_WINDOWS
    // A disk that fills up while the last bytes are flushed (here a file-size limit): the
    // stream reports no error, so only the size on disk tells.
    device.writeFile ("/mnt/nandfs/mac.bin", SimulatedDevice::pattern (24507));
    rlimit previous {};
    ASSERT_EQ (::getrlimit (RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = ::signal (SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 10000;
    ASSERT_EQ (::setrlimit (RLIMIT_FSIZE, &limited), 0);

    const auto result = transfer.getFile ("/mnt/nandfs/mac.bin", local.getFullPathName());

    ::setrlimit (RLIMIT_FSIZE, &previous);
    ::signal (SIGXFSZ, previousHandler);
    EXPECT_EQ (result, -1);
    EXPECT_EQ (lastLine(), "Couldn't write file - " + local.getFullPathName());
    EXPECT_EQ (local.loadFileAsString(), "the old file");
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
   #endif
}

TEST_F (FileTransfers, AnUnansweredBlockFailsTheSend)
{
    connect ({ "FileWriteRequest#2 drop" });
    const auto local = localFolder().getChildFile ("up.bin");
    const auto content = SimulatedDevice::pattern (3 * block);
    local.replaceWithData (content.getData(), content.getSize());

    EXPECT_EQ (transfer.sendFile (local.getFullPathName(), "/mnt/nandfs/up.bin"), -1);
    EXPECT_TRUE (lines().contains ("Failed on write"));
    EXPECT_EQ (device.getRequests ("FileWriteRequest").size(), 2);
    EXPECT_FALSE (hasReport (lines(), (juce::int64) content.getSize()));
}

//==============================================================================
TEST_F (FileTransfers, FolderTreesGoBothWays)
{
    connect();
    const auto tree = localFolder().getChildFile ("tree");
    tree.getChildFile ("sub/deeper").createDirectory();
    tree.getChildFile ("a.txt").replaceWithText ("a");
    tree.getChildFile (".hidden").replaceWithText ("h");
    tree.getChildFile ("sub/b.bin").replaceWithData (SimulatedDevice::pattern (block + 5).getData(), block + 5);
    tree.getChildFile ("sub/deeper/c.txt").replaceWithText ("c");

    ASSERT_EQ (transfer.sendFolder (tree.getFullPathName(), "/mnt/nandfs/tree"), 0);
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/a.txt").loadFileAsString(), "a");
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/.hidden").loadFileAsString(), "h");
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/sub/deeper/c.txt").loadFileAsString(), "c");
    EXPECT_EQ (device.getRequests ("FileSystemEntryCreateRequest").size(), 3);

    // Sending again finds the folders there and creates none.
    ASSERT_EQ (transfer.sendFolder (tree.getFullPathName(), "/mnt/nandfs/tree"), 0);
    EXPECT_EQ (device.getRequests ("FileSystemEntryCreateRequest").size(), 3);

    const auto target = localFolder().getChildFile ("fetched");
    target.createDirectory();
    ASSERT_EQ (transfer.getFolder ("/mnt/nandfs/tree/", target.getFullPathName(), {}), 0);
    EXPECT_EQ (target.getChildFile ("tree/a.txt").loadFileAsString(), "a");
    EXPECT_EQ (contentOf (target.getChildFile ("tree/sub/b.bin")), bytesOf (SimulatedDevice::pattern (block + 5)));
    EXPECT_EQ (target.getChildFile ("tree/sub/deeper/c.txt").loadFileAsString(), "c");

    ASSERT_EQ (transfer.getFolder ("/mnt/nandfs/tree/sub", target.getFullPathName(), "renamed"), 0);
    EXPECT_TRUE (target.getChildFile ("renamed/deeper/c.txt").existsAsFile());
}

TEST_F (FileTransfers, FetchingTheRootPutsItsEntriesIntoTheParent)
{
    connect();
    device.getRoot().getChildFile ("mnt").deleteRecursively();
    device.writeFile ("/top.txt", "top");

    const auto target = localFolder();
    ASSERT_EQ (transfer.getFolder ("/", target.getFullPathName(), {}), 0);
    EXPECT_EQ (target.getChildFile ("top.txt").loadFileAsString(), "top");
    EXPECT_EQ (device.getRequests ("FileOpenRequest")[0].fromFirstOccurrenceOf ("path=", false, false), "//top.txt access=1 mode=1");
}

TEST_F (FileTransfers, GetFolderNeedsAnExistingLocalParent)
{
    connect();
    EXPECT_EQ (transfer.getFolder ("/mnt/nandfs", localFolder().getChildFile ("absent").getFullPathName(), {}), -1);
    EXPECT_TRUE (device.getRequestLog().isEmpty());
}

TEST_F (FileTransfers, DeviceNamesThatWouldLeaveTheFolderAreSkipped)
{
    connect ({ "FolderContentsRequest#1 add-files .. a/b \"\" . ../escape",
               "FolderContentsRequest#1 add-folders .. sub\\x5cdir" });
    device.writeFile ("/mnt/nandfs/box/good.txt", "good");
    const auto target = localFolder().getChildFile ("inside");
    target.createDirectory();

    EXPECT_EQ (transfer.getFolder ("/mnt/nandfs/box", target.getFullPathName(), {}), -1);
    EXPECT_EQ (target.getChildFile ("box/good.txt").loadFileAsString(), "good");
    EXPECT_TRUE (lines().contains ("Skipping the entry \"..\" of /mnt/nandfs/box: not a usable file name"));
    EXPECT_TRUE (lines().contains ("Skipping the entry \"a/b\" of /mnt/nandfs/box: not a usable file name"));

    // Nothing was asked for or written outside the chosen folder.
    EXPECT_EQ (device.getRequests ("FileOpenRequest").size(), 1);
    EXPECT_EQ (localFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
    EXPECT_EQ (device.getRequests ("FolderContentsRequest").size(), 1);

    // A folder called ".." can't become a local folder either.
    EXPECT_EQ (transfer.getFolder ("/mnt/nandfs/box/..", target.getFullPathName(), {}), -1);
}

TEST_F (FileTransfers, DeviceNamesStayInsideTheChosenFolderWhateverTheySay)
{
   #if JUCE_WINDOWS
    GTEST_SKIP() << "the home folder test needs HOME";
   #else
    // "~" is an ordinary name on the device; the host must not take it as a home folder.
    const juce::TemporaryFile home ("home");
    ASSERT_TRUE (home.getFile().createDirectory());
    const auto previousHome = juce::SystemStats::getEnvironmentVariable ("HOME", {});
    ::setenv ("HOME", home.getFile().getFullPathName().toRawUTF8(), 1);

    connect();
    device.writeFile ("/mnt/nandfs/~/a.txt", "a");
    device.writeFile ("/mnt/nandfs/~/~/b.txt", "b");
    device.writeFile ("/mnt/nandfs/~/~c", "c");
    const auto target = localFolder().getChildFile ("inside");
    target.createDirectory();

    const auto result = transfer.getFolder ("/mnt/nandfs/~", target.getFullPathName(), {});
    ::setenv ("HOME", previousHome.toRawUTF8(), 1);

    EXPECT_EQ (result, 0);
    EXPECT_EQ (target.getChildFile ("./~/a.txt").loadFileAsString(), "a");
    EXPECT_EQ (target.getChildFile ("./~/~/b.txt").loadFileAsString(), "b");
    EXPECT_EQ (target.getChildFile ("./~/~c").loadFileAsString(), "c");
    EXPECT_EQ (home.getFile().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);

    // A link in the chosen folder that a device folder's name meets leads nowhere else.
    device.writeFile ("/mnt/nandfs/box/sub/x.txt", "x");
    ASSERT_TRUE (target.getChildFile ("box").createDirectory());
    ASSERT_TRUE (home.getFile().createSymbolicLink (target.getChildFile ("box/sub"), false));
    EXPECT_EQ (transfer.getFolder ("/mnt/nandfs/box", target.getFullPathName(), {}), -1);
    EXPECT_EQ (home.getFile().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    EXPECT_TRUE (lines().joinIntoString ("\n").contains ("Skipping the entry \"sub\" of /mnt/nandfs/box: it leads out of "));
    home.getFile().deleteRecursively();
   #endif
}

TEST_F (FileTransfers, AFolderThatListsLikeItsParentIsALoopAndIsNotEntered)
{
   #if JUCE_WINDOWS
    GTEST_SKIP() << "the links are made on the device's side";
   #else
    // Two links to the folder itself: the depth bound alone would allow 2^64 paths.
    connect();
    device.writeFile ("/mnt/nandfs/loop/f.txt", "f");
    for (auto name : { "l1", "l2" })
        ASSERT_TRUE (device.fileAt ("/mnt/nandfs/loop").createSymbolicLink (device.fileAt ("/mnt/nandfs/loop/" + juce::String (name)), false));
    const auto target = localFolder().getChildFile ("copy");
    target.createDirectory();

    EXPECT_EQ (transfer.getFolder ("/mnt/nandfs/loop", target.getFullPathName(), {}), -1);
    EXPECT_EQ (device.getRequests ("FolderContentsRequest").size(), 3);
    EXPECT_TRUE (lines().contains ("Not descending into /mnt/nandfs/loop/l2: it lists the same entries as its parent, a loop"));
    EXPECT_EQ (target.getChildFile ("loop/f.txt").loadFileAsString(), "f");
    EXPECT_FALSE (target.getChildFile ("loop/l1").exists());
   #endif
}

TEST_F (FileTransfers, ACancelStopsAfterTheCurrentBlockAndLeavesNothingHalfDone)
{
    struct CancelAfter : TransferProgress
    {
        explicit CancelAfter (int n) : blocksLeft (n) {}
        void blockDone (juce::int64) override  { --blocksLeft; }
        bool isCancelled() override            { return blocksLeft <= 0; }
        int blocksLeft;
    };

    connect();
    device.writeFile ("/mnt/nandfs/big.bin", SimulatedDevice::pattern (4 * block));
    const auto local = localFolder().getChildFile ("big.bin");
    local.replaceWithText ("the old file");

    CancelAfter cancelGet (2);
    transfer.setTransferProgress (&cancelGet);
    EXPECT_EQ (transfer.getFile ("/mnt/nandfs/big.bin", local.getFullPathName()), -1);
    EXPECT_EQ (device.getRequests ("FileReadRequest").size(), 2);
    EXPECT_EQ (device.getRequests ("FileCloseRequest").size(), 1);
    EXPECT_EQ (local.loadFileAsString(), "the old file");
    EXPECT_EQ (lines().joinIntoString ("|").indexOf ("Transfer cancelled."), lines().joinIntoString ("|").lastIndexOf ("Transfer cancelled."));

    // An upload removes what it wrote; a tree takes no further entry.
    const auto tree = localFolder().getChildFile ("tree");
    ASSERT_TRUE (tree.createDirectory());
    for (auto name : { "a.bin", "b.bin" })
        writeLocal (tree.getChildFile (name), SimulatedDevice::pattern (3 * block));
    CancelAfter cancelSend (1);
    transfer.setTransferProgress (&cancelSend);
    EXPECT_EQ (transfer.sendFolder (tree.getFullPathName(), "/mnt/nandfs/tree"), -1);
    transfer.setTransferProgress (nullptr);

    EXPECT_EQ (device.getRequests ("FileWriteRequest").size(), 1);
    EXPECT_EQ (device.getRequests ("FileOpenRequest").size(), 2);   // the get's and a.bin's
    EXPECT_TRUE (device.fileAt ("/mnt/nandfs/tree").isDirectory());
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree").getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    EXPECT_EQ (lastLine(), "Transfer cancelled.");
}

TEST_F (FileTransfers, AFailedChildFailsTheFolderButTheWalkGoesOn)
{
    connect ({ "FileOpenRequest path=/mnt/nandfs/tree/.a.txt.uploading fail Busy",
               "FileOpenRequest path=/mnt/nandfs/tree/a.txt fail Busy" });
    const auto tree = localFolder().getChildFile ("tree");
    tree.createDirectory();
    tree.getChildFile ("a.txt").replaceWithText ("a");
    tree.getChildFile ("b.txt").replaceWithText ("b");

    EXPECT_EQ (transfer.sendFolder (tree.getFullPathName(), "/mnt/nandfs/tree"), -1);
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/tree/b.txt").loadFileAsString(), "b");

    device.writeFile ("/mnt/nandfs/tree/a.txt", "a");
    const auto target = localFolder().getChildFile ("fetched");
    target.createDirectory();
    EXPECT_EQ (transfer.getFolder ("/mnt/nandfs/tree", target.getFullPathName(), {}), -1);
    EXPECT_EQ (target.getChildFile ("tree/b.txt").loadFileAsString(), "b");
}

TEST_F (FileTransfers, SendFolderNeedsTheRemoteFolderInformation)
{
    connect ({ "FileSystemEntryInfoRequest#1 fail Busy" });
    EXPECT_EQ (transfer.sendFolder (localFolder().getFullPathName(), "/mnt/nandfs/x"), -1);
    EXPECT_EQ (lastLine(), "Can't get info for remote folder.");
    EXPECT_EQ (device.getRequestLog().size(), 1);
}

TEST_F (FileTransfers, AnUploadThatDoesNotReadBackKeepsTheOldFile)
{
    // The device stores one byte of the second block wrong and reports success.
    struct Passes : TransferProgress
    {
        void blockDone (juce::int64 bytesDone) override  { done.add (bytesDone); }
        juce::Array<juce::int64> done;
    } passes;

    connect ({ "FileWriteRequest#2 corrupt 5" });
    device.writeFile ("/mnt/nandfs/config.bin", "the old config");
    const auto local = localFolder().getChildFile ("config.bin");
    writeLocal (local, SimulatedDevice::pattern (2 * block));

    transfer.setVerify (true);
    transfer.setTransferProgress (&passes);
    EXPECT_EQ (transfer.sendFile (local.getFullPathName(), "/mnt/nandfs/config.bin"), -1);
    EXPECT_TRUE (lines().contains ("Verify failed: /mnt/nandfs/.config.bin.uploading differs from "
                                   + local.getFullPathName() + " at byte " + juce::String (block + 5)));
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/config.bin").loadFileAsString(), "the old config");
    EXPECT_FALSE (device.fileAt ("/mnt/nandfs/.config.bin.uploading").exists());
    EXPECT_TRUE (device.getRequests ("FileSystemEntryMoveRequest").isEmpty());

    // Writing is the first half of the file's progress, reading back the second.
    EXPECT_EQ (passes.done, juce::Array<juce::int64> ({ block / 2, block, block + block / 2, 2 * block }));
}
