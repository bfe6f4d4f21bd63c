#pragma once

#include "base/ILogger.h"
#include "app/InputShield.h"
#include "remotefs/FileTransfer.h"
#include "protocol/VeltraneClient.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>

class ConnectionPane;
class StationPane;
class TransferProgressPanel;

/** The content of the main window: the protocol client, the "Connection", "File System"
    and "Station" tabs, and the log under them. It is the program's logger and the listener of
    the device's notifications, which it writes to the log. */
class MainPane : public juce::Component,
                 public ILogger,
                 public IVeltraneClientListener
{
public:
    MainPane();
    ~MainPane() override;

    /** Appends a line to the log, from any thread. On another thread than the message
        thread it waits until the message thread has shown the line (or shutdown began).
        Every line also goes to standard error, written by a thread of its own (see
        StandardErrorEcho), which the pane lets finish for up to a second when it goes.
        Showing the log lets up to 1000 pending messages be handled, so the window keeps
        painting during long operations. */
    void log (juce::String text) override;

    void onEvent (juce::int32 eventId, juce::int64 argument) override;
    void onPropertyValueChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, juce::int32 value) override;
    void onPropertyTextChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, const juce::String& text) override;

    /** Enables every tab. */
    void setConnected();

    /** Closes the connection pane's port (if it holds one), shows the "Connection" tab and
        disables the "File System" tab. */
    void setDisconnected();

    /** While the station runs, the "Connection" and "File System" tabs take no input and
        no device operation starts, so that no single-device operation meets a station
        port: starting it closes the connection pane's port and shows the "Station" tab. */
    void setStationRunning (bool running);

    /** Shows the "Station" tab. */
    void showStationTab();

    /** One thing at a time on the device: every entry point that talks to it (a button, a
        listing, a drop, a command-line mode) holds one of these while it runs. While it
        lives the panes take no input, a transfer shows its progress bar with Cancel, and
        Escape cancels. A second one made meanwhile is refused (false), as is one made once
        the application is quitting; a refused one must not touch the device. */
    class DeviceOperation
    {
    public:
        explicit DeviceOperation (MainPane& pane);
        ~DeviceOperation();

        explicit operator bool() const noexcept     { return owner != nullptr; }

    private:
        MainPane* owner = nullptr;

        JUCE_DECLARE_NON_COPYABLE (DeviceOperation)
    };

    /** True while a device operation or the station runs. */
    bool isBusy() const noexcept                     { return operationRunning || stationRunning; }

    /** Stops the running transfer after its current block (nothing when idle). */
    void cancelOperation();

    /** True when the running operation's transfer was cancelled. */
    bool wasCancelled() const;

    /** Hides the progress strip until the operation's next transfer begins (before a
        message box that says how the transfer went, say). */
    void hideProgress();

    /** The progress strip of the running operation, or nullptr when idle. */
    TransferProgressPanel* getProgressPanel() noexcept   { return progressPanel.get(); }

    /** Port rescans set this: the discovery's "Ignoring " lines, dropped at start-up
        because no logger is installed yet, are dropped on every rescan too. */
    void setDroppingDiscoveryLines (bool shouldDrop) noexcept   { droppingDiscoveryLines = shouldDrop; }

    VeltraneClient& getClient() noexcept             { return client; }

    /** The device's files and transfers; transfers report to the running operation's
        progress strip and stop at its Cancel. */
    FileTransfer& getTransfers() noexcept            { return transfers; }
    RemoteFileSystem& getFiles() noexcept            { return transfers.getFileSystem(); }
    ConnectionPane& getConnectionPane() noexcept     { return *connectionPane; }
    StationPane& getStationPane() noexcept           { return *stationPane; }
    juce::TabbedComponent& getTabs() noexcept        { return *tabs; }
    juce::TextEditor& getLogEditor() noexcept        { return *logEditor; }

    void paint (juce::Graphics& g) override;
    void resized() override;
    bool keyPressed (const juce::KeyPress& key) override;

private:
    void flushPendingLog();
    void showProgress();

    /** Shows what is waiting to be painted and handles pending messages, so that the window
        keeps up during long operations on the message thread. */
    void catchUpWithWindow();

    VeltraneClient client;
    FileTransfer transfers { client };
    InputShield shield;
    std::unique_ptr<TransferProgressPanel> progressPanel;
    bool operationRunning = false;
    bool stationRunning = false;
    bool droppingDiscoveryLines = false;
    juce::String pendingLogText;
    juce::CriticalSection logLock;
    std::unique_ptr<juce::TabbedComponent> tabs;
    std::unique_ptr<juce::TextEditor> logEditor;
    ConnectionPane* connectionPane = nullptr;
    StationPane* stationPane = nullptr;
    std::atomic<bool> shuttingDown { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainPane)
};
