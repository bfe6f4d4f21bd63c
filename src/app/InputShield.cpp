#include "app/InputShield.h"
#include "base/ILogger.h"

InputShield::InputShield()
{
    setName ("input shield");
    setInterceptsMouseClicks (true, false);
    setWantsKeyboardFocus (true);
    setOpaque (false);
}

bool InputShield::keyPressed (const juce::KeyPress& key)
{
    if (key == juce::KeyPress::escapeKey && onEscape != nullptr)
        onEscape();

    return true;   // no key reaches the panes underneath
}

bool InputShield::isInterestedInFileDrag (const juce::StringArray&)
{
    return true;
}

void InputShield::filesDropped (const juce::StringArray&, int, int)
{
    logLine ("Drop refused: wait until the running operation has ended.");
}
