#include "PaneOnDevice.h"

#include <cstdio>

using namespace NameDialogSteps;

namespace
{
/** A step that notes what the dialog shows, for the test to check afterwards. */
NameDialogOperator::Step noteText (juce::String& shown)
{
    return [&shown] (NameAssigner& d) { shown = nameBox (d).getText(); };
}
} // namespace

/** The pane listing /mnt/nandfs/usr, which holds report.txt, notes.txt and the folder logs
    (with one file in it). */
class PaneActions : public PaneOnDevice
{
protected:
    void SetUp() override
    {
        writeFile (usrFolder.getChildFile ("report.txt"), "the report");
        writeFile (usrFolder.getChildFile ("notes.txt"), "some notes");
        writeFile (usrFolder.getChildFile ("logs/today.log"), "line 1\nline 2\n");
        ASSERT_TRUE (connect());
        showTab();      // the dialog can take the keyboard focus only while the pane shows
        listFolder ("/mnt/nandfs/usr");
        ASSERT_EQ (listed(), juce::StringArray ({ "logs/", "notes.txt", "report.txt" }));
    }

    bool click (const juce::String& buttonText)    { return clickAndWait (pane(), buttonText); }
    NameAssigner& dialog()                          { return pane().getNameAssigner(); }

    ScriptedHostDialogs hostDialogs;
};

TEST_F (PaneActions, DeleteAsksFirstAndDeletesOnlyWhenAccepted)
{
    ASSERT_TRUE (select ("report.txt"));
    juce::String question;
    auto before = requestCount();
    {
        NameDialogOperator operatorAtTheDialog (dialog(), { noteText (question), clickCancel() });
        ASSERT_TRUE (click ("Delete"));
        EXPECT_FALSE (operatorAtTheDialog.timedOut());
    }
    EXPECT_EQ (question, "Delete report.txt?");
    EXPECT_FALSE (dialog().isVisible());
    EXPECT_EQ (requestsSince (before), juce::StringArray());
    EXPECT_TRUE (usrFolder.getChildFile ("report.txt").existsAsFile());

    before = requestCount();
    {
        NameDialogOperator operatorAtTheDialog (dialog(), { pressReturn() });
        ASSERT_TRUE (click ("Delete"));
    }
    auto sent = requestsSince (before);
    ASSERT_FALSE (sent.isEmpty());
    EXPECT_EQ (sent[0], "FileSystemEntryDeleteRequest path=/mnt/nandfs/usr/report.txt flags=1,1,0");
    EXPECT_EQ (sent[1], "FolderContentsRequest path=/mnt/nandfs/usr");
    EXPECT_FALSE (usrFolder.getChildFile ("report.txt").exists());
    EXPECT_EQ (listed(), juce::StringArray ({ "logs/", "notes.txt" }));

    // A folder goes the same way, with everything in it.
    ASSERT_TRUE (select ("logs"));
    {
        NameDialogOperator operatorAtTheDialog (dialog(), { noteText (question), clickOk() });
        ASSERT_TRUE (click ("Delete"));
    }
    EXPECT_EQ (question, "Delete logs?");
    EXPECT_TRUE (requests().contains ("FileSystemEntryDeleteRequest path=/mnt/nandfs/usr/logs flags=1,1,0"));
    EXPECT_FALSE (usrFolder.getChildFile ("logs").exists());
    EXPECT_EQ (listed(), juce::StringArray ({ "notes.txt" }));
}

TEST_F (PaneActions, ADialogEndedOtherwiseThanByOkOrReturnIsCancelled)
{
    // As when the program closes: the loop ends with the value OK gives, but nobody answered.
    const auto endAllModalLoops = [] (NameAssigner&) { juce::ModalComponentManager::getInstance()->cancelAllModalComponents(); };
    const auto before = requestCount();

    for (auto* button : { "Delete", "New Folder", "Rename" })
    {
        SCOPED_TRACE (button);
        ASSERT_TRUE (select ("report.txt"));
        NameDialogOperator operatorAtTheDialog (dialog(), { typeText ("/mnt/nandfs/usr/x"), endAllModalLoops });
        ASSERT_TRUE (click (button));
        EXPECT_EQ (operatorAtTheDialog.getStepsPlayed(), 2);
    }

    EXPECT_EQ (requestsSince (before), juce::StringArray());
    EXPECT_EQ (listed(), juce::StringArray ({ "logs/", "notes.txt", "report.txt" }));
}

