// Entry point of the GUI tests: the test body runs on the message thread, with the
// framework's GUI initialised and the settings file in a throwaway folder.

#include "app/Settings.h"
#include "app/ShinyLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    // Listing the tests (CTest does it at build time) needs no display.
    if (testing::GTEST_FLAG (list_tests))
        return RUN_ALL_TESTS();

    const auto settingsFolder = juce::File::createTempFile ("usb-file-utility-settings");
    settingsFolder.createDirectory();
    setenv ("XDG_CONFIG_HOME", settingsFolder.getFullPathName().toRawUTF8(), 1);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        ShinyLookAndFeel lookAndFeel;
        juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
        result = RUN_ALL_TESTS();
        Settings::close();
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    }

    settingsFolder.deleteRecursively();
    return result;
}
