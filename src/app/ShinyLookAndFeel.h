#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The program's look: JUCE's light scheme, with text boxes drawn as the framework's
    classic look drew them, a thin outline and an inner shadow in the box's shadow colour
    (a faint grey unless a pane sets its own), so that a white box shows its edges on the
    white tabs. */
class ShinyLookAndFeel : public juce::LookAndFeel_V4
{
public:
    ShinyLookAndFeel();

    void drawTextEditorOutline (juce::Graphics&, int width, int height, juce::TextEditor&) override;
};
