#pragma once

#include <juce_core/juce_core.h>

/** What the device reports about one entry of its file system. A new record has an empty
    name, every flag false, size 0 and the three times at 0 milliseconds. */
struct FileSystemEntryInfo
{
    juce::String name;
    bool exists = false;
    juce::int64 size = 0;
    bool writable = false;          ///< the device's read-only byte, inverted
    bool attributeFlag = false;
    juce::Time firstTime;
    juce::Time modificationTime;
    juce::Time thirdTime;
};
