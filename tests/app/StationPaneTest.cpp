#include "app/CommandLineModes.h"
#include "app/MainPane.h"
#include "app/Settings.h"
#include "app/StationPane.h"
#include "device/RecordStore.h"
#include "support/ComponentSearch.h"
#include "support/ScriptedHostDialogs.h"
#include "support/SimulatedDevice.h"

#include <array>
#include <cstdlib>

namespace
{
using State = StationBoard::State;

/** The ports the program sees: only those named in USB_FILE_UTILITY_PORTS. */
void offerPorts (const juce::String& ports)
{
    if (ports.isEmpty())
        unsetenv ("USB_FILE_UTILITY_PORTS");
    else
        setenv ("USB_FILE_UTILITY_PORTS", ports.toRawUTF8(), 1);
}

/** The log as lines. */
juce::StringArray logOf (MainPane& pane)
{
    juce::StringArray lines;
    lines.addLines (pane.getLogEditor().getText());
    lines.removeEmptyStrings();
    return lines;
}

/** The station's job in the settings, as an operator left it. */
void rememberJob (const juce::String& image, const juce::String& macFolder, const juce::String& uploads,
                  const juce::String& records)
{
    Settings::setAndSave ("StationImage", image);
    Settings::setAndSave ("StationMacFolder", macFolder);
    Settings::setAndSave ("StationUploads", uploads);
    Settings::setAndSave ("StationPorts", {});
    Settings::setAndSave ("Verify after writing", "0");
    Settings::setAndSave ("Records", records);
}
} // namespace

class StationPaneTest : public testing::Test
{
protected:
    StationPaneTest()
    {
        work.createDirectory();
        image = work.getChildFile ("image.bin");
        const auto bytes = SimulatedDevice::pattern (2 * 8169 + 300);
        image.replaceWithData (bytes.getData(), bytes.getSize());
    }

    ~StationPaneTest() override
    {
        mainPane.reset();
        offerPorts ({});
        work.deleteRecursively();
    }

    /** Device n (1 to 4) with MAC address 00:1A:2B:3C:4D:0n, on the link work/portN. */
    bool startDevice (int n, const juce::StringArray& rules = {})
    {
        auto& device = devices[(size_t) n - 1];
        device.writeFile ("/mnt/nandfs/macAddress.txt", "00:1a:2b:3c:4d:0" + juce::String (n) + "\n");
        return device.start (rules, { "--link", linkOf (n) });
    }

    juce::String linkOf (int n) const       { return work.getChildFile ("port" + juce::String (n)).getFullPathName(); }

    /** The main pane at the size the window gives it by default (500 x 700 with its frame). */
    void build()
    {
        mainPane = std::make_unique<MainPane>();
        mainPane->setSize (500, 674);
    }

    StationPane& pane()                         { return mainPane->getStationPane(); }
    juce::Button& button (const juce::String& name) { return *findChild<juce::Button> (pane(), name); }
    juce::String counter (const juce::String& name) { return findChild<juce::Label> (pane(), name)->getText(); }

    StationTile* tileOf (int n)
    {
        for (auto* tile : pane().getTiles())
            if (tile->getSlotName() == linkOf (n))
                return tile;

        return nullptr;
    }

    State stateOf (int n)
    {
        const auto* tile = tileOf (n);
        return tile != nullptr ? tile->getState() : State::waiting;
    }

    bool isFinished (int n)     { return stateOf (n) == State::passed || stateOf (n) == State::failed; }

    /** Start, as the operator clicks it. */
    void clickStart()
    {
        button ("station start").triggerClick();
        dispatchUntil ([&] { return pane().isRunning() || ! dialogs.messages.isEmpty(); });
    }

    juce::File work { juce::File::createTempFile ("station-pane") };
    juce::File image;
    std::array<SimulatedDevice, 4> devices;
    ScriptedHostDialogs dialogs;
    std::unique_ptr<MainPane> mainPane;
};

