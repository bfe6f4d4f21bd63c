#include "app/JUCEHelloWorldApplication.h"
#include "app/CommandLineModes.h"
#include "app/HelloWorldWindow.h"
#include "app/MainPane.h"
#include "app/Settings.h"
#include "app/StationPane.h"

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
    auto& mainPane = window->getMainPane();
    const auto outcome = runCommandLine (commandLine, mainPane);

    if (outcome.quit)
    {
        setApplicationReturnValue (outcome.exitCode);
        quit();
        return;
    }

    if (outcome.station)
    {
        // A station PC comes up ready: the whole screen, the tiles, the job running.
        stationMode = true;
        window->setFullScreen (true);
        mainPane.showStationTab();
        mainPane.getStationPane().start();
    }
}

void JUCEHelloWorldApplication::systemRequestedQuit()
{
    if (window != nullptr)
    {
        auto& station = window->getMainPane().getStationPane();

        if (station.isRunning())
        {
            // A second close while the jobs stop changes nothing.
            if (waitingForStation)
                return;

            // The jobs stop as a cancel does and their records are kept; the window goes on
            // painting and logging meanwhile. The quit is posted from here, after the wait,
            // not from a message handled inside it: a quit handled inside a nested dispatch
            // can leave the outer loop asleep.
            const juce::ScopedValueSetter<bool> waiting (waitingForStation, true);
            station.stop();

            while (station.isRunning() && juce::MessageManager::getInstance()->runDispatchLoopUntil (20))
            {
            }
        }

        if (stationMode)
            setApplicationReturnValue (station.hasFailures() ? -1 : 0);
    }

    quit();
}

void JUCEHelloWorldApplication::shutdown()
{
    window = nullptr;
    Settings::close();
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}
