#include "PaneOnDevice.h"

namespace
{
/** Delivers a mouse press and release to the peer at a point of the component, as the
    window system does; a second one soon after makes a double-click. */
void clickAt (juce::Component& component, juce::Point<int> position, juce::int64 time)
{
    auto* peer = component.getPeer();
    const auto inPeer = peer->getComponent().getLocalPoint (&component, position).toFloat();
    const auto mouse = juce::MouseInputSource::InputSourceType::mouse;

    peer->handleMouseEvent (mouse, inPeer, juce::ModifierKeys::leftButtonModifier,
                            juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, time);
    peer->handleMouseEvent (mouse, inPeer, juce::ModifierKeys(),
                            juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, time + 30);
}

juce::String localDateText (juce::Time time)
{
    return time.toString (true, true, false, true).replaceCharacter (':', '.');
}
} // namespace

TEST_F (PaneOnDevice, FirstListsWhenTheTabIsSelectedAndAgainEachTimeItIs)
{
    writeFile (deviceRoot.getChildFile ("boot.cfg"), "x");
    ASSERT_TRUE (connect());

    // Built before the connection, the pane has listed nothing on the device; with no
    // remembered folder its field is empty.
    EXPECT_EQ (requests(), juce::StringArray());
    EXPECT_EQ (folderField().getText(), "");

    showTab();
    EXPECT_EQ (folderField().getText(), "/");
    EXPECT_EQ (requests(), juce::StringArray ({ "FolderContentsRequest path=/",
                                                "FileSystemEntryInfoRequest isFolder=0 path=//boot.cfg",
                                                "FileSystemEntryInfoRequest isFolder=1 path=//mnt" }));
    EXPECT_EQ (listed(), juce::StringArray ({ "boot.cfg", "mnt/" }));

    // A change made on the device meanwhile shows when the tab is selected again.
    writeFile (deviceRoot.getChildFile ("added.txt"), "y");
    mainPane->getTabs().setCurrentTabIndex (0);
    showTab();
    EXPECT_EQ (listed(), juce::StringArray ({ "added.txt", "boot.cfg", "mnt/" }));
}

TEST_F (PaneOnDevice, NormalisesTheTypedFolderBeforeListingIt)
{
    usrFolder.getChildFile ("docs").createDirectory();
    ASSERT_TRUE (connect());

    struct Case { const char* typed; const char* listedPath; };
    const Case cases[] = {
        { "  /mnt//nandfs/usr/ \t", "/mnt/nandfs/usr" },
        { "/mnt///nandfs/usr", "/mnt//nandfs/usr" },     // one pass: three slashes become two
        { "/mnt/nandfs/usr//", "/mnt/nandfs/usr" },
        { "", "/" },
        { "   ", "/" },
        { "/", "/" },
        { "//", "/" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.typed);
        const auto before = requestCount();
        listFolder (c.typed);

        EXPECT_EQ (folderField().getText(), c.listedPath);
        const auto sent = requestsSince (before);
        ASSERT_FALSE (sent.isEmpty());
        EXPECT_EQ (sent[0], juce::String ("FolderContentsRequest path=") + c.listedPath);
    }

    // At the root the entries' paths begin with "//", and go to the device as they are.
    listFolder ("/");
    ASSERT_NE (listedItem ("mnt"), nullptr);
    EXPECT_EQ (listedItem ("mnt")->getPath(), "//mnt");

    // Return, Escape and leaving the field list what it holds.
    const juce::KeyPress keys[] = { juce::KeyPress (juce::KeyPress::returnKey), juce::KeyPress (juce::KeyPress::escapeKey) };

    for (const auto& key : keys)
    {
        const auto before = requestCount();
        folderField().setText ("/mnt/nandfs/usr/", false);
        folderField().keyPressed (key);
        EXPECT_TRUE (dispatchUntil ([&] { return requestsSince (before).contains ("FolderContentsRequest path=/mnt/nandfs/usr"); }, 20000));
        EXPECT_EQ (listed(), juce::StringArray ({ "docs/" }));
    }

    const auto before = requestCount();
    folderField().setText ("/mnt/nandfs", false);
    folderField().focusLost (juce::Component::focusChangedByMouseClick);
    EXPECT_TRUE (dispatchUntil ([&] { return requestsSince (before).contains ("FolderContentsRequest path=/mnt/nandfs"); }, 20000));
    EXPECT_EQ (listed(), juce::StringArray ({ "usr/" }));
}