TEST_F (StationPaneTest, ThreeDevicesOneFailingThenOneArrivingAndOneLeaving)
{
    ASSERT_TRUE (startDevice (1));
    ASSERT_TRUE (startDevice (2));
    ASSERT_TRUE (startDevice (3, { "FileWriteRequest path=/mnt/nandfs/KX9image fail Refused" }));
    offerPorts (linkOf (1) + ";" + linkOf (2) + ";" + linkOf (3) + ";" + linkOf (4));

    const auto macs = work.getChildFile ("macs");
    const auto records = work.getChildFile ("records.sqlite");
    const auto config = work.getChildFile ("site.cfg");
    config.replaceWithText ("line=4\n");
    rememberJob (image.getFullPathName(), macs.getFullPathName(),
                 config.getFullPathName() + "=/mnt/nandfs/site.cfg", records.getFullPathName());
    build();

    clickStart();
    ASSERT_TRUE (pane().isRunning());
    EXPECT_EQ (mainPane->getTabs().getCurrentTabName(), "Station");

    // Nothing else reaches a device while the station runs.
    auto& tabBar = mainPane->getTabs().getTabbedButtonBar();
    EXPECT_FALSE (tabBar.getTabButton (0)->isEnabled());
    EXPECT_FALSE (tabBar.getTabButton (1)->isEnabled());
    EXPECT_FALSE (MainPane::DeviceOperation (*mainPane));
    EXPECT_FALSE (button ("station start").isEnabled());

    ASSERT_TRUE (dispatchUntil ([&] { return isFinished (1) && isFinished (2) && isFinished (3); }, 30000));
    EXPECT_EQ (stateOf (1), State::passed);
    EXPECT_EQ (stateOf (2), State::passed);
    EXPECT_EQ (stateOf (3), State::failed);
    EXPECT_EQ (tileOf (1)->getFill(), StationTile::fillFor (State::passed));
    EXPECT_EQ (tileOf (3)->getFill(), StationTile::fillFor (State::failed));
    EXPECT_NE (StationTile::fillFor (State::passed), StationTile::fillFor (State::failed));

    // The failed tile says why, and its tooltip holds the slot's own last lines.
    EXPECT_TRUE (tileOf (3)->getTexts().contains ("update: the image did not arrive whole"));
    EXPECT_TRUE (tileOf (3)->getTexts().contains ("MAC 00-1A-2B-3C-4D-03"));
    const auto tip = tileOf (3)->getTooltip();
    EXPECT_TRUE (tip.contains ("Device failed: update: the image did not arrive whole")) << tip;
    EXPECT_FALSE (tip.contains (linkOf (1)));
    EXPECT_TRUE (tileOf (1)->getTooltip().isEmpty());

    // Every slot's lines are in the log under the tabs, prefixed with the slot.
    EXPECT_TRUE (logOf (*mainPane).contains ("[" + linkOf (2) + " 00-1A-2B-3C-4D-02] Device passed"));

    ASSERT_TRUE (dispatchUntil ([&] { return counter ("total count") == "Total 3"; }));
    EXPECT_EQ (counter ("passed count"), "Passed 2");
    EXPECT_EQ (counter ("failed count"), "Failed 1");
    EXPECT_TRUE (counter ("rate").endsWith (" / h"));
    EXPECT_TRUE (devices[0].fileAt ("/mnt/nandfs/KX9imageDone").existsAsFile());
    EXPECT_TRUE (devices[1].fileAt ("/mnt/nandfs/site.cfg").existsAsFile());
    EXPECT_FALSE (devices[2].fileAt ("/mnt/nandfs/KX9imageDone").exists());

    // A device plugged in during the run gets a tile of its own, blue with the step's
    // progress while it works (its blocks are written slowly).
    ASSERT_TRUE (startDevice (4, { "FileWriteRequest path=/mnt/nandfs/KX9image delay 400" }));
    ASSERT_TRUE (dispatchUntil ([&]
    {
        const auto* bar = tileOf (4) != nullptr ? findChild<juce::ProgressBar> (*tileOf (4), "tile progress") : nullptr;
        return bar != nullptr && bar->isVisible() && tileOf (4)->getProgress() > 0
            && tileOf (4)->getTexts().contains ("Installing the firmware");
    }, 30000));
    EXPECT_EQ (tileOf (4)->getFill(), StationTile::fillFor (State::working));
    EXPECT_EQ (pane().getTiles().size(), 4);

    {
        const auto snapshot = mainPane->createComponentSnapshot (mainPane->getLocalBounds());
        const auto folder = juce::File (STATION_SCREENSHOT_FOLDER);
        folder.createDirectory();
        const auto file = folder.getChildFile ("station-tab.png");
        file.deleteFile();
        juce::FileOutputStream output (file);
        ASSERT_TRUE (output.openedOk());
        ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (snapshot, output));
        std::printf ("Screenshot of the \"Station\" tab: %s\n", file.getFullPathName().toRawUTF8());
    }

    ASSERT_TRUE (dispatchUntil ([&] { return isFinished (4); }, 30000));
    EXPECT_EQ (stateOf (4), State::passed);
    EXPECT_TRUE (macs.getChildFile ("00-1A-2B-3C-4D-04.txt").existsAsFile());

    // The failed device unplugged: its tile waits for the next one; the others keep theirs.
    devices[2].getProcess().stop();
    ASSERT_TRUE (dispatchUntil ([&] { return stateOf (3) == State::waiting; }));
    EXPECT_EQ (tileOf (3)->getFill(), StationTile::fillFor (State::waiting));
    EXPECT_FALSE (tileOf (3)->getTexts().contains ("update: the image did not arrive whole"));
    EXPECT_EQ (stateOf (1), State::passed);

    button ("station stop").triggerClick();
    ASSERT_TRUE (dispatchUntil ([&] { return ! pane().isRunning(); }));
    EXPECT_TRUE (tabBar.getTabButton (0)->isEnabled());
    EXPECT_TRUE (button ("station start").isEnabled());
    EXPECT_TRUE (logOf (*mainPane).contains ("Station stopped: 3 passed, 1 failed"));
    EXPECT_TRUE (pane().hasFailures());

    // Each device is on record, the failed one with its reason.
    juce::String error;
    const auto store = RecordStore::open (records.getFullPathName(), error);
    ASSERT_NE (store, nullptr) << error;
    const auto kept = store->find ({}, error);
    ASSERT_EQ (kept.size(), 4);

    for (const auto& record : kept)
    {
        const auto failing = record.slot == linkOf (3);
        EXPECT_EQ (record.job, "station");
        EXPECT_EQ (record.passed, ! failing) << record.slot;
        EXPECT_EQ (record.error, failing ? "update: the image did not arrive whole" : "");
        EXPECT_EQ (record.imageName, "image.bin");
        EXPECT_TRUE (record.macAddress.startsWith ("00-1A-2B-3C-4D-0"));
    }
}

