#include "app/MainPane.h"
#include "app/ConnectionPane.h"
#include "app/Settings.h"
#include "app/StandardErrorEcho.h"
#include "app/StationPane.h"
#include "app/TransferProgressPanel.h"
#include "app/WindowEvents.h"
#include "browser/FileSystemPane.h"
#include "device/NotificationText.h"

namespace
{
constexpr int maxMessagesPerFlush = 1000;

// How long a closing pane lets standard error take the lines still queued for it.
constexpr int standardErrorDrainMs = 1000;

// The progress strip's height; the tabs give up this much room while it shows.
constexpr int progressStripHeight = 36;

// The tabs, in their order.
constexpr int connectionTab = 0, fileSystemTab = 1, stationTab = 2;

bool isQuitting()
{
    return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
}

/** Handles the messages and input events that are waiting now, up to maxMessagesPerFlush of
    them. runDispatchLoopUntil (0) handles one waiting message, or, when none waits, sleeps
    for a millisecond: a call that took that long found nothing more to do. (Posted messages
    come before input on some systems, so "everything posted so far" is not enough: a key or
    a click must get its turn too.) */
void dispatchPendingMessages()
{
    auto* messageManager = juce::MessageManager::getInstance();

    for (int i = 0; i < maxMessagesPerFlush && ! messageManager->hasStopMessageBeenSent(); ++i)
    {
        const auto start = juce::Time::getMillisecondCounterHiRes();

        if (! messageManager->runDispatchLoopUntil (0) || juce::Time::getMillisecondCounterHiRes() - start >= 1.0)
            break;
    }
}
} // namespace

MainPane::MainPane()
{
    tabs = std::make_unique<juce::TabbedComponent> (juce::TabbedButtonBar::TabsAtTop);
    addAndMakeVisible (*tabs);
    tabs->setTabBarDepth (28);

    connectionPane = new ConnectionPane (*this);
    tabs->addTab ("Connection", juce::Colours::white, connectionPane, true);
    tabs->addTab ("File System", juce::Colours::white, new FileSystemPane (*this), true);
    stationPane = new StationPane (*this);
    tabs->addTab ("Station", juce::Colours::white, stationPane, true);
    tabs->setCurrentTabIndex (0);

    // Above the tabs, shown only while a device operation runs.
    addChildComponent (shield);
    shield.onEscape = [this] { cancelOperation(); };

    logEditor = std::make_unique<juce::TextEditor> ("Log");
    addAndMakeVisible (*logEditor);
    logEditor->setMultiLine (true, true);
    logEditor->setReturnKeyStartsNewLine (true);
    logEditor->setReadOnly (false);
    logEditor->setScrollbarsShown (true);
    logEditor->setCaretVisible (true);
    logEditor->setPopupMenuEnabled (true);
    logEditor->setColour (juce::TextEditor::shadowColourId, juce::Colour (0x8a191818));
    logEditor->setText ({});

    setSize (600, 400);

    // The first line names the version; shown directly, as nothing may run mid-construction.
    const juce::String versionLine ("USB File Utility " USB_FILE_UTILITY_VERSION);
    logEditor->insertTextAtCaret (versionLine + "\n");
    StandardErrorEcho::write (versionLine);

    ILogger::install (this);
    client.addListener (this);
    setDisconnected();
}

MainPane::~MainPane()
{
    // Lines logged from now on are dropped, and a thread waiting for its line to be shown
    // stops waiting, so that the client's thread can end while this thread stops it.
    shuttingDown = true;
    ILogger::uninstall (this);
    client.stopThread (2000);

    tabs = nullptr;       // the connection pane closes its port and detaches it first
    logEditor = nullptr;

    StandardErrorEcho::drain (standardErrorDrainMs);
}

void MainPane::log (juce::String text)
{
    if (shuttingDown)
        return;

    // The station's tiles show each slot's last lines.
    if (stationPane != nullptr)
        stationPane->logged (text);

    if (droppingDiscoveryLines && text.startsWith ("Ignoring ")
        && juce::MessageManager::getInstance()->isThisTheMessageThread())
        return;

    {
        const juce::ScopedLock sl (logLock);
        pendingLogText << text << "\n";
    }

    // Standard error may be a pipe that nobody reads: a thread of its own writes it.
    StandardErrorEcho::write (text);

    auto* messageManager = juce::MessageManager::getInstance();

    if (messageManager->isThisTheMessageThread())
    {
        flushPendingLog();
        return;
    }

    auto shown = std::make_shared<juce::WaitableEvent>();
    juce::MessageManager::callAsync ([pane = juce::Component::SafePointer<MainPane> (this), shown]
    {
        if (pane != nullptr)
            pane->flushPendingLog();

        shown->signal();
    });

    while (! shown->wait (50))
        if (shuttingDown)
            return;
}

