#include "remotefs/ClientSession.h"
#include "base/DeviceText.h"

#if ! JUCE_WINDOWS
 #include <sys/stat.h>
#endif

using RemoteFiles = ClientSession;

TEST_F (RemoteFiles, IdentifyDeviceReturnsTheWhoAmIFields)
{
    connect ({}, { "--family-id", "0x12", "--device-id", "3", "--protocol-version", "0x0100",
                   "--firmware-version", "0xBEEF", "--first-text", "KX9 controller", "--second-text", "rev B" });
    DeviceIdentity identity;

    ASSERT_EQ (files.identifyDevice (identity), 0);
    EXPECT_EQ (identity.familyId, 0x12);
    EXPECT_EQ (identity.deviceId, 3);
    EXPECT_EQ (identity.protocolVersion, 0x100);
    EXPECT_EQ (identity.firmwareVersion, 0xBEEF);
    EXPECT_EQ (identity.firstText, "KX9 controller");
    EXPECT_EQ (identity.secondText, "rev B");
}

TEST_F (RemoteFiles, OpenGivesTheHandleAndOnlyWhenAskedTheSize)
{
    connect();
    device.writeFile ("/mnt/nandfs/data.bin", SimulatedDevice::pattern (1234));

    juce::int64 handle = 0, size = -1;
    ASSERT_EQ (files.openRemoteFile ("/mnt/nandfs/data.bin", 1, handle, &size), 0);
    EXPECT_EQ (size, 1234);
    EXPECT_EQ (handle, 0x100000001LL);   // the simulator's handles lie above 32 bits
    EXPECT_EQ (files.closeRemoteFile (handle), 0);

    juce::int64 second = 0;
    ASSERT_EQ (files.openRemoteFile ("/mnt/nandfs/data.bin", 1, second), 0);
    EXPECT_NE (second, 0);
    EXPECT_EQ (files.closeRemoteFile (second), 0);

    EXPECT_EQ (device.getRequests ("FileOpenRequest"),
               linesOf ({ "FileOpenRequest serial=" + juce::String (VeltraneClientRequest::peekSerialNumber() - 4)
                                        + " path=/mnt/nandfs/data.bin access=1 mode=1",
                                    "FileOpenRequest serial=" + juce::String (VeltraneClientRequest::peekSerialNumber() - 2)
                                        + " path=/mnt/nandfs/data.bin access=1 mode=1" }));
    EXPECT_TRUE (lines().isEmpty());
}

TEST_F (RemoteFiles, RefusedOpenAndCloseLeaveTheirOwnLines)
{
    connect();
    juce::int64 handle = 5, size = 6;
    const auto serial = nextSerial();

    EXPECT_EQ (files.openRemoteFile ("/mnt/nandfs/missing", 1, handle, &size), -1);
    EXPECT_EQ (handle, 5);
    EXPECT_EQ (size, 6);

    auto logged = lines();
    ASSERT_EQ (logged.size(), 2);
    EXPECT_TRUE (logged[0].endsWith (" serial# " + serial)) << logged[0];
    EXPECT_EQ (logged[1], "failed to open remote file");

    logger.clear();
    EXPECT_EQ (files.closeRemoteFile (999), -1);
    EXPECT_EQ (lines().size(), 2);
    EXPECT_EQ (lines()[1], "failed to close remote file");
}

TEST_F (RemoteFiles, ListingsReplaceTheGivenLists)
{
    connect();
    device.writeFile ("/mnt/nandfs/usr/b.txt", "b");
    device.writeFile ("/mnt/nandfs/usr/a.txt", "a");
    device.fileAt ("/mnt/nandfs/usr/sub").createDirectory();
    device.fileAt ("/mnt/nandfs/empty").createDirectory();

    juce::StringArray fileNames { "old" }, folders { "old" };
    ASSERT_EQ (files.getFolderContents ("/mnt/nandfs/usr", &fileNames, &folders), 0);
    EXPECT_EQ (fileNames, linesOf ({ "a.txt", "b.txt" }));
    EXPECT_EQ (folders, linesOf ({ "sub" }));

    ASSERT_EQ (files.getFolderContents ("/mnt/nandfs/empty", &fileNames, &folders), 0);
    EXPECT_TRUE (fileNames.isEmpty());
    EXPECT_TRUE (folders.isEmpty());

    EXPECT_EQ (files.getFolderContents ("/mnt/nandfs/usr", nullptr, nullptr), 0);
    EXPECT_EQ (device.getRequests ("FolderContentsRequest").size(), 3);
}

TEST_F (RemoteFiles, EntryInfoReportsTheDeviceRecordOrLeavesTheCallersOwn)
{
    connect ({ "FileSystemEntryInfoRequest path=/mnt/nandfs/locked fail Busy" });
    const auto file = device.writeFile ("/mnt/nandfs/notes.txt", "hello");
    const auto modified = juce::Time (2024, 1, 29, 13, 45, 0, 0, true);
    file.setLastModificationTime (modified);

    FileSystemEntryInfo info;
    ASSERT_EQ (files.getRemoteEntryInfo ("/mnt/nandfs/notes.txt", false, info), 0);
    EXPECT_TRUE (info.exists);
    EXPECT_EQ (info.size, 5);
    EXPECT_TRUE (info.writable);
    EXPECT_EQ (info.modificationTime, modified);

    FileSystemEntryInfo missing;
    ASSERT_EQ (files.getRemoteEntryInfo ("/mnt/nandfs/none", true, missing), 0);
    EXPECT_FALSE (missing.exists);

    FileSystemEntryInfo untouched;
    untouched.size = 42;
    EXPECT_EQ (files.getRemoteEntryInfo ("/mnt/nandfs/locked", true, untouched), -1);
    EXPECT_EQ (untouched.size, 42);
    EXPECT_EQ (untouched.modificationTime, juce::Time());
}