TEST_F (StationPaneTest, StartIsRefusedBeforeAnyDeviceIsTouched)
{
    ASSERT_TRUE (startDevice (1));
    offerPorts (linkOf (1));
    const auto emptyImage = work.getChildFile ("empty.bin");
    emptyImage.create();
    const auto notAFolder = work.getChildFile ("plain-file");
    notAFolder.replaceWithText ("x");

    struct Case { juce::String image, uploads, records, message; };
    const Case cases[] {
        { emptyImage.getFullPathName(), {}, {}, "Update file is empty: " + emptyImage.getFullPathName() },
        { image.getFullPathName(), "site.cfg", {}, "An upload is written LOCAL=REMOTE: site.cfg" },
        { image.getFullPathName(), {}, notAFolder.getChildFile ("records.sqlite").getFullPathName(), "Can't keep the devices' records" },
    };

    for (const auto& each : cases)
    {
        SCOPED_TRACE (each.message);
        rememberJob (each.image, {}, each.uploads, each.records);
        dialogs.messages.clear();
        build();

        clickStart();
        EXPECT_FALSE (pane().isRunning());
        ASSERT_EQ (dialogs.messages.size(), 1);
        EXPECT_TRUE (dialogs.messages[0].startsWith ("The station can't start:\n"));
        EXPECT_TRUE (dialogs.messages[0].contains (each.message)) << dialogs.messages[0];
        EXPECT_TRUE (dialogs.warnings[0]);
        EXPECT_TRUE (mainPane->getTabs().getTabbedButtonBar().getTabButton (0)->isEnabled());
        EXPECT_TRUE (pane().hasFailures());
    }

    EXPECT_TRUE (devices[0].getRequestLog().isEmpty());
}

