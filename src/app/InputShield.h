#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** A transparent cover laid over the tabs while a device operation runs: it takes the
    clicks, the keys and the dropped files meant for the panes underneath, so that nothing
    starts inside the running operation, while the window goes on painting. Escape asks
    for the operation to be cancelled. */
class InputShield : public juce::Component,
                    public juce::FileDragAndDropTarget
{
public:
    InputShield();

    /** Called when Escape is pressed while the shield has the keyboard focus. */
    std::function<void()> onEscape;

    bool keyPressed (const juce::KeyPress& key) override;
    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    void filesDropped (const juce::StringArray& files, int x, int y) override;

    JUCE_DECLARE_NON_COPYABLE (InputShield)
};
