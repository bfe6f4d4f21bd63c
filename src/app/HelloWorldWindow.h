#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class MainPane;

/** The program's only window, "USB File Utility", with the main pane as its content. */
class HelloWorldWindow : public juce::DocumentWindow,
                         private juce::Timer
{
public:
    HelloWorldWindow();

    MainPane& getMainPane() const;

    /** Cancels a running transfer and asks the application to quit. */
    void closeButtonPressed() override;

    /** Escape cancels a running transfer also when no component of the window has the
        keyboard focus (the keys then come to the window itself). */
    bool keyPressed (const juce::KeyPress& key) override;

private:
    void timerCallback() override;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HelloWorldWindow)
};
