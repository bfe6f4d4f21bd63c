#include "browser/NameAssigner.h"

NameAssigner::NameAssigner()
{
    nameBox.setMultiLine (false);
    nameBox.setReturnKeyStartsNewLine (false);
    nameBox.setReadOnly (true);     // until the first showForEditing
    nameBox.setScrollbarsShown (true);
    nameBox.setCaretVisible (true);
    nameBox.setPopupMenuEnabled (true);
    nameBox.setText ({});
    addAndMakeVisible (nameBox);

    okButton.setButtonText ("OK");
    okButton.addListener (this);
    addAndMakeVisible (okButton);

    cancelButton.setButtonText ("Cancel");
    cancelButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xfff8f8f8));
    cancelButton.setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xffdfdfdf));
    cancelButton.addListener (this);
    addAndMakeVisible (cancelButton);

    setSize (300, 72);
    nameBox.addListener (this);
}

NameAssigner::~NameAssigner()
{
    nameBox.removeListener (this);
}

void NameAssigner::showForEditing (const juce::String& text, bool selectAllOnFocus)
{
    nameBox.setText (text, true);
    nameBox.setReadOnly (false);
    nameBox.setCaretVisible (true);
    nameBox.setColour (juce::TextEditor::shadowColourId, juce::Colours::black.withAlpha (0.7f));
    nameBox.setSelectAllWhenFocused (selectAllOnFocus);
}

void NameAssigner::showAsQuestion (const juce::String& text)
{
    nameBox.setText (text, true);
    nameBox.setReadOnly (true);
    nameBox.setCaretVisible (false);
    nameBox.setColour (juce::TextEditor::shadowColourId, juce::Colour (0x00000000));
    nameBox.setSelectAllWhenFocused (false);
}

juce::String NameAssigner::getEnteredText() const
{
    return nameBox.getText();
}

int NameAssigner::runModally()
{
    accepted = false;
    setVisible (true);
    const auto result = runModalLoop();

    // A quit ends the loop without ending the panel's modal state.
    if (isCurrentlyModal (false))
        exitModalState (cancelledResult);

    setVisible (false);
    return accepted && result == acceptedResult ? acceptedResult : cancelledResult;
}

void NameAssigner::accept()
{
    if (! isCurrentlyModal (false))
        return;

    accepted = true;
    exitModalState (acceptedResult);
}

void NameAssigner::cancel()
{
    if (isCurrentlyModal (false))
        exitModalState (cancelledResult);
}

void NameAssigner::buttonClicked (juce::Button* button)
{
    if (button == &okButton)
        accept();
    else if (button == &cancelButton)
        cancel();
}

void NameAssigner::textEditorReturnKeyPressed (juce::TextEditor&)
{
    accept();
}

void NameAssigner::textEditorEscapeKeyPressed (juce::TextEditor&)
{
    cancel();
}

bool NameAssigner::keyPressed (const juce::KeyPress& key)
{
    if (! isCurrentlyModal (false))
        return false;

    if (key == juce::KeyPress::returnKey)
    {
        accept();
        return true;
    }

    if (key == juce::KeyPress::escapeKey)
    {
        cancel();
        return true;
    }

    return false;
}

void NameAssigner::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::white);
    g.setColour (juce::Colour (0xffa3a3a3));
    g.drawRect (getLocalBounds(), 2);
}

void NameAssigner::resized()
{
    const auto w = getWidth(), h = getHeight();
    nameBox.setBounds (8, h / 2 - 28, w - 16, 24);
    okButton.setBounds (w - 92, h / 2 + 4, 80, 24);
    cancelButton.setBounds (w - 180, h / 2 + 4, 80, 24);
}
