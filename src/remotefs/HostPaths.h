#pragma once

#include <juce_core/juce_core.h>

/** True when a name the device gave can be used as one component of a host path: not
    empty, not "." or "..", without path separators; on Windows also without a drive
    colon or other characters Windows refuses, and not a device name such as COM1 or NUL. */
bool isSafeEntryName (const juce::String& name);

/** The host file for a path as an operator or caller gave it: relative paths are taken
    from the current folder; an empty path gives juce::File() (no file). */
juce::File resolveLocalPath (const juce::String& path);