TEST_F (PaneActions, DeleteGetAndRenameNeedASelection)
{
    const auto before = requestCount();

    for (auto* button : { "Delete", "Get", "Rename" })
    {
        SCOPED_TRACE (button);
        NameDialogOperator operatorAtTheDialog (dialog(), { clickOk() }, 2000);
        ASSERT_TRUE (click (button));
        EXPECT_EQ (operatorAtTheDialog.getStepsPlayed(), 0);
    }

    EXPECT_EQ (requestsSince (before), juce::StringArray());
    EXPECT_TRUE (hostDialogs.calls.empty());
    EXPECT_FALSE (logLines().joinIntoString ("\n").contains ("Folder: "));
}

TEST_F (PaneActions, NewFolderCreatesTheNamedFolderHere)
{
    juce::String offered;
    auto before = requestCount();
    {
        // "NewFolder" is offered selected, so typing replaces it.
        NameDialogOperator operatorAtTheDialog (dialog(), { noteText (offered), focusNameBox(), typeKeys ("Reports"), pressReturn() });
        ASSERT_TRUE (click ("New Folder"));
    }
    EXPECT_EQ (offered, "NewFolder");
    EXPECT_EQ (requestsSince (before)[0], "FileSystemEntryCreateRequest path=/mnt/nandfs/usr/Reports flags=1,1");
    EXPECT_TRUE (usrFolder.getChildFile ("Reports").isDirectory());
    EXPECT_EQ (listed(), juce::StringArray ({ "Reports/", "logs/", "notes.txt", "report.txt" }));

    // An empty name or Cancel: nothing is sent, the list isn't even refreshed.
    for (const auto& answer : { std::vector<NameDialogOperator::Step> { typeText ({}), clickOk() },
                                std::vector<NameDialogOperator::Step> { typeText ("Other"), pressEscape() } })
    {
        before = requestCount();
        NameDialogOperator operatorAtTheDialog (dialog(), answer);
        ASSERT_TRUE (click ("New Folder"));
        EXPECT_EQ (operatorAtTheDialog.getStepsPlayed(), 2);
        EXPECT_EQ (requestsSince (before), juce::StringArray());
    }

    EXPECT_FALSE (usrFolder.getChildFile ("Other").exists());
}

