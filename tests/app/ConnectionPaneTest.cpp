#include "app/ConnectionPane.h"
#include "app/MainPane.h"
#include "app/Settings.h"
#include "support/CapturingLogger.h"
#include "support/ComponentSearch.h"
#include "support/ScriptedHostDialogs.h"
#include "support/SimulatedDevice.h"
#include "transport/SerialPortDiscoveryDetail.h"

#include <cstdlib>

namespace
{
juce::StringArray linesOf (std::initializer_list<juce::String> expected)
{
    juce::StringArray all;
    for (auto& line : expected)
        all.add (line);
    return all;
}

/** The log as lines, after the version line it starts with. */
juce::StringArray logOf (MainPane& pane)
{
    juce::StringArray lines;
    lines.addLines (pane.getLogEditor().getText());
    lines.removeEmptyStrings();
    lines.removeString ("USB File Utility " USB_FILE_UTILITY_VERSION);
    return lines;
}

/** The ports the program offers: only those named in USB_FILE_UTILITY_PORTS, as no device
    of the right kind is plugged into a test machine. */
void offerPorts (const juce::String& ports)
{
    if (ports.isEmpty())
        unsetenv ("USB_FILE_UTILITY_PORTS");
    else
        setenv ("USB_FILE_UTILITY_PORTS", ports.toRawUTF8(), 1);
}

juce::String namelessPortName;

juce::StringPairArray pluggedInPorts;

/** The ports plugged in at the moment, as the test plugs and unplugs them. */
juce::StringPairArray findPluggedInPorts (int)
{
    return pluggedInPorts;
}

/** The port list when the host gives the device's port no friendly name, as Windows may. */
juce::StringPairArray findNamelessDevicePort (int filterIndex)
{
    return serial::buildPortList ({ { {}, "USB\\Vid_5E1D&Pid_0B47&Rev_0100", namelessPortName, {}, {} } }, filterIndex, {});
}
} // namespace

class ConnectionPaneTest : public testing::Test
{
protected:
    ~ConnectionPaneTest() override
    {
        mainPane.reset();
        offerPorts ({});
        ConnectionPane::usePortFinder (nullptr);
    }

    /** Builds the main pane offering the given ports, with "LastPort" set beforehand. */
    void build (const juce::String& ports, const juce::String& lastPort)
    {
        offerPorts (ports);
        Settings::setAndSave ("LastPort", lastPort);
        Settings::setAndSave ("UpdateFileLocalPath", {});
        mainPane = std::make_unique<MainPane>();
        mainPane->setSize (500, 660);
    }

    /** Starts the device with the rules and builds the pane with its port remembered. */
    void buildOnDevice (const juce::StringArray& rules = {})
    {
        ASSERT_TRUE (device.start (rules));
        build (device.getProcess().getPtyPath(), device.getProcess().getPtyPath());
    }

    ConnectionPane& pane()                   { return mainPane->getConnectionPane(); }
    juce::ComboBox& portBox()                { return *findChild<juce::ComboBox> (pane(), "Com Port Box"); }
    juce::Button& connectButton()            { return *findChild<juce::Button> (pane(), "Connect Button"); }
    juce::Button& updateButton()             { return *findChild<juce::Button> (pane(), "Update Button"); }
    juce::TextEditor& updateFileBox()        { return *findChild<juce::TextEditor> (pane(), "remote folder"); }
    juce::StringArray log()                  { return logOf (*mainPane); }

    /** A local firmware image. */
    juce::File makeImage (size_t size)
    {
        image.getFile().replaceWithData (SimulatedDevice::pattern (size).getData(), size);
        return image.getFile();
    }

    SimulatedDevice device;
    ScriptedHostDialogs dialogs;
    std::unique_ptr<MainPane> mainPane;
    juce::TemporaryFile image { ".bin" };
};

TEST_F (ConnectionPaneTest, ChildrenFollowTheLayoutTable)
{
    build ({}, {});
    pane().setSize (484, 300);   // p = 484 * 0.4859, rounded: 235

    EXPECT_EQ (findChild<juce::Label> (pane(), "new label")->getBounds(), juce::Rectangle<int> (0, 56, 150, 24));
    EXPECT_EQ (portBox().getBounds(), juce::Rectangle<int> (160, 56, 150, 24));
    EXPECT_EQ (connectButton().getBounds(), juce::Rectangle<int> (160, 96, 150, 24));
    EXPECT_EQ (updateButton().getBounds(), juce::Rectangle<int> (160, 130, 150, 24));
    EXPECT_EQ (findChild<juce::Label> (pane(), "new label2")->getBounds(), juce::Rectangle<int> (85, 160, 300, 24));
    EXPECT_EQ (updateFileBox().getBounds(), juce::Rectangle<int> (85, 180, 300, 24));
    EXPECT_EQ (findChild<juce::Button> (pane(), "Browse Button")->getBounds(), juce::Rectangle<int> (385, 180, 50, 24));

    EXPECT_EQ (connectButton().getButtonText(), "Connect");
    EXPECT_FALSE (updateButton().isEnabled());
}

