#include "base/DeviceText.h"
#include "SimulatorTestSupport.h"

#include "protocol/FrameBuilder.h"

namespace
{
bool contains (const ReceivedMessage& frame, const std::string& bytes)
{
    const std::string all (reinterpret_cast<const char*> (frame.getData()), (size_t) frame.getReceivedCount());
    return all.find (bytes) != std::string::npos;
}
} // namespace

using SimulatorFileSystem = SimulatorTest;

TEST_F (SimulatorFileSystem, AnswersWhoAmIWithTheConfiguredIdentity)
{
    start ({ "--family-id", "0x1a2", "--device-id", "7", "--protocol-version", "0x0101",
             "--firmware-version", "65535", "--first-text", "Test controller", "--second-text", "" });

    WhoAmIRequest whoAmI;
    auto identity = connection.exchange<WhoAmIResponse> (whoAmI);
    ASSERT_NE (identity, nullptr);
    EXPECT_EQ (identity->getFamilyId(), 0x1a2);
    EXPECT_EQ (identity->getDeviceId(), 7);
    EXPECT_EQ (identity->getProtocolVersion(), 0x0101);
    EXPECT_EQ (identity->getFirmwareVersion(), 0xFFFF);
    EXPECT_EQ (identity->getFirstText(), "Test controller");
    EXPECT_EQ (identity->getSecondText(), "");
}

TEST_F (SimulatorFileSystem, ReadsAFileBlockByBlockUntilItsEnd)
{
    const auto content = pattern (20000);
    ASSERT_TRUE (hostFile ("/mnt/nandfs/data.bin").replaceWithData (content.getData(), content.getSize()));
    start();

    juce::int64 size = 0;
    const auto handle = openFile ("/mnt/nandfs/data.bin", 1, &size);
    EXPECT_EQ (size, 20000);
    EXPECT_GT (handle, (juce::int64) 0xFFFFFFFF) << "handles use all 64 bits";

    FileReadRequest read (handle, (juce::uint32) size);
    juce::MemoryOutputStream received;
    std::vector<int> counts;

    for (int block = 0; block < 10; ++block)
    {
        auto answer = connection.exchange<FileReadResponse> (read);
        ASSERT_NE (answer, nullptr);
        counts.push_back (answer->getCount());

        if (answer->getCount() == 0)
            break;

        received.write (answer->getData(), (size_t) answer->getCount());
        read.takeNextSerialNumber();
    }

    EXPECT_EQ (counts, (std::vector<int> { 8169, 8169, 3662, 0 }));
    EXPECT_EQ (received.getMemoryBlock(), content);

    FileCloseRequest close (handle);
    EXPECT_NE (connection.exchange<SuccessResponse> (close), nullptr);

    FileReadRequest afterClose (handle, 10);
    EXPECT_TRUE (connection.expectRefusal (afterClose).contains ("handle"));
}

TEST_F (SimulatorFileSystem, WritesCreateOrTruncateAndSeeksMoveThePosition)
{
    start();
    const auto content = pattern (20000, 2);
    juce::int64 size = -1;
    const auto handle = openFile ("/mnt/nandfs/out.bin", 0, &size);
    EXPECT_EQ (size, 0);

    juce::MemoryInputStream source (content, false);
    FileWriteRequest write (handle, source);

    while (! source.isExhausted())
    {
        ASSERT_NE (connection.exchange<SuccessResponse> (write), nullptr);
        write.takeNextSerialNumber();
    }

    FileCloseRequest close (handle);
    ASSERT_NE (connection.exchange<SuccessResponse> (close), nullptr);

    juce::MemoryBlock written;
    hostFile ("/mnt/nandfs/out.bin").loadFileAsData (written);
    EXPECT_EQ (written, content);

    const auto reading = openFile ("/mnt/nandfs/out.bin", 1, &size);
    EXPECT_EQ (size, 20000);

    auto readAt = [&] (juce::int64 position, int seekMode, juce::uint32 count)
    {
        FileSeekRequest seek (reading, position, (juce::uint8) seekMode);
        EXPECT_NE (connection.exchange<SuccessResponse> (seek), nullptr);
        FileReadRequest read (reading, count);
        auto block = connection.exchange<FileReadResponse> (read);
        return block != nullptr ? juce::MemoryBlock (block->getData(), (size_t) block->getCount()) : juce::MemoryBlock();
    };

    EXPECT_EQ (readAt (100, 0, 10), juce::MemoryBlock (content.begin() + 100, 10));
    EXPECT_EQ (readAt (5, 1, 10), juce::MemoryBlock (content.begin() + 115, 10));
    EXPECT_EQ (readAt (-10, 2, 100), juce::MemoryBlock (content.begin() + 19990, 10));

    FileSeekRequest badMode (reading, 0, 7), beforeStart (reading, -1, 0);
    EXPECT_TRUE (connection.expectRefusal (badMode).isNotEmpty());
    EXPECT_TRUE (connection.expectRefusal (beforeStart).isNotEmpty());

    juce::MemoryInputStream more (content, false);
    FileWriteRequest readOnly (reading, more);
    EXPECT_TRUE (connection.expectRefusal (readOnly).contains ("reading"));

    EXPECT_GE (openFile ("/mnt/nandfs/out.bin", 0, &size), 0);
    EXPECT_EQ (size, 0);
    EXPECT_EQ (hostFile ("/mnt/nandfs/out.bin").getSize(), 0);
}