TEST_F (PaneActions, RenameEditsTheWholePathSoItCanMoveTheEntry)
{
    ASSERT_TRUE (select ("notes.txt"));
    juce::String offered;
    auto before = requestCount();
    {
        // Unchanged: no move, but the list is refreshed.
        NameDialogOperator operatorAtTheDialog (dialog(), { noteText (offered), clickOk() });
        ASSERT_TRUE (click ("Rename"));
    }
    EXPECT_EQ (offered, "/mnt/nandfs/usr/notes.txt");
    EXPECT_EQ (ofKind (requestsSince (before), "FileSystemEntryMoveRequest"), juce::StringArray());
    EXPECT_EQ (requestsSince (before)[0], "FolderContentsRequest path=/mnt/nandfs/usr");

    ASSERT_TRUE (select ("notes.txt"));
    before = requestCount();
    {
        NameDialogOperator operatorAtTheDialog (dialog(), { typeText ("/mnt/nandfs/usr/logs/notes-old.txt"), pressReturn() });
        ASSERT_TRUE (click ("Rename"));
    }
    // The destination is asked for first, as a file and as a folder: a move never replaces.
    EXPECT_EQ (requestsSince (before)[0], "FileSystemEntryInfoRequest isFolder=0 path=/mnt/nandfs/usr/logs/notes-old.txt");
    EXPECT_EQ (requestsSince (before)[1], "FileSystemEntryInfoRequest isFolder=1 path=/mnt/nandfs/usr/logs/notes-old.txt");
    EXPECT_EQ (requestsSince (before)[2], "FileSystemEntryMoveRequest isFolder=0 from=/mnt/nandfs/usr/notes.txt "
                                          "to=/mnt/nandfs/usr/logs/notes-old.txt flags=0,1");
    EXPECT_TRUE (usrFolder.getChildFile ("logs/notes-old.txt").existsAsFile());
    EXPECT_EQ (listed(), juce::StringArray ({ "logs/", "report.txt" }));

    // A folder is moved as a folder; Cancel sends nothing.
    ASSERT_TRUE (select ("logs"));
    before = requestCount();
    {
        NameDialogOperator operatorAtTheDialog (dialog(), { typeText ("/mnt/nandfs/usr/archive"), clickCancel() });
        ASSERT_TRUE (click ("Rename"));
    }
    EXPECT_EQ (requestsSince (before), juce::StringArray());

    ASSERT_TRUE (select ("logs"));
    {
        NameDialogOperator operatorAtTheDialog (dialog(), { typeText ("/mnt/nandfs/usr/archive"), clickOk() });
        ASSERT_TRUE (click ("Rename"));
    }
    EXPECT_TRUE (requests().contains ("FileSystemEntryMoveRequest isFolder=1 from=/mnt/nandfs/usr/logs "
                                      "to=/mnt/nandfs/usr/archive flags=0,1"));
    EXPECT_EQ (listed(), juce::StringArray ({ "archive/", "report.txt" }));
}

TEST_F (PaneActions, GetCopiesTheSelectedFileWhereTheOperatorChose)
{
    Settings::set ("LocalFolder", hostFolder.getFullPathName());
    const auto target = hostFolder.getChildFile ("incoming/report-copy.txt");
    target.getParentDirectory().createDirectory();

    ASSERT_TRUE (select ("report.txt"));
    hostDialogs.answerWith (target);
    const auto before = requestCount();
    ASSERT_TRUE (click ("Get"));

    ASSERT_EQ (hostDialogs.calls.size(), 1u);
    EXPECT_EQ (hostDialogs.calls[0].kind, "save");
    EXPECT_EQ (hostDialogs.calls[0].title, "Choose Destination File");
    EXPECT_EQ (hostDialogs.calls[0].start, hostFolder.getChildFile ("report.txt"));
    EXPECT_EQ (hostDialogs.calls[0].patterns, "*.*");

    EXPECT_EQ (target.loadFileAsString(), "the report");
    EXPECT_EQ (Settings::get ("LocalFolder"), target.getParentDirectory().getFullPathName());
    EXPECT_EQ (ofKind (requestsSince (before), "FolderContentsRequest"), juce::StringArray());   // no refresh

    // The selection is logged first, before anything the transfer logs.
    const auto lines = logLines();
    const auto folderLine = lines.indexOf ("Folder: /mnt/nandfs/usr/report.txt");
    const auto transferLine = lines.indexOf ("Getting remote file /mnt/nandfs/usr/report.txt");
    EXPECT_GE (folderLine, 0);
    EXPECT_GT (transferLine, folderLine);

    // Without a remembered folder the name is suggested in the working folder; a
    // cancelled choice changes nothing.
    Settings::set ("LocalFolder", {});
    ASSERT_TRUE (click ("Get"));
    ASSERT_EQ (hostDialogs.calls.size(), 2u);
    EXPECT_EQ (hostDialogs.calls[1].start, juce::File::getCurrentWorkingDirectory().getChildFile ("report.txt"));
    EXPECT_EQ (Settings::get ("LocalFolder"), "");
}

TEST_F (PaneActions, GetDoesNotSuggestAFileOutsideTheLocalFolder)
{
    writeFile (juce::File (usrFolder.getFullPathName() + "/~"), "a device file named like the home folder");
    listFolder ("/mnt/nandfs/usr");
    ASSERT_TRUE (select ("~"));
    const auto before = requestCount();
    ASSERT_TRUE (click ("Get"));    // no "LocalFolder": the working folder, as a cancelled dialog leaves it

    // "~" is the entry's name, not the home folder: the suggestion lies inside the folder.
    ASSERT_EQ (hostDialogs.calls.size(), 1u);
    EXPECT_EQ (hostDialogs.calls[0].start.getParentDirectory(), juce::File::getCurrentWorkingDirectory());
    EXPECT_EQ (hostDialogs.calls[0].start.getFileName(), "~");
    EXPECT_EQ (requestsSince (before), juce::StringArray());
}