TEST_F (PaneOnDevice, SortsByCodeUnitsWithFoldersAmongFiles)
{
    for (auto* name : { "alpha.txt", "Zeta.txt", "b.txt", "B.txt", "\xef\xbd\x9e" "wide", "\xf0\x9f\x98\x80" "smile" })
        writeFile (usrFolder.getChildFile (juce::CharPointer_UTF8 (name)), "x");

    for (auto* name : { "Beta", "delta", "both" })
        usrFolder.getChildFile (name).createDirectory();

    // The device also lists "both" as a file: it shows twice, both times as a folder.
    ASSERT_TRUE (connect ({ "FolderContentsRequest add-files both" }));
    listFolder ("/mnt/nandfs/usr");

    // Upper case before lower case; U+1F600 (UTF-16 D83D DE00) before U+FF5E.
    const juce::StringArray expected (juce::String ("B.txt"), "Beta/", "Zeta.txt", "alpha.txt", "b.txt", "both/", "both/", "delta/",
                                      juce::String (juce::CharPointer_UTF8 ("\xf0\x9f\x98\x80" "smile")),
                                      juce::String (juce::CharPointer_UTF8 ("\xef\xbd\x9e" "wide")));
    EXPECT_EQ (listed(), expected);

    const auto infoRequests = ofKind (requests(), "FileSystemEntryInfoRequest");
    EXPECT_EQ (infoRequests.size(), 10);
    EXPECT_EQ (infoRequests.indexOf ("FileSystemEntryInfoRequest isFolder=1 path=/mnt/nandfs/usr/both"), 5);
    EXPECT_EQ (infoRequests[6], "FileSystemEntryInfoRequest isFolder=1 path=/mnt/nandfs/usr/both");
}

TEST_F (PaneOnDevice, RemembersOnlyAFolderThatWasListed)
{
    usrFolder.getChildFile ("docs").createDirectory();
    usrFolder.getSiblingFile ("refused").createDirectory();
    ASSERT_TRUE (connect ({ "FolderContentsRequest path=/mnt/nandfs/refused fail Busy" }));

    listFolder ("/mnt/nandfs/usr/");
    EXPECT_EQ (Settings::get ("RemoteFolder"), "/mnt/nandfs/usr");

    // Saved at once: the settings file already holds it.
    const auto settingsFile = Settings::storageOptions().getDefaultFile();
    EXPECT_TRUE (settingsFile.loadFileAsString().contains ("/mnt/nandfs/usr"));

    for (auto* failing : { "/mnt/nandfs/missing", "/mnt/nandfs/refused" })
    {
        SCOPED_TRACE (failing);
        listFolder (failing);
        EXPECT_EQ (folderField().getText(), failing);
        EXPECT_EQ (listed(), juce::StringArray());
        EXPECT_EQ (Settings::get ("RemoteFolder"), "/mnt/nandfs/usr");
    }

    // A new pane starts with the remembered folder.
    MainPane another;
    EXPECT_EQ (fileSystemPaneOf (another).getRemoteFolderField().getText(), "/mnt/nandfs/usr");
}