TEST_F (ConnectionPaneTest, WithoutPortsThereAreNoChoicesAndConnectFails)
{
    build ({}, "anything");

    EXPECT_EQ (portBox().getNumItems(), 0);
    EXPECT_EQ (portBox().getTextWhenNoChoicesAvailable(), "(no choices)");
    EXPECT_FALSE (pane().connectToSelectedPort());
    EXPECT_EQ (log(), linesOf ({ "Failed to open port" }));
    EXPECT_FALSE (pane().holdsPort());
}

TEST_F (ConnectionPaneTest, TheRememberedPortIsSelectedOnlyWhenItsCaseMatches)
{
    build ("/dev/no-such-port-a;/dev/no-such-port-b", "/DEV/NO-SUCH-PORT-B");
    EXPECT_EQ (portBox().getNumItems(), 2);
    EXPECT_EQ (portBox().getSelectedId(), 0);
    mainPane.reset();

    build ("/dev/no-such-port-a;/dev/no-such-port-b", "/dev/no-such-port-b");
    EXPECT_EQ (portBox().getText(), "/dev/no-such-port-b");
    EXPECT_EQ (Settings::get ("LastPort"), "/dev/no-such-port-b");

    // The port is offered but isn't there: the system's reason, then the usual line.
    EXPECT_FALSE (pane().connectToSelectedPort());
   #if JUCE_WINDOWS
    EXPECT_EQ (log(), linesOf ({ "Failed to open port" }));
   #else
    EXPECT_EQ (log(), linesOf ({ "Can't open /dev/no-such-port-b: No such file or directory", "Failed to open port" }));
   #endif

    portBox().setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (Settings::get ("LastPort"), "/dev/no-such-port-a");
}

TEST_F (ConnectionPaneTest, APortWithoutAFriendlyNameIsRememberedByItsPortName)
{
    ASSERT_TRUE (device.start());
    namelessPortName = device.getProcess().getPtyPath();
    ConnectionPane::usePortFinder (findNamelessDevicePort);

    // Nothing remembered: nothing selected; the operator picks the port, shown by its name.
    build ({}, {});
    ASSERT_EQ (portBox().getNumItems(), 1);
    EXPECT_EQ (portBox().getSelectedId(), 0);
    portBox().setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (Settings::get ("LastPort"), namelessPortName);
    mainPane.reset();

    // The next start (as "auto" and "getmac" rely on) selects it again and connects.
    build ({}, namelessPortName);
    EXPECT_EQ (portBox().getText(), namelessPortName);
    EXPECT_TRUE (pane().connectToSelectedPort());
}

TEST_F (ConnectionPaneTest, ConnectingIdentifiesTheDevice)
{
    buildOnDevice();

    ASSERT_TRUE (pane().connectToSelectedPort());
    EXPECT_EQ (log(), linesOf ({ "Successfully opened port",
                                 "Found device: familyID=0x012, deviceID=0x003.",
                                 "Protocol version=0x0100, Firmware version=0x0204.",
                                 "Device simulator",
                                 "serial 00000001" }));
    EXPECT_FALSE (connectButton().isEnabled());
    EXPECT_TRUE (updateButton().isEnabled());
    EXPECT_TRUE (mainPane->getTabs().getTabbedButtonBar().getTabButton (1)->isEnabled());
}

TEST_F (ConnectionPaneTest, AFailedIdentificationKeepsThePortAndConnectTriesAgain)
{
    buildOnDevice ({ "WhoAmIRequest#1 drop" });

    EXPECT_FALSE (pane().connectToSelectedPort());
    EXPECT_TRUE (log().contains ("Error requesting device info."));
    EXPECT_TRUE (pane().holdsPort());
    EXPECT_TRUE (connectButton().isEnabled());
    EXPECT_FALSE (updateButton().isEnabled());

    EXPECT_TRUE (pane().connectToSelectedPort());
    EXPECT_FALSE (connectButton().isEnabled());
}