TEST_F (PaneActions, GetCopiesTheSelectedFolderIntoTheChosenFolder)
{
    Settings::set ("LocalFolder", hostFolder.getFullPathName());
    const auto destination = hostFolder.getChildFile ("backup");
    destination.createDirectory();

    ASSERT_TRUE (select ("logs"));
    hostDialogs.answerWith (destination);
    const auto before = requestCount();
    ASSERT_TRUE (click ("Get"));

    ASSERT_EQ (hostDialogs.calls.size(), 1u);
    EXPECT_EQ (hostDialogs.calls[0].kind, "folder");
    EXPECT_EQ (hostDialogs.calls[0].title, "Choose Destination Folder");
    EXPECT_EQ (hostDialogs.calls[0].start, hostFolder);
    EXPECT_EQ (hostDialogs.calls[0].patterns, "*.*");

    EXPECT_EQ (destination.getChildFile ("logs/today.log").loadFileAsString(), "line 1\nline 2\n");
    EXPECT_EQ (Settings::get ("LocalFolder"), destination.getFullPathName());
    EXPECT_EQ (ofKind (requestsSince (before), "FolderContentsRequest"),
               juce::StringArray ({ "FolderContentsRequest path=/mnt/nandfs/usr/logs" }));   // getFolder's own
}

TEST_F (PaneActions, SendCopiesTheChosenFileHereAndRefreshesEvenWhenCancelled)
{
    const auto chosen = hostFolder.getChildFile ("outgoing/setup.ini");
    writeFile (chosen, "[setup]\nline=4\n");
    Settings::set ("LocalFolder", hostFolder.getFullPathName());

    hostDialogs.answerWith (chosen);
    auto before = requestCount();
    ASSERT_TRUE (click ("Send"));

    ASSERT_EQ (hostDialogs.calls.size(), 1u);
    EXPECT_EQ (hostDialogs.calls[0].kind, "open");
    EXPECT_EQ (hostDialogs.calls[0].title, "Choose File to Send");
    EXPECT_EQ (hostDialogs.calls[0].start, hostFolder);
    EXPECT_EQ (hostDialogs.calls[0].patterns, "*.*");

    // The data goes to a hidden name first, which replaces the target once whole.
    EXPECT_EQ (requestsSince (before)[0], "FileOpenRequest path=/mnt/nandfs/usr/.setup.ini.uploading access=2 mode=0");
    EXPECT_TRUE (requestsSince (before).contains ("FileSystemEntryMoveRequest isFolder=0 from=/mnt/nandfs/usr/.setup.ini.uploading to=/mnt/nandfs/usr/setup.ini flags=0,1"));
    EXPECT_EQ (usrFolder.getChildFile ("setup.ini").loadFileAsString(), "[setup]\nline=4\n");
    EXPECT_EQ (Settings::get ("LocalFolder"), chosen.getParentDirectory().getFullPathName());
    EXPECT_EQ (listed(), juce::StringArray ({ "logs/", "notes.txt", "report.txt", "setup.ini" }));

    before = requestCount();
    ASSERT_TRUE (click ("Send"));   // cancelled
    EXPECT_EQ (requestsSince (before)[0], "FolderContentsRequest path=/mnt/nandfs/usr");
    EXPECT_EQ (ofKind (requestsSince (before), "FileOpenRequest"), juce::StringArray());
}