void MainPane::flushPendingLog()
{
    {
        const juce::ScopedLock sl (logLock);

        if (pendingLogText.isNotEmpty())
        {
            logEditor->insertTextAtCaret (pendingLogText);
            pendingLogText.clear();
        }
    }

    // Long operations log as they go: show the window as it is now before going on.
    catchUpWithWindow();
}

void MainPane::catchUpWithWindow()
{
    if (auto* peer = getPeer())
        peer->performAnyPendingRepaintsNow();

    handleQueuedWindowEvents();
    dispatchPendingMessages();
}

//==============================================================================
MainPane::DeviceOperation::DeviceOperation (MainPane& pane)
{
    if (pane.operationRunning || pane.stationRunning || isQuitting())
        return;

    owner = &pane;
    pane.operationRunning = true;

    pane.progressPanel = std::make_unique<TransferProgressPanel>();
    pane.progressPanel->onNews = [&pane] { pane.showProgress(); };
    pane.addChildComponent (*pane.progressPanel);
    pane.transfers.setTransferProgress (pane.progressPanel.get());
    pane.transfers.setVerify (Settings::get ("Verify after writing").getIntValue() != 0);

    pane.shield.setVisible (true);
}

MainPane::DeviceOperation::~DeviceOperation()
{
    if (owner == nullptr)
        return;

    owner->transfers.setTransferProgress (nullptr);
    owner->progressPanel = nullptr;
    owner->shield.setVisible (false);
    owner->operationRunning = false;
    owner->resized();
}

void MainPane::cancelOperation()
{
    if (progressPanel != nullptr)
        progressPanel->cancel();
}

bool MainPane::wasCancelled() const
{
    return progressPanel != nullptr && progressPanel->isCancelled();
}

void MainPane::showProgress()
{
    if (! progressPanel->isVisible())
    {
        progressPanel->setVisible (true);
        resized();

        // Keys go to the shield now (Escape cancels), not to a pane's box or button.
        if (shield.isShowing())
            shield.grabKeyboardFocus();
    }

    catchUpWithWindow();
}

void MainPane::hideProgress()
{
    if (progressPanel != nullptr && progressPanel->isVisible())
    {
        progressPanel->setVisible (false);
        resized();

        // Painted now: a result box that follows at once must not show the bar behind it.
        if (auto* peer = getPeer())
            peer->performAnyPendingRepaintsNow();
    }
}

bool MainPane::keyPressed (const juce::KeyPress& key)
{
    if (key != juce::KeyPress::escapeKey || ! operationRunning)
        return false;

    cancelOperation();
    return true;
}

void MainPane::onEvent (juce::int32 eventId, juce::int64 argument)
{
    log (NotificationText::event (eventId, argument));
}

void MainPane::onPropertyValueChanged (juce::Array<juce::uint16>, juce::int32 propertyId, juce::int32 value)
{
    log (NotificationText::propertyValue (propertyId, value));
}

void MainPane::onPropertyTextChanged (juce::Array<juce::uint16>, juce::int32 propertyId, const juce::String& text)
{
    for (const auto& line : NotificationText::propertyText (propertyId, text))
        log (line);
}

void MainPane::setConnected()
{
    for (int i = 0; i < tabs->getNumTabs(); ++i)
        tabs->getTabbedButtonBar().getTabButton (i)->setEnabled (true);
}

void MainPane::setDisconnected()
{
    connectionPane->closePort();
    tabs->setCurrentTabIndex (connectionTab);
    tabs->getTabbedButtonBar().getTabButton (fileSystemTab)->setEnabled (false);
}

void MainPane::setStationRunning (bool running)
{
    if (running && connectionPane->holdsPort())
        connectionPane->disconnect();

    stationRunning = running;

    // After the station the device is not connected: only "Connection" comes back.
    for (const auto tab : { connectionTab, fileSystemTab })
    {
        tabs->getTabbedButtonBar().getTabButton (tab)->setEnabled (! running && tab == connectionTab);
        tabs->getTabContentComponent (tab)->setEnabled (! running);
    }

    if (running)
        showStationTab();
}

void MainPane::showStationTab()
{
    tabs->setCurrentTabIndex (stationTab);
}

void MainPane::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffdddddd));
}

void MainPane::resized()
{
    if (logEditor == nullptr)   // a pane's listing while the pane is being built
        return;

    const auto w = getWidth(), h = getHeight();
    const bool showingProgress = progressPanel != nullptr && progressPanel->isVisible();
    const auto strip = showingProgress ? progressStripHeight : 0;

    tabs->setBounds (8, 8, w - 16, h - 146 - strip);
    shield.setBounds (tabs->getBounds());
    logEditor->setBounds (16, h - 122, w - 32, 106);

    // Between the tabs and the log.
    if (showingProgress)
        progressPanel->setBounds (16, h - 134 - strip, w - 32, strip);
}
