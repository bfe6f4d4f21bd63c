#include "device/NotificationText.h"

juce::String NotificationText::event (juce::int32 eventId, juce::int64 argument)
{
    return "Event " + juce::String (eventId) + ", arg " + juce::String ((juce::int32) argument) + ".";
}

juce::String NotificationText::propertyValue (juce::int32 propertyId, juce::int32 value)
{
    return "Prop " + juce::String ((juce::uint16) propertyId) + ": value " + juce::String (value) + ".";
}

juce::StringArray NotificationText::propertyText (juce::int32 propertyId, const juce::String& text)
{
    return { "Prop " + juce::String ((juce::uint16) propertyId) + ":", text };
}