TEST_F (PaneActions, VerifyAfterWritingReadsTheSentFileBackBeforeItReplacesTheOldOne)
{
    const auto chosen = hostFolder.getChildFile ("outgoing/setup.ini");
    writeFile (chosen, "[setup]\nline=5\n");
    Settings::set ("Verify after writing", "1");
    hostDialogs.answerWith (chosen);
    const auto before = requestCount();
    ASSERT_TRUE (click ("Send"));
    Settings::set ("Verify after writing", {});

    const auto sent = requestsSince (before);
    EXPECT_TRUE (sent.contains ("FileOpenRequest path=/mnt/nandfs/usr/.setup.ini.uploading access=1 mode=1"));
    EXPECT_EQ (ofKind (sent, "FileReadRequest").size(), 1);
    EXPECT_LT (sent.indexOf ("FileOpenRequest path=/mnt/nandfs/usr/.setup.ini.uploading access=1 mode=1"),
               sent.indexOf ("FileSystemEntryMoveRequest isFolder=0 from=/mnt/nandfs/usr/.setup.ini.uploading to=/mnt/nandfs/usr/setup.ini flags=0,1"));
    EXPECT_EQ (usrFolder.getChildFile ("setup.ini").loadFileAsString(), "[setup]\nline=5\n");
}

TEST_F (PaneActions, HomeAndUpMoveThroughTheFoldersAndLogTheSelectionFirst)
{
    ASSERT_TRUE (select ("notes.txt"));
    ASSERT_TRUE (click ("Up"));
    EXPECT_TRUE (logLines().contains ("Folder: /mnt/nandfs/usr/notes.txt"));
    EXPECT_EQ (folderField().getText(), "/mnt/nandfs");
    EXPECT_EQ (listed(), juce::StringArray ({ "usr/" }));

    ASSERT_TRUE (click ("Up"));
    EXPECT_EQ (folderField().getText(), "/mnt");

    // Up from "/mnt" leaves an empty text, which lists the root.
    const auto before = requestCount();
    ASSERT_TRUE (click ("Up"));
    EXPECT_EQ (folderField().getText(), "/");
    EXPECT_EQ (requestsSince (before)[0], "FolderContentsRequest path=/");
    EXPECT_EQ (listed(), juce::StringArray ({ "mnt/" }));

    ASSERT_TRUE (select ("mnt"));
    ASSERT_TRUE (click ("Home"));
    EXPECT_TRUE (logLines().contains ("Folder: //mnt"));
    EXPECT_EQ (folderField().getText(), "/mnt/nandfs/usr");
    EXPECT_EQ (listed(), juce::StringArray ({ "logs/", "notes.txt", "report.txt" }));
    EXPECT_EQ (Settings::get ("RemoteFolder"), "/mnt/nandfs/usr");
}

TEST_F (PaneActions, DroppedFilesAndFoldersAreSentOneAfterAnotherWithARefreshAfterEach)
{
    const auto first = hostFolder.getChildFile ("a.bin");
    const auto second = hostFolder.getChildFile ("b.bin");
    const auto folder = hostFolder.getChildFile ("bundle");
    writeFile (first, "first");
    writeFile (second, "second");
    writeFile (folder.getChildFile ("inner.txt"), "inner");

    EXPECT_TRUE (pane().isInterestedInFileDrag ({ first.getFullPathName() }));
    const auto before = requestCount();
    pane().filesDropped ({ first.getFullPathName(), second.getFullPathName(), folder.getFullPathName() }, 200, 100);

    // Each item's transfer, then a listing, before the next item starts.
    juce::StringArray milestones;
    for (const auto& line : requestsSince (before))
        if (line.startsWith ("FileOpenRequest") || line.startsWith ("FolderContentsRequest")
             || line.startsWith ("FileSystemEntryCreateRequest"))
            milestones.add (line);

    EXPECT_EQ (milestones, juce::StringArray ({
        "FileOpenRequest path=/mnt/nandfs/usr/.a.bin.uploading access=2 mode=0",
        "FolderContentsRequest path=/mnt/nandfs/usr",
        "FileOpenRequest path=/mnt/nandfs/usr/.b.bin.uploading access=2 mode=0",
        "FolderContentsRequest path=/mnt/nandfs/usr",
        "FileSystemEntryCreateRequest path=/mnt/nandfs/usr/bundle flags=1,1",   // by sendFolder
        "FileOpenRequest path=/mnt/nandfs/usr/bundle/.inner.txt.uploading access=2 mode=0",
        "FolderContentsRequest path=/mnt/nandfs/usr" }));

    EXPECT_EQ (usrFolder.getChildFile ("a.bin").loadFileAsString(), "first");
    EXPECT_EQ (usrFolder.getChildFile ("b.bin").loadFileAsString(), "second");
    EXPECT_EQ (usrFolder.getChildFile ("bundle/inner.txt").loadFileAsString(), "inner");
    EXPECT_EQ (listed(), juce::StringArray ({ "a.bin", "b.bin", "bundle/", "logs/", "notes.txt", "report.txt" }));
}

