#include "app/ShinyLookAndFeel.h"

ShinyLookAndFeel::ShinyLookAndFeel()
    : juce::LookAndFeel_V4 (juce::LookAndFeel_V4::getLightColourScheme())
{
    // The classic look's shade inside a text box; the light scheme has none.
    setColour (juce::TextEditor::shadowColourId, juce::Colour (0x38000000));
}

void ShinyLookAndFeel::drawTextEditorOutline (juce::Graphics& g, int width, int height, juce::TextEditor& editor)
{
    // The message boxes' own text fields keep the modern look.
    if (dynamic_cast<juce::AlertWindow*> (editor.getParentComponent()) != nullptr || ! editor.isEnabled())
        return;

    const bool editing = editor.hasKeyboardFocus (true) && ! editor.isReadOnly();
    const int border = editing ? 2 : 1;

    g.setColour (editor.findColour (editing ? juce::TextEditor::focusedOutlineColourId : juce::TextEditor::outlineColourId));
    g.drawRect (0, 0, width, height, border);

    auto shade = editor.findColour (juce::TextEditor::shadowColourId);

    if (editing)
        shade = shade.withMultipliedAlpha (0.75f);

    g.setOpacity (1.0f);
    drawBevel (g, 0, 0, width, height + 2, border + 2, shade, shade);
}
