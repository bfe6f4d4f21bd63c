#include "app/TransferProgressPanel.h"

TransferProgressPanel::TransferProgressPanel()
{
    setName ("progress");
    bar.setPercentageDisplay (true);
    addAndMakeVisible (bar);

    text.setName ("progress text");
    text.setFont (juce::Font (13.0f));
    text.setJustificationType (juce::Justification::centredLeft);
    text.setColour (juce::Label::textColourId, juce::Colours::black);
    addAndMakeVisible (text);

    cancelButton.setName ("cancel transfer");
    cancelButton.addListener (this);
    addAndMakeVisible (cancelButton);
}

TransferProgressPanel::~TransferProgressPanel()
{
    cancelButton.removeListener (this);
}

void TransferProgressPanel::changed (bool important)
{
    if (! isDueForRedraw (important))
        return;

    fractionDone = getFractionDone();
    text.setText (describe(), juce::dontSendNotification);

    if (onNews != nullptr)
        onNews();
}

void TransferProgressPanel::buttonClicked (juce::Button*)
{
    cancel();
}

void TransferProgressPanel::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffdddddd));
}

void TransferProgressPanel::resized()
{
    // Bar and Cancel on the first row, the text under them.
    auto area = getLocalBounds();
    auto top = area.removeFromTop (18);
    cancelButton.setBounds (top.removeFromRight (70));
    top.removeFromRight (6);
    bar.setBounds (top);
    text.setBounds (area);
}