TEST_F (PaneActions, DroppedFilesAllGoWhereTheyWereDroppedAndAClickMeanwhileStartsNothing)
{
    const auto first = hostFolder.getChildFile ("a.bin");
    const auto second = hostFolder.getChildFile ("b.bin");
    writeFile (first, "first");
    writeFile (second, "second");

    // "Up", clicked while the first file goes (the transfer's log lines handle the click).
    juce::MessageManager::callAsync ([this] { findButtonWithText (pane(), "Up")->triggerClick(); });
    const auto before = requestCount();
    pane().filesDropped ({ first.getFullPathName(), second.getFullPathName() }, 200, 100);

    EXPECT_EQ (folderField().getText(), "/mnt/nandfs/usr");
    EXPECT_FALSE (requestsSince (before).contains ("FolderContentsRequest path=/mnt/nandfs"));
    EXPECT_EQ (usrFolder.getChildFile ("a.bin").loadFileAsString(), "first");
    EXPECT_EQ (usrFolder.getChildFile ("b.bin").loadFileAsString(), "second");
    EXPECT_FALSE (usrFolder.getSiblingFile ("b.bin").exists());
}

TEST_F (PaneActions, ADroppedPathWithoutANameIsNotSent)
{
    const auto before = requestCount();
    pane().filesDropped ({ "/" }, 200, 100);

    EXPECT_EQ (requestsSince (before), juce::StringArray());
    EXPECT_TRUE (logLines().contains ("Can't send /: it has no usable name"));
}

TEST_F (PaneOnDevice, LookAlikeNamesShowAlikeButEachActsOnItsOwnEntry)
{
    // "café" twice: in UTF-8, and in Latin-1 (not UTF-8) as an older device may name it.
    const auto utf8Name = juce::String (juce::CharPointer_UTF8 ("caf\xc3\xa9"));
    writeFile (usrFolder.getChildFile (utf8Name), "utf-8");
    writeFile (usrFolder.getChildFile ("latin"), "latin-1");
    const auto latinPath = usrFolder.getFullPathName().toStdString() + "/caf\xe9";
    ASSERT_EQ (std::rename ((usrFolder.getFullPathName().toStdString() + "/latin").c_str(), latinPath.c_str()), 0);
    ASSERT_TRUE (connect());
    showTab();
    listFolder ("/mnt/nandfs/usr");

    auto* root = pane().getTree().getRootItem();
    ASSERT_EQ (root->getNumSubItems(), 2);
    FileSystemEntryTreeViewItem* latinItem = nullptr;

    for (int i = 0; i < 2; ++i)
    {
        auto* item = dynamic_cast<FileSystemEntryTreeViewItem*> (root->getSubItem (i));
        ASSERT_NE (item, nullptr);
        EXPECT_EQ (item->getDisplayName(), utf8Name);

        if (item->getLabel() != utf8Name)
            latinItem = item;
    }

    ASSERT_NE (latinItem, nullptr);
    latinItem->setSelected (true, true);
    {
        NameDialogOperator operatorAtTheDialog (pane().getNameAssigner(), { clickOk() });
        ASSERT_TRUE (clickAndWait (pane(), "Delete"));
    }
    EXPECT_FALSE (juce::File (latinPath).exists());
    EXPECT_EQ (usrFolder.getChildFile (utf8Name).loadFileAsString(), "utf-8");
}
