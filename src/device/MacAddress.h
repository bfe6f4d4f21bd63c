#pragma once

#include <juce_core/juce_core.h>

/** The MAC address a device's MAC-address file holds. */
namespace MacAddress
{
    /** The first address in the text: six pairs of hex digits separated by ':' or '-', or
        twelve hex digits in a row; as "00-1A-2B-3C-4D-5E" (upper case, dashes, which every
        file system takes in a name). Empty when there is none. */
    juce::String find (const juce::String& text);
}