TEST_F (PaneOnDevice, EntriesShowSizeAndModificationTimeEvenWhenTheQueryFailed)
{
    const juce::Time modified (2026, 11, 7, 9, 5, 0, 0, true);
    writeFile (usrFolder.getChildFile ("empty.txt"), {});
    usrFolder.getChildFile ("empty.txt").setLastModificationTime (modified);
    writeFile (usrFolder.getChildFile ("disk.img"), "tiny");
    usrFolder.getChildFile ("disk.img").setLastModificationTime (modified);
    writeFile (usrFolder.getChildFile ("locked.bin"), "12345");

    ASSERT_TRUE (connect ({ "FileSystemEntryInfoRequest path=/mnt/nandfs/usr/disk.img size 6000000000",
                            "FileSystemEntryInfoRequest path=/mnt/nandfs/usr/locked.bin fail Locked" }));
    listFolder ("/mnt/nandfs/usr");

    ASSERT_EQ (listed(), juce::StringArray ({ "disk.img", "empty.txt", "locked.bin" }));
    EXPECT_EQ (listedItem ("empty.txt")->getDetailsText(), "0 bytes; modified 7 Dec 2026 9.05");
    EXPECT_EQ (listedItem ("disk.img")->getDetailsText(), "6000000000 bytes; modified 7 Dec 2026 9.05");

    // Listed all the same, with a new record's values.
    EXPECT_EQ (listedItem ("locked.bin")->getDetailsText(), "0 bytes; modified " + localDateText (juce::Time()));
    EXPECT_EQ (listedItem ("locked.bin")->getPath(), "/mnt/nandfs/usr/locked.bin");
}

TEST_F (PaneOnDevice, AListingAskedForDuringAnotherOneIsRefused)
{
    for (auto* name : { "a.txt", "b.txt", "c.txt" })
        writeFile (usrFolder.getChildFile (name), "x");

    writeFile (usrFolder.getSiblingFile ("etc/hosts"), "x");
    ASSERT_TRUE (connect ({ "FileSystemEntryInfoRequest path=/mnt/nandfs/usr/a.txt fail Locked" }));

    // The failed query logs, and logging handles pending messages: here one that lists
    // another folder, as a click on Up would, in the middle of this listing. The device
    // sees nothing of it.
    juce::MessageManager::callAsync ([this] { listFolder ("/mnt/nandfs/etc"); });
    listFolder ("/mnt/nandfs/usr");

    EXPECT_EQ (listed(), juce::StringArray ({ "a.txt", "b.txt", "c.txt" }));
    EXPECT_EQ (Settings::get ("RemoteFolder"), "/mnt/nandfs/usr");
    EXPECT_EQ (ofKind (requests(), "FolderContentsRequest"), juce::StringArray ({ "FolderContentsRequest path=/mnt/nandfs/usr" }));
}

TEST_F (PaneOnDevice, EntryNamesThatWouldAddressAnotherEntryAreNotListed)
{
    writeFile (usrFolder.getChildFile ("real.txt"), "x");
    ASSERT_TRUE (connect ({ "FolderContentsRequest add-files ../../../boot.cfg . a/b",
                            "FolderContentsRequest add-folders .. \"\"" }));
    listFolder ("/mnt/nandfs/usr");

    EXPECT_EQ (listed(), juce::StringArray ({ "real.txt" }));
    EXPECT_EQ (ofKind (requests(), "FileSystemEntryInfoRequest"),
               juce::StringArray ({ "FileSystemEntryInfoRequest isFolder=0 path=/mnt/nandfs/usr/real.txt" }));
    EXPECT_TRUE (logLines().contains ("Skipping the entry \"..\" of /mnt/nandfs/usr: not a usable name"));
    EXPECT_TRUE (logLines().contains ("Skipping the entry \"a/b\" of /mnt/nandfs/usr: not a usable name"));
}