TEST_F (SimulatorFileSystem, RefusesUnknownHandlesAndFilesThatCantBeOpened)
{
    ASSERT_TRUE (hostFile ("/mnt/nandfs/folder").createDirectory());
    start();

    juce::MemoryInputStream empty (nullptr, 0, false);
    FileReadRequest read (12345, 10);
    FileWriteRequest write (12345, empty);
    FileSeekRequest seek (12345, 0, 0);
    FileCloseRequest close (12345);

    for (VeltraneClientRequest* request : std::initializer_list<VeltraneClientRequest*> { &read, &write, &seek, &close })
        EXPECT_TRUE (connection.expectRefusal (*request).contains ("12345"));

    FileOpenRequest missing ("/mnt/nandfs/missing.txt", 1), folderForReading ("/mnt/nandfs/folder", 1),
                    folderForWriting ("/mnt/nandfs/folder", 0), inMissingFolder ("/mnt/nandfs/none/x.txt", 0);
    EXPECT_TRUE (connection.expectRefusal (missing).contains ("/mnt/nandfs/missing.txt"));
    EXPECT_TRUE (connection.expectRefusal (folderForReading).isNotEmpty());
    EXPECT_TRUE (connection.expectRefusal (folderForWriting).isNotEmpty());
    EXPECT_TRUE (connection.expectRefusal (inMissingFolder).isNotEmpty());
    EXPECT_FALSE (hostFile ("/mnt/nandfs/none").exists());
}