TEST_F (RemoteFiles, CreateMoveAndDeleteChangeTheDevice)
{
    connect();
    device.writeFile ("/mnt/nandfs/a.txt", "a");

    EXPECT_EQ (files.createRemoteFolder ("/mnt/nandfs/new"), 0);
    EXPECT_TRUE (device.fileAt ("/mnt/nandfs/new").isDirectory());

    EXPECT_EQ (files.moveRemoteEntry ("/mnt/nandfs/a.txt", "/mnt/nandfs/new/b.txt", false), 0);
    EXPECT_TRUE (device.fileAt ("/mnt/nandfs/new/b.txt").existsAsFile());

    EXPECT_EQ (files.moveRemoteEntry ("/mnt/nandfs/new", "/mnt/nandfs/renamed", true), 0);
    EXPECT_EQ (files.deleteRemoteEntry ("/mnt/nandfs/renamed"), 0);
    EXPECT_FALSE (device.fileAt ("/mnt/nandfs/renamed").exists());

    EXPECT_EQ (files.deleteRemoteEntry ("/mnt/nandfs/renamed"), -1);   // refused: it's gone

    const auto moves = device.getRequests ("FileSystemEntryMoveRequest");
    ASSERT_EQ (moves.size(), 2);
    EXPECT_TRUE (moves[0].contains ("isFolder=0 from=/mnt/nandfs/a.txt to=/mnt/nandfs/new/b.txt flags=0,1"));
    EXPECT_TRUE (moves[1].contains ("isFolder=1 from=/mnt/nandfs/new to=/mnt/nandfs/renamed flags=0,1"));
    EXPECT_TRUE (device.getRequests ("FileSystemEntryCreateRequest")[0].endsWith ("path=/mnt/nandfs/new flags=1,1"));
    EXPECT_TRUE (device.getRequests ("FileSystemEntryDeleteRequest")[0].endsWith ("path=/mnt/nandfs/renamed flags=1,1,0"));
}

TEST_F (RemoteFiles, Utf8NamesCanBeListedAndRenamed)
{
    connect();
    const juce::String name = juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f" "e");
    device.fileAt ("/mnt/nandfs/" + name).createDirectory();

    juce::StringArray fileNames, folders;
    ASSERT_EQ (files.getFolderContents ("/mnt/nandfs", &fileNames, &folders), 0);
    EXPECT_EQ (folders, linesOf ({ name }));

    EXPECT_EQ (files.moveRemoteEntry ("/mnt/nandfs/" + name, "/mnt/nandfs/" + name + "2", true), 0);
    EXPECT_TRUE (device.fileAt ("/mnt/nandfs/" + name + "2").isDirectory());
}

TEST_F (RemoteFiles, NamesThatAreNotUtf8GoBackAsTheirOwnBytes)
{
   #if JUCE_WINDOWS
    GTEST_SKIP() << "a Windows test can't make a file whose name isn't UTF-8 on the device's side";
   #else
    // One folder holds "café" twice: once in Latin-1, once in UTF-8. They look the same.
    connect();
    const auto folder = device.getRoot().getFullPathName().toStdString() + "/mnt/nandfs/two";
    const auto shown = juce::String (juce::CharPointer_UTF8 ("caf\xc3\xa9"));
    device.writeFile ("/mnt/nandfs/two/" + shown, "utf-8");
    ASSERT_TRUE (juce::File (folder).getChildFile ("x").replaceWithText ("latin-1"));
    ASSERT_EQ (::rename ((folder + "/x").c_str(), (folder + "/caf\xe9").c_str()), 0);

    juce::StringArray names;
    ASSERT_EQ (files.getFolderContents ("/mnt/nandfs/two", &names, nullptr), 0);
    ASSERT_EQ (names.size(), 2);
    EXPECT_EQ (DeviceText::toDisplay (names[0]), shown);
    EXPECT_EQ (DeviceText::toDisplay (names[1]), shown);

    // Each listed name reaches its own file; a typed name goes as UTF-8.
    for (const auto& name : names)
    {
        const auto local = localFolder().getChildFile ("got");
        ASSERT_EQ (transfer.getFile ("/mnt/nandfs/two/" + name, local.getFullPathName()), 0);
        EXPECT_EQ (local.loadFileAsString(), DeviceText::hasKeptBytes (name) ? "latin-1" : "utf-8");
    }

    const auto latin1 = DeviceText::hasKeptBytes (names[0]) ? names[0] : names[1];
    EXPECT_EQ (files.deleteRemoteEntry ("/mnt/nandfs/two/" + latin1), 0);
    EXPECT_EQ (files.moveRemoteEntry ("/mnt/nandfs/two/" + shown, "/mnt/nandfs/two/typed", false), 0);
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/two/typed").loadFileAsString(), "utf-8");
    EXPECT_EQ (juce::File (folder).getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
   #endif
}