TEST_F (PaneOnDevice, DoubleClickingAFolderListsItInPlaceOfTheList)
{
    usrFolder.getChildFile ("docs").createDirectory();
    writeFile (usrFolder.getChildFile ("docs/inside.txt"), "x");
    writeFile (deviceRoot.getChildFile ("boot.cfg"), "x");
    ASSERT_TRUE (connect());
    showTab();      // lists "/", where the entries' paths begin with "//"

    auto& tree = pane().getTree();
    auto time = juce::Time::currentTimeMillis();

    const auto doubleClick = [&] (const juce::String& label)
    {
        auto* item = listedItem (label);
        ASSERT_NE (item, nullptr);
        const auto centre = item->getItemPosition (true).getCentre();
        time += 2000;   // well apart from the last clicks, so that none counts as a third
        clickAt (tree, centre, time);
        clickAt (tree, centre, time + 100);
    };

    // A file: selected by the clicks, nothing else.
    ASSERT_TRUE (waitForRows());
    const auto before = requestCount();
    doubleClick ("boot.cfg");
    EXPECT_TRUE (listedItem ("boot.cfg")->isSelected());
    EXPECT_EQ (requestCount(), before);

    // A folder: the list becomes that folder's, the clicked item gone with the old list.
    doubleClick ("mnt");
    EXPECT_EQ (folderField().getText(), "/mnt");
    EXPECT_EQ (listed(), juce::StringArray ({ "nandfs/" }));
    EXPECT_TRUE (requests().contains ("FolderContentsRequest path=/mnt"));

    ASSERT_TRUE (waitForRows());
    doubleClick ("nandfs");
    ASSERT_TRUE (waitForRows());
    doubleClick ("usr");
    ASSERT_TRUE (waitForRows());
    doubleClick ("docs");
    EXPECT_EQ (folderField().getText(), "/mnt/nandfs/usr/docs");
    EXPECT_EQ (listed(), juce::StringArray ({ "inside.txt" }));
}

TEST_F (PaneOnDevice, ScreenshotOfTheTabListingAFolder)
{
    const juce::Time modified (2026, 11, 7, 9, 5, 0, 0, true);
    for (auto* name : { "Reports", "logs", "firmware" })
        usrFolder.getChildFile (name).createDirectory();

    writeFile (usrFolder.getChildFile ("calibration.dat"), juce::String::repeatedString ("0123456789", 1000));
    writeFile (usrFolder.getChildFile ("notes.txt"), "Line 4 checked.\n");
    writeFile (usrFolder.getChildFile ("serial.txt"), "SN 000123\n");

    for (auto& file : usrFolder.findChildFiles (juce::File::findFilesAndDirectories, false))
        file.setLastModificationTime (modified);

    Settings::setAndSave ("RemoteFolder", "/mnt/nandfs/usr");
    mainPane = nullptr;
    mainPane = std::make_unique<MainPane>();
    mainPane->setSize (620, 560);
    putOnScreen (*mainPane);

    ASSERT_TRUE (connect());
    showTab();
    ASSERT_EQ (listed().size(), 6);
    select ("notes.txt");
    ASSERT_TRUE (waitForRows());

    const auto snapshot = mainPane->createComponentSnapshot (mainPane->getLocalBounds());
    const auto folder = juce::File (BROWSER_SCREENSHOT_FOLDER);
    folder.createDirectory();
    const auto file = folder.getChildFile ("file-system-tab.png");
    file.deleteFile();

    {
        juce::FileOutputStream output (file);
        ASSERT_TRUE (output.openedOk());
        ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (snapshot, output));
    }

    std::printf ("Screenshot of the \"File System\" tab: %s\n", file.getFullPathName().toRawUTF8());
    RecordProperty ("screenshot", file.getFullPathName().toStdString());

    // The selected row is drawn in the selection colour.
    const auto item = listedItem ("notes.txt");
    ASSERT_NE (item, nullptr);
    const auto row = mainPane->getLocalArea (&pane().getTree(), item->getItemPosition (true));
    EXPECT_EQ (snapshot.getPixelAt (row.getRight() - 3, row.getCentreY()), juce::Colour (0xffbbbbff));
}
