#pragma once

#include "base/ILogger.h"
#include "app/ShinyLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

class HelloWorldWindow;

/** The application object: look and feel, settings file, the window, then the
    unattended modes of the command line. "--version" prints the version and quits
    without a window. Started as a station ("station"), the program exits when the window
    is closed, with 0 when no device failed and -1 otherwise. */
class JUCEHelloWorldApplication : public juce::JUCEApplication,
                                  public ILogger
{
public:
    JUCEHelloWorldApplication();
    ~JUCEHelloWorldApplication() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    /** Stops a running station first and waits for its jobs to end (after their current
        block), then quits. */
    void systemRequestedQuit() override;

    const juce::String getApplicationName() override    { return "Hello World for JUCE"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override          { return true; }
    void anotherInstanceStarted (const juce::String&) override {}

    /** Never installed as the program's logger; drops the text. */
    void log (juce::String) override {}

private:
    std::unique_ptr<HelloWorldWindow> window;
    ShinyLookAndFeel lookAndFeel;
    bool stationMode = false;
    bool waitingForStation = false;
};