TEST_F (ConnectionPaneTest, BrowseFillsTheBoxAndStoresThePathAtOnce)
{
    build ({}, {});
    dialogs.answerWith (image.getFile());

    findChild<juce::Button> (pane(), "Browse Button")->triggerClick();
    dispatchUntil ([&] { return ! dialogs.calls.empty(); });

    ASSERT_EQ (dialogs.calls.size(), 1u);
    EXPECT_EQ (dialogs.calls[0].title, "Select update file...");
    EXPECT_EQ (updateFileBox().getText(), image.getFile().getFullPathName());
    EXPECT_EQ (Settings::get ("UpdateFileLocalPath"), image.getFile().getFullPathName());
}

//==============================================================================
TEST_F (ConnectionPaneTest, UpdateIsSkippedWhenTheFirmwareIsThere)
{
    buildOnDevice();
    device.writeFile ("/mnt/nandfs/lib/libm.so.2", "installed");
    ASSERT_TRUE (pane().connectToSelectedPort());
    mainPane->getLogEditor().clear();

    EXPECT_TRUE (pane().updateFirmware());
    EXPECT_EQ (log(), linesOf ({ "Checking for existing firmware...", "Firmware already exists, skipping update", "Closing Port." }));
    EXPECT_EQ (dialogs.messages, linesOf ({ "Firmware already exists, skipping update" }));
    EXPECT_TRUE (device.getRequests ("FileWriteRequest").isEmpty());
    EXPECT_FALSE (pane().holdsPort());
    EXPECT_TRUE (connectButton().isEnabled());
    EXPECT_FALSE (updateButton().isEnabled());
    EXPECT_FALSE (mainPane->getTabs().getTabbedButtonBar().getTabButton (1)->isEnabled());
}

TEST_F (ConnectionPaneTest, UpdateSendsTheImageAndTriggersIt)
{
    buildOnDevice();
    const auto localImage = makeImage (20000);
    updateFileBox().setText (localImage.getFullPathName(), true);
    ASSERT_TRUE (pane().connectToSelectedPort());
    mainPane->getLogEditor().clear();

    EXPECT_TRUE (pane().updateFirmware());

    // The sentinel's open is refused (its two lines), then the image goes.
    auto lines = log();
    ASSERT_EQ (lines.size(), 11) << lines.joinIntoString ("\n");
    EXPECT_EQ (lines[0], "Checking for existing firmware...");
    EXPECT_EQ (lines[2], "failed to open remote file");
    EXPECT_EQ (lines[3], "Existing firmware not found, updating...");
    EXPECT_EQ (lines[4], "sending " + localImage.getFullPathName() + " as /mnt/nandfs/KX9image");
    EXPECT_EQ (lines[5], "Block 0 Sent.");
    EXPECT_TRUE (lines[6].startsWith ("File transfer completed successfully 20000 bytes"));
    lines.removeRange (0, 7);
    EXPECT_EQ (lines, linesOf ({ "done.", "Triggering update...", "done.", "Closing Port." }));

    EXPECT_EQ (dialogs.messages, linesOf ({ "Firmware update completed" }));
    juce::MemoryBlock sent;
    device.fileAt ("/mnt/nandfs/KX9image").loadFileAsData (sent);
    EXPECT_EQ (sent, SimulatedDevice::pattern (20000));
    EXPECT_TRUE (device.fileAt ("/mnt/nandfs/KX9imageDone").existsAsFile());
    EXPECT_EQ (device.fileAt ("/mnt/nandfs/KX9imageDone").getSize(), 0);
    EXPECT_TRUE (connectButton().isEnabled());
}

TEST_F (ConnectionPaneTest, AMissingOrEmptyImageIsRefusedBeforeAnythingIsSent)
{
    buildOnDevice();
    image.getFile().deleteFile();
    ASSERT_TRUE (image.getFile().create());    // 0 bytes

    for (const auto& localPath : { image.getFile().getFullPathName(), juce::String() })
    {
        SCOPED_TRACE (localPath);
        updateFileBox().setText (localPath, true);
        ASSERT_TRUE (pane().connectToSelectedPort());   // again after a failed update
        EXPECT_FALSE (pane().updateFirmware());
        EXPECT_FALSE (log().joinIntoString ("\n").contains ("sending "));
        EXPECT_FALSE (log().contains ("Closing Port."));

        // The port is closed and given up, so "Connect" is the way on.
        EXPECT_FALSE (pane().holdsPort());
        EXPECT_FALSE (mainPane->getClient().isConnected());
        EXPECT_TRUE (connectButton().isEnabled());
        EXPECT_FALSE (updateButton().isEnabled());
    }

    EXPECT_TRUE (log().contains ("Update file is empty: " + image.getFile().getFullPathName()));
    EXPECT_TRUE (log().contains ("Update file not found: "));
    EXPECT_EQ (dialogs.messages, linesOf ({ "Failed to send update file", "Failed to send update file" }));
    EXPECT_EQ (dialogs.warnings, juce::Array<bool> ({ true, true }));
    EXPECT_FALSE (device.getRequestLog().joinIntoString ("\n").contains ("KX9image"));
    EXPECT_FALSE (device.fileAt ("/mnt/nandfs/KX9image").exists());
    EXPECT_FALSE (device.fileAt ("/mnt/nandfs/KX9imageDone").exists());
}

