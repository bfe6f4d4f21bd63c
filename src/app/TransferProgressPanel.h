#pragma once

#include "remotefs/TransferTally.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** The strip the main pane shows between the tabs and the log while a device operation
    copies files: a progress bar, a line saying how far it is (bytes, rate, time left; for a
    folder tree also the file and how many files are done) and Cancel. It follows the
    transfers as their TransferProgress and redraws at most ten times a second. */
class TransferProgressPanel : public juce::Component,
                              public TransferTally,
                              private juce::Button::Listener
{
public:
    TransferProgressPanel();
    ~TransferProgressPanel() override;

    /** Stops the transfer after its current block. */
    void cancel() noexcept                      { cancelled = true; }
    bool isCancelled() override                 { return cancelled; }

    /** Called whenever the panel has something new to show (at most ten times a second,
        and at each file's start and end); the owner shows it and lets the window repaint. */
    std::function<void()> onNews;

    juce::String getText() const                { return text.getText(); }

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    void changed (bool important) override;
    void buttonClicked (juce::Button*) override;

    bool cancelled = false;
    double fractionDone = 0.0;
    juce::ProgressBar bar { fractionDone };
    juce::Label text;
    juce::TextButton cancelButton { "Cancel" };

    JUCE_DECLARE_NON_COPYABLE (TransferProgressPanel)
};
