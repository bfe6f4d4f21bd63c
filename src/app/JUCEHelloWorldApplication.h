#pragma once

#include "base/ILogger.h"
#include "app/ShinyLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

class HelloWorldWindow;

/** The application object: look and feel, settings file, the window, then the
    unattended modes of the command line. "--version" prints the version and quits
    without a window. */
class JUCEHelloWorldApplication : public juce::JUCEApplication,
                                  public ILogger
{
public:
    JUCEHelloWorldApplication();
    ~JUCEHelloWorldApplication() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    const juce::String getApplicationName() override    { return "Hello World for JUCE"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override          { return true; }
    void anotherInstanceStarted (const juce::String&) override {}

    /** Never installed as the program's logger; drops the text. */
    void log (juce::String) override {}

private:
    std::unique_ptr<HelloWorldWindow> window;
    ShinyLookAndFeel lookAndFeel;
};