TEST_F (ConnectionPaneTest, AnUpdateThatCantBeTriggeredIsReportedAsFailed)
{
    buildOnDevice ({ "FileOpenRequest path=/mnt/nandfs/KX9imageDone fail Read-only file system" });
    updateFileBox().setText (makeImage (100).getFullPathName(), true);
    ASSERT_TRUE (pane().connectToSelectedPort());

    EXPECT_FALSE (pane().updateFirmware());
    EXPECT_TRUE (log().contains ("Failed to trigger update"));
    EXPECT_FALSE (log().contains ("Closing Port."));
    EXPECT_EQ (dialogs.messages, linesOf ({ "The firmware update could not be triggered" }));
    EXPECT_EQ (dialogs.warnings, juce::Array<bool> ({ true }));
    EXPECT_FALSE (pane().holdsPort());
    EXPECT_TRUE (connectButton().isEnabled());
    EXPECT_FALSE (updateButton().isEnabled());
}

TEST_F (ConnectionPaneTest, TheMacFileIsCopiedOrTheFailureShown)
{
    buildOnDevice();
    device.writeFile ("/mnt/nandfs/macAddress.txt", "00:11:22:33:44:55\n");
    ASSERT_TRUE (pane().connectToSelectedPort());
    const auto target = image.getFile().getSiblingFile ("mac address.txt");

    EXPECT_TRUE (pane().readMacFile (target.getFullPathName()));
    EXPECT_EQ (target.loadFileAsString(), "00:11:22:33:44:55\n");
    EXPECT_EQ (dialogs.messages, linesOf ({ "Mac file stored to:  " + target.getFullPathName() }));
    EXPECT_TRUE (pane().holdsPort());
    target.deleteFile();

    device.fileAt ("/mnt/nandfs/macAddress.txt").deleteFile();
    EXPECT_FALSE (pane().readMacFile (target.getFullPathName()));
    EXPECT_EQ (log()[log().size() - 1], "Failed to read mac file");
    EXPECT_EQ (dialogs.messages[1], "Failed to read mac file");
    EXPECT_TRUE (dialogs.warnings[1]);
}

TEST_F (ConnectionPaneTest, ClosingWhileTheClientThreadWaitsToLogDoesNotHang)
{
    buildOnDevice ({ "WhoAmIRequest#1 notify event 1 2" });
    ASSERT_TRUE (pane().connectToSelectedPort());

    // The event's line now waits for the message thread, which doesn't look at messages
    // again before it destroys the pane.
    juce::Thread::sleep (300);
    const auto start = juce::Time::getMillisecondCounter();
    mainPane.reset();

    // Well under the client's last-resort stop of 2 s: its thread ended by itself.
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 1500u);
}

TEST_F (ConnectionPaneTest, PortsThatComeAndGoAreFollowedWhileNotConnected)
{
    ASSERT_TRUE (device.start());
    const auto devicePort = device.getProcess().getPtyPath();
    pluggedInPorts.clear();
    ConnectionPane::usePortFinder (findPluggedInPorts);
    build ({}, "the device");
    ASSERT_EQ (portBox().getNumItems(), 0);

    // Plugged in after start-up: listed within the rescan interval, and "LastPort" chosen.
    pluggedInPorts.set ("another one", "/dev/null");
    pluggedInPorts.set ("the device", devicePort);
    ASSERT_TRUE (dispatchUntil ([&] { return portBox().getNumItems() == 2; }, 5000));
    EXPECT_EQ (portBox().getText(), "the device");

    // Another port going leaves the selection alone.
    pluggedInPorts.remove ("another one");
    ASSERT_TRUE (dispatchUntil ([&] { return portBox().getNumItems() == 1; }, 5000));
    EXPECT_EQ (portBox().getText(), "the device");
    EXPECT_EQ (Settings::get ("LastPort"), "the device");

    ASSERT_TRUE (pane().connectToSelectedPort());
    EXPECT_TRUE (log().contains ("Device simulator"));
}