TEST_F (SimulatorFileSystem, ListsNamesAsTheBytesTheHostFileSystemHas)
{
    ASSERT_TRUE (hostFile ("/mnt/nandfs/b.txt").replaceWithText ("b"));
    ASSERT_TRUE (hostFile ("/mnt/nandfs/a.txt").replaceWithText ("a"));
    ASSERT_TRUE (hostFile ("/mnt/nandfs/sub").createDirectory());
    ASSERT_TRUE (hostFile ("/mnt/nandfs").getChildFile (juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f" "e.txt")).replaceWithText ("u"));
    ASSERT_EQ (::mkdir (hostPath ("/mnt/nandfs/caf\xe9").c_str(), 0777), 0);
    ASSERT_TRUE (writeHostFile ("/mnt/nandfs/caf\xe9/inner.txt", "i"));
    start();

    FolderContentsRequest list ("/mnt/nandfs");
    ASSERT_TRUE (connection.send (list));
    auto frame = connection.receiveFrame();
    ASSERT_NE (frame, nullptr);
    EXPECT_TRUE (contains (*frame, "caf\xe9"));
    EXPECT_FALSE (contains (*frame, "caf\xc3\xa9"));
    EXPECT_TRUE (contains (*frame, "Gr\xc3\xbc\xc3\x9f" "e.txt"));

    frame->readShort();
    frame->readInt();
    FolderContentsResponse contents (std::move (frame));
    const auto latin1Name = juce::String::charToString ((juce::juce_wchar) 0xE9);
    EXPECT_EQ (contents.getFileNames(), juce::StringArray (juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f" "e.txt"), "a.txt", "b.txt"));
    ASSERT_EQ (contents.getFolderNames().size(), 2);
    EXPECT_EQ (DeviceText::toDisplay (contents.getFolderNames()[0]), "caf" + latin1Name);
    EXPECT_EQ (contents.getFolderNames()[1], "sub");

    // The name the host received as bytes goes back as those bytes and finds the folder.
    FolderContentsRequest inner ("/mnt/nandfs/" + contents.getFolderNames()[0]);
    auto innerContents = connection.exchange<FolderContentsResponse> (inner);
    ASSERT_NE (innerContents, nullptr);
    EXPECT_EQ (innerContents->getFileNames(), juce::StringArray ({ "inner.txt" }));

    FolderContentsRequest missing ("/mnt/nandfs/missing"), ofAFile ("/mnt/nandfs/a.txt");
    EXPECT_TRUE (connection.expectRefusal (missing).contains ("/mnt/nandfs/missing"));
    EXPECT_TRUE (connection.expectRefusal (ofAFile).isNotEmpty());

    FolderContentsRequest empty ("/mnt/nandfs/sub");
    auto emptyContents = connection.exchange<FolderContentsResponse> (empty);
    ASSERT_NE (emptyContents, nullptr);
    EXPECT_TRUE (emptyContents->getFileNames().isEmpty());
    EXPECT_TRUE (emptyContents->getFolderNames().isEmpty());
}

TEST_F (SimulatorFileSystem, ListingTooLongForOneFrameIsCutToFit)
{
    for (int i = 0; i < 600; ++i)
        ASSERT_TRUE (hostFile ("/mnt/nandfs/big").getChildFile ("file-with-a-long-name-" + juce::String (i).paddedLeft ('0', 4)).create());

    ASSERT_TRUE (hostFile ("/mnt/nandfs/big/zz-folder").createDirectory());
    start();

    FolderContentsRequest list ("/mnt/nandfs/big");
    auto contents = connection.exchange<FolderContentsResponse> (list);
    ASSERT_NE (contents, nullptr);
    EXPECT_LE (contents->getMessage().getPayloadLength(), ReceivedMessage::maxPayloadLength);
    EXPECT_GT (contents->getFileNames().size(), 200);
    EXPECT_LT (contents->getFileNames().size(), 600);
    EXPECT_EQ (contents->getFileNames()[0], "file-with-a-long-name-0000");

    // The line is still in step: the next answer is the next request's.
    WhoAmIRequest whoAmI;
    EXPECT_NE (connection.exchange<WhoAmIResponse> (whoAmI), nullptr);
}

TEST_F (SimulatorFileSystem, EntryInfoReportsSizeTimesAndWhetherAnEntryOfThatKindExists)
{
    const auto content = pattern (1234);
    auto data = hostFile ("/mnt/nandfs/data.bin");
    ASSERT_TRUE (data.replaceWithData (content.getData(), content.getSize()));
    const juce::Time modified (2021, 2, 4, 5, 6, 0, 0, true);
    ASSERT_TRUE (data.setLastModificationTime (modified));
    ASSERT_TRUE (hostFile ("/mnt/nandfs/sub").createDirectory());
    ASSERT_TRUE (hostFile ("/mnt/nandfs/locked.txt").replaceWithText ("x"));
    ASSERT_EQ (::chmod (hostPath ("/mnt/nandfs/locked.txt").c_str(), 0444), 0);
    start();

    auto infoOf = [this] (const juce::String& path, bool isFolder)
    {
        FileSystemEntryInfoRequest request (path, isFolder);
        auto answer = connection.exchange<FileSystemEntryInfoResponse> (request);
        EXPECT_NE (answer, nullptr) << path;
        return answer != nullptr ? answer->getInfo() : FileSystemEntryInfo();
    };

    const auto file = infoOf ("/mnt/nandfs/data.bin", false);
    EXPECT_EQ (file.name, "data.bin");
    EXPECT_TRUE (file.exists);
    EXPECT_EQ (file.size, 1234);
    EXPECT_TRUE (file.writable);
    EXPECT_EQ (file.modificationTime, modified);

    EXPECT_TRUE (infoOf ("/mnt/nandfs/sub", true).exists);
    EXPECT_TRUE (infoOf ("/mnt/nandfs/sub/", true).exists);
    EXPECT_FALSE (infoOf ("/mnt/nandfs/sub", false).exists);
    EXPECT_FALSE (infoOf ("/mnt/nandfs/data.bin", true).exists);
    EXPECT_FALSE (infoOf ("/mnt/nandfs/locked.txt", false).writable);

    const auto missing = infoOf ("/mnt/nandfs/missing.txt", false);
    EXPECT_FALSE (missing.exists);
    EXPECT_EQ (missing.name, "missing.txt");
    EXPECT_EQ (missing.size, 0);
}

TEST_F (SimulatorFileSystem, CreatesMovesAndDeletesEntries)
{
    ASSERT_TRUE (hostFile ("/mnt/nandfs/a.txt").replaceWithText ("a"));
    ASSERT_TRUE (hostFile ("/mnt/nandfs/b.txt").replaceWithText ("b"));
    ASSERT_TRUE (hostFile ("/mnt/nandfs/tree/deeper/leaf.txt").create());
    start();

    FileSystemEntryCreateRequest create ("/mnt/nandfs/new"), again ("/mnt/nandfs/new"), orphan ("/mnt/nandfs/no/new");
    EXPECT_NE (connection.exchange<SuccessResponse> (create), nullptr);
    EXPECT_TRUE (hostFile ("/mnt/nandfs/new").isDirectory());
    EXPECT_TRUE (connection.expectRefusal (again).isNotEmpty());
    EXPECT_TRUE (connection.expectRefusal (orphan).isNotEmpty());

    FileSystemEntryMoveRequest moveFile ("/mnt/nandfs/a.txt", "/mnt/nandfs/new/c.txt", false);
    EXPECT_NE (connection.exchange<SuccessResponse> (moveFile), nullptr);
    EXPECT_FALSE (hostFile ("/mnt/nandfs/a.txt").exists());
    EXPECT_EQ (hostFile ("/mnt/nandfs/new/c.txt").loadFileAsString(), "a");

    FileSystemEntryMoveRequest ontoExisting ("/mnt/nandfs/b.txt", "/mnt/nandfs/new/c.txt", false),
                               fromMissing ("/mnt/nandfs/gone.txt", "/mnt/nandfs/x.txt", false);
    EXPECT_TRUE (connection.expectRefusal (ontoExisting).contains ("exists"));
    EXPECT_EQ (hostFile ("/mnt/nandfs/b.txt").loadFileAsString(), "b");
    EXPECT_EQ (hostFile ("/mnt/nandfs/new/c.txt").loadFileAsString(), "a");
    EXPECT_TRUE (connection.expectRefusal (fromMissing).isNotEmpty());

    FileSystemEntryMoveRequest moveFolder ("/mnt/nandfs/new", "/mnt/nandfs/renamed", true);
    EXPECT_NE (connection.exchange<SuccessResponse> (moveFolder), nullptr);
    EXPECT_TRUE (hostFile ("/mnt/nandfs/renamed/c.txt").existsAsFile());

    FileSystemEntryDeleteRequest deleteFile ("/mnt/nandfs/b.txt"), deleteTree ("/mnt/nandfs/tree"),
                                 deleteMissing ("/mnt/nandfs/b.txt"), deleteRoot ("/");
    EXPECT_NE (connection.exchange<SuccessResponse> (deleteFile), nullptr);
    EXPECT_FALSE (hostFile ("/mnt/nandfs/b.txt").exists());
    EXPECT_NE (connection.exchange<SuccessResponse> (deleteTree), nullptr);
    EXPECT_FALSE (hostFile ("/mnt/nandfs/tree").exists());
    EXPECT_TRUE (connection.expectRefusal (deleteMissing).isNotEmpty());
    EXPECT_TRUE (connection.expectRefusal (deleteRoot).isNotEmpty());
    EXPECT_TRUE (hostFile ("/mnt/nandfs/renamed/c.txt").existsAsFile());
}

TEST_F (SimulatorFileSystem, RefusesPathsThatLeaveTheServedFolder)
{
    auto outside = root.getSiblingFile (root.getFileName() + "-outside");
    ASSERT_TRUE (outside.getChildFile ("secret.txt").create());
    ASSERT_TRUE (hostFile ("/mnt/nandfs/a.txt").replaceWithText ("a"));
    ASSERT_TRUE (hostFile ("/mnt/nandfs/sub/inside.txt").create());
    ASSERT_EQ (::symlink (outside.getFullPathName().toRawUTF8(), hostPath ("/mnt/nandfs/out").c_str()), 0);
    ASSERT_EQ (::symlink ("/nonexistent/target", hostPath ("/mnt/nandfs/dangling").c_str()), 0);
    ASSERT_EQ (::symlink (hostPath ("/mnt/nandfs/sub").c_str(), hostPath ("/mnt/nandfs/in").c_str()), 0);
    start();

    FolderContentsRequest up ("/.."), upAndBack ("/mnt/../../" + root.getFileName()), throughLink ("/mnt/nandfs/out");
    FileOpenRequest readOutside ("/mnt/nandfs/out/secret.txt", 1), writeOutside ("/mnt/nandfs/out/new.txt", 0),
                    writeThroughDangling ("/mnt/nandfs/dangling", 0);
    FileSystemEntryInfoRequest infoOutside ("/mnt/nandfs/out/secret.txt", false);
    FileSystemEntryCreateRequest createOutside ("/mnt/nandfs/out/folder");
    FileSystemEntryDeleteRequest deleteOutside ("/mnt/nandfs/out/secret.txt"), deleteLink ("/mnt/nandfs/out");
    FileSystemEntryMoveRequest moveOut ("/mnt/nandfs/a.txt", "/mnt/nandfs/out/a.txt", false),
                               moveUp ("/mnt/nandfs/a.txt", "/../a.txt", false),
                               moveIn ("/mnt/nandfs/out/secret.txt", "/mnt/nandfs/secret.txt", false);

    for (VeltraneClientRequest* request : std::initializer_list<VeltraneClientRequest*> {
             &up, &upAndBack, &throughLink, &readOutside, &writeOutside, &writeThroughDangling, &infoOutside,
             &createOutside, &deleteOutside, &deleteLink, &moveOut, &moveUp, &moveIn })
        EXPECT_TRUE (connection.expectRefusal (*request).contains ("leaves")) << request->getMessageId();

    EXPECT_TRUE (outside.getChildFile ("secret.txt").existsAsFile());
    EXPECT_EQ (outside.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
    EXPECT_TRUE (hostFile ("/mnt/nandfs/a.txt").existsAsFile());
    EXPECT_FALSE (juce::File ("/nonexistent/target").exists());

    // Links and ".." that stay inside are fine.
    FolderContentsRequest linkInside ("/mnt/nandfs/in");
    auto listed = connection.exchange<FolderContentsResponse> (linkInside);
    ASSERT_NE (listed, nullptr);
    EXPECT_EQ (listed->getFileNames(), juce::StringArray ({ "inside.txt" }));
    EXPECT_GE (openFile ("/mnt/nandfs/sub/../a.txt", 1), 0);

    outside.deleteRecursively();
}

TEST_F (SimulatorFileSystem, AnswersPropertiesFromItsTable)
{
    start();

    GetPropertiesRequest all (juce::Array<juce::uint16> { 1 });
    auto properties = connection.exchange<GetPropertiesResponse> (all);
    ASSERT_NE (properties, nullptr);
    EXPECT_EQ (properties->getIntegerValues().at (0x0002), 100);
    EXPECT_EQ (properties->getTextValues().at (0x8001), "1.0");

    GetPropertyRequest integer ({}, 0x0002), text ({ 3, 4 }, 0x8001), unknown ({}, 0x0099);
    auto integerValue = connection.exchange<GetPropertyResponse> (integer);
    ASSERT_NE (integerValue, nullptr);
    EXPECT_FALSE (integerValue->isTextValue());
    EXPECT_EQ (integerValue->getValue(), 100);

    auto textValue = connection.exchange<GetPropertyResponse> (text);
    ASSERT_NE (textValue, nullptr);
    EXPECT_EQ (textValue->getText(), "1.0");
    EXPECT_TRUE (connection.expectRefusal (unknown).isNotEmpty());
}

TEST_F (SimulatorFileSystem, RefusesUnknownAndMalformedRequestsAndIgnoresItsOwnMessageIds)
{
    start();

    ASSERT_TRUE (connection.sendBytes (FrameBuilder (0x0006).int32 (77).getFrame()));
    auto unknown = connection.receiveResponse();
    ASSERT_NE (dynamic_cast<FailureResponse*> (unknown.get()), nullptr);
    EXPECT_EQ (unknown->getSerialNumber(), 77);

    ASSERT_TRUE (connection.sendBytes (FrameBuilder (0x000C).int32 (78).int16 (1).getFrame()));
    auto shortRead = connection.receiveResponse();
    ASSERT_NE (dynamic_cast<FailureResponse*> (shortRead.get()), nullptr);
    EXPECT_EQ (shortRead->getSerialNumber(), 78);
    EXPECT_TRUE (dynamic_cast<FailureResponse*> (shortRead.get())->getFailureText().contains ("Malformed"));

    // Frames with the ids the device itself sends get no answer: the next answer is WhoAmI's.
    ASSERT_TRUE (connection.sendBytes (FrameBuilder (0x0002).int32 (79).getFrame()));
    ASSERT_TRUE (connection.sendBytes (FrameBuilder (0x8002).int32 (1).int64 (2).getFrame()));
    WhoAmIRequest whoAmI;
    EXPECT_NE (connection.exchange<WhoAmIResponse> (whoAmI), nullptr);
}
