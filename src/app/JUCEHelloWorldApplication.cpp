#include "app/JUCEHelloWorldApplication.h"
#include "app/CommandLineModes.h"
#include "app/HelloWorldWindow.h"
#include "app/MainPane.h"
#include "app/Settings.h"

#include <iostream>

JUCEHelloWorldApplication::JUCEHelloWorldApplication() = default;
JUCEHelloWorldApplication::~JUCEHelloWorldApplication() = default;

void JUCEHelloWorldApplication::initialise (const juce::String& commandLine)
{
    if (commandLine.trim() == "--version")
    {
        std::cout << "usb-file-utility " USB_FILE_UTILITY_VERSION << std::endl;
        quit();
        return;
    }

    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
    Settings::open();
    window = std::make_unique<HelloWorldWindow>();
    const auto outcome = runCommandLine (commandLine, window->getMainPane().getConnectionPane());

    if (outcome.quit)
    {
        setApplicationReturnValue (outcome.exitCode);
        quit();
    }
}

void JUCEHelloWorldApplication::shutdown()
{
    window = nullptr;
    Settings::close();
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}
