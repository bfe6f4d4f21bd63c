#include "PaneOnDevice.h"
#include "app/TransferProgressPanel.h"
#include "support/ComponentSearch.h"
#include "support/ScriptedHostDialogs.h"

namespace
{
/** Plays the operator who watches the progress strip: once it shows progress, notes what it says
    and where it lies, clicks whatever else it was told to (which must start nothing), then
    clicks Cancel. It runs whenever the transfer lets the window handle its messages. */
class OperatorAtTheStrip : private juce::Timer
{
public:
    OperatorAtTheStrip (MainPane& pane, juce::Button* alsoClick = nullptr)
        : mainPane (pane), otherButton (alsoClick)
    {
        startTimer (10);
    }

    juce::String textSeen;
    juce::Rectangle<int> stripBounds, tabBounds;

private:
    void timerCallback() override
    {
        auto* panel = mainPane.getProgressPanel();

        // Once a file is partly done.
        if (panel == nullptr || ! panel->isVisible() || panel->getFractionDone() <= 0.0 || panel->getFractionDone() >= 1.0)
            return;

        stopTimer();
        textSeen = panel->getText();
        stripBounds = panel->getBounds();
        tabBounds = mainPane.getTabs().getBounds();

        if (otherButton != nullptr)
            otherButton->triggerClick();

        findChild<juce::Button> (*panel, "cancel transfer")->triggerClick();
    }

    MainPane& mainPane;
    juce::Button* otherButton;
};

juce::File writeBlocks (const juce::File& file, int blocks)
{
    file.getParentDirectory().createDirectory();
    juce::MemoryBlock data ((size_t) blocks * 8169);

    for (size_t i = 0; i < data.getSize(); ++i)
        data[i] = (char) (i * 7);

    file.replaceWithData (data.getData(), data.getSize());
    return file;
}
} // namespace

class TransferCancel : public PaneOnDevice
{
protected:
    ScriptedHostDialogs hostDialogs;
};

TEST_F (TransferCancel, CancelDuringGetKeepsTheOldFileAndClosesTheDeviceFile)
{
    writeBlocks (usrFolder.getChildFile ("big.bin"), 40);
    ASSERT_TRUE (connect ({ "FileReadRequest delay 20" }));
    showTab();
    listFolder ("/mnt/nandfs/usr");
    ASSERT_TRUE (select ("big.bin"));

    const auto target = hostFolder.getChildFile ("big.bin");
    writeFile (target, "the old copy");
    hostDialogs.answerWith (target);

    const auto before = requestCount();
    OperatorAtTheStrip operatorAtTheStrip (*mainPane);
    ASSERT_TRUE (clickAndWait (pane(), "Get"));

    // The strip showed between the tabs and the log, and said what it was doing.
    EXPECT_TRUE (operatorAtTheStrip.textSeen.contains ("/ 319.1 KiB")) << operatorAtTheStrip.textSeen;
    EXPECT_EQ (operatorAtTheStrip.stripBounds.getY(), operatorAtTheStrip.tabBounds.getBottom() + 4);
    EXPECT_LE (operatorAtTheStrip.stripBounds.getBottom(), mainPane->getLogEditor().getY());

    EXPECT_EQ (target.loadFileAsString(), "the old copy");
    EXPECT_TRUE (logLines().contains ("Transfer cancelled."));

    const auto sent = requestsSince (before);
    EXPECT_LT (ofKind (sent, "FileReadRequest").size(), 40);
    EXPECT_EQ (ofKind (sent, "FileCloseRequest").size(), 1);
    EXPECT_TRUE (sent[sent.size() - 1].startsWith ("FileCloseRequest"));

    // Gone with the operation; the tabs have their room back.
    EXPECT_EQ (mainPane->getProgressPanel(), nullptr);
    EXPECT_EQ (mainPane->getTabs().getBottom(), mainPane->getHeight() - 138);
}

TEST_F (TransferCancel, CancelDuringAFolderSendStopsBeforeTheNextEntryAndIgnoresOtherClicks)
{
    const auto folder = hostFolder.getChildFile ("bundle");
    for (auto* name : { "a.bin", "b.bin", "c.bin" })
        writeBlocks (folder.getChildFile (name), 30);

    // The device has an older a.bin, which a cancelled send must leave as it was.
    writeFile (usrFolder.getChildFile ("bundle/a.bin"), "the old a.bin");
    ASSERT_TRUE (connect ({ "FileWriteRequest delay 20" }));
    showTab();
    listFolder ("/mnt/nandfs/usr");

    const auto before = requestCount();
    OperatorAtTheStrip operatorAtTheStrip (*mainPane, findButtonWithText (pane(), "New Folder"));
    pane().filesDropped ({ folder.getFullPathName() }, 200, 100);

    // A local tree is counted before it goes.
    EXPECT_TRUE (operatorAtTheStrip.textSeen.contains ("/3 files]")) << operatorAtTheStrip.textSeen;
    EXPECT_TRUE (logLines().contains ("Transfer cancelled."));

    // One file was begun under its temporary name and removed again; no other entry was
    // opened, and the New Folder click asked nothing while the transfer ran.
    const auto sent = requestsSince (before);
    EXPECT_EQ (ofKind (sent, "FileOpenRequest").size(), 1);
    EXPECT_EQ (ofKind (sent, "FileCloseRequest").size(), 1);
    EXPECT_EQ (ofKind (sent, "FileSystemEntryDeleteRequest").size(), 1);
    EXPECT_FALSE (pane().getNameAssigner().isVisible());
    EXPECT_EQ (usrFolder.getChildFile ("bundle").findChildFiles (juce::File::findFiles, true).size(), 1);
    EXPECT_EQ (usrFolder.getChildFile ("bundle/a.bin").loadFileAsString(), "the old a.bin");

    int firstWrite = -1, lastWrite = -1;
    for (int i = 0; i < sent.size(); ++i)
        if (sent[i].startsWith ("FileWriteRequest"))
            lastWrite = (firstWrite < 0 ? (firstWrite = i) : i);

    ASSERT_GE (firstWrite, 0);
    for (int i = firstWrite; i <= lastWrite; ++i)
        EXPECT_TRUE (sent[i].startsWith ("FileWriteRequest")) << sent[i];
}
