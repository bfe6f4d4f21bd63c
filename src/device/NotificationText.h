#pragma once

#include <juce_core/juce_core.h>

/** The log's words for each notification the device sends, the same in every front end. */
namespace NotificationText
{
    /** "Event 7, arg 2." (the argument's low 32 bits, signed). */
    juce::String event (juce::int32 eventId, juce::int64 argument);

    /** "Prop 5: value 99." (ids are 16 bits, shown unsigned: 0x8000 is 32768) */
    juce::String propertyValue (juce::int32 propertyId, juce::int32 value);

    /** Two lines: "Prop 5:", then the text. */
    juce::StringArray propertyText (juce::int32 propertyId, const juce::String& text);
}