TEST_F (StationPaneTest, TheCommandLineFillsTheRememberedFields)
{
    rememberJob ("old.bin", "old-macs", "a=/mnt/a", {});
    build();
    EXPECT_EQ (findChild<juce::TextEditor> (pane(), "station image")->getText(), "old.bin");

    // Typed into a field: remembered at once.
    findChild<juce::TextEditor> (pane(), "station ports")->setText ("COM7, 1-1.2", true);
    EXPECT_TRUE (dispatchUntil ([] { return Settings::get ("StationPorts") == "COM7, 1-1.2"; }));

    auto outcome = runCommandLine ("station --image \"C:\\images\\KX9 image.bin\" --getmac macs --put a.cfg=/mnt/a.cfg "
                                   "--put b=/mnt/b --verify --records postgresql://line@server/records --ports COM4,COM5",
                                   *mainPane);
    EXPECT_TRUE (outcome.station);
    EXPECT_FALSE (outcome.quit);
    EXPECT_EQ (Settings::get ("StationImage"), "C:\\images\\KX9 image.bin");
    EXPECT_EQ (Settings::get ("StationMacFolder"), "macs");
    EXPECT_EQ (Settings::get ("StationUploads"), "a.cfg=/mnt/a.cfg; b=/mnt/b");
    EXPECT_EQ (Settings::get ("Verify after writing"), "1");
    EXPECT_EQ (Settings::get ("Records"), "postgresql://line@server/records");
    EXPECT_EQ (Settings::get ("StationPorts"), "COM4,COM5");
    EXPECT_EQ (findChild<juce::TextEditor> (pane(), "station uploads")->getText(), "a.cfg=/mnt/a.cfg; b=/mnt/b");
    EXPECT_EQ (findChild<juce::ComboBox> (pane(), "station records kind")->getText(), "PostgreSQL server");
    EXPECT_TRUE (findChild<juce::Button> (pane(), "station verify")->getToggleState());

    // A job option names the whole job; where the records go and the ports stay.
    outcome = runCommandLine ("station --getmac other-macs", *mainPane);
    EXPECT_TRUE (outcome.station);
    EXPECT_EQ (Settings::get ("StationImage"), "");
    EXPECT_EQ (Settings::get ("StationUploads"), "");
    EXPECT_EQ (Settings::get ("Verify after writing"), "0");
    EXPECT_EQ (Settings::get ("StationMacFolder"), "other-macs");
    EXPECT_EQ (Settings::get ("Records"), "postgresql://line@server/records");

    // Without options the remembered job runs as it is.
    outcome = runCommandLine ("station", *mainPane);
    EXPECT_TRUE (outcome.station);
    EXPECT_EQ (Settings::get ("StationMacFolder"), "other-macs");

    for (const auto* bad : { "station --image", "station --put nothing", "station --force" })
    {
        SCOPED_TRACE (bad);
        outcome = runCommandLine (bad, *mainPane);
        EXPECT_TRUE (outcome.quit);
        EXPECT_EQ (outcome.exitCode, -1);
        EXPECT_FALSE (outcome.station);
    }

    EXPECT_EQ (dialogs.messages, juce::StringArray ({ "--image needs a value", "--put takes LOCAL=REMOTE, not nothing",
                                                      "Unknown option for station: --force" }));
    EXPECT_EQ (Settings::get ("StationMacFolder"), "other-macs");
}

TEST (StationPaneLayout, FourTilesAreReadableAtTheDefaultSizeAndSixteenFitAnySize)
{
    MainPane mainPane;

    for (const auto& size : { juce::Point<int> (500, 674), juce::Point<int> (1280, 1000) })
    {
        mainPane.setSize (size.x, size.y);
        const auto grid = findChild<juce::Label> (mainPane.getStationPane(), "station hint")->getBounds();
        ASSERT_GT (grid.getHeight(), 250);

        for (int count = 1; count <= 16; ++count)
        {
            SCOPED_TRACE (count);
            const auto cells = StationPane::layOutTiles (grid, count);
            ASSERT_EQ (cells.size(), count);

            for (int i = 0; i < count; ++i)
            {
                EXPECT_TRUE (grid.contains (cells[i]));

                for (int j = i + 1; j < count; ++j)
                    EXPECT_FALSE (cells[i].intersects (cells[j]));
            }

            // Four at the default size: room for every line of a tile at its normal size.
            if (count <= 4)
            {
                EXPECT_TRUE (cells[0].getWidth() >= 200 && cells[0].getHeight() >= 140) << cells[0].toString();
            }
        }
    }
}
