#pragma once

#include "app/ILogger.h"
#include "protocol/VeltraneClient.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>

class ConnectionPane;

/** The content of the main window: the protocol client, the "Connection" and "File
    System" tabs, and the log under them. It is the program's logger and the listener of
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
        disables the others. */
    void setDisconnected();

    VeltraneClient& getClient() noexcept             { return client; }
    ConnectionPane& getConnectionPane() noexcept     { return *connectionPane; }
    juce::TabbedComponent& getTabs() noexcept        { return *tabs; }
    juce::TextEditor& getLogEditor() noexcept        { return *logEditor; }

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void flushPendingLog();

    VeltraneClient client;
    juce::String pendingLogText;
    juce::CriticalSection logLock;
    std::unique_ptr<juce::TabbedComponent> tabs;
    std::unique_ptr<juce::TextEditor> logEditor;
    ConnectionPane* connectionPane = nullptr;
    std::atomic<bool> shuttingDown { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainPane)
};
