#pragma once

#include <juce_core/juce_core.h>

/** One entry of a device folder as the "File System" tab lists it. */
struct ListedEntry
{
    juce::String name;
    bool isFolder = false;
};

/** Ascending order by UTF-16 code units, case-sensitive: every upper-case ASCII letter
    sorts before every lower-case one. */
bool precedesInUtf16 (const juce::String& a, const juce::String& b);

/** The file names followed by the folder names, sorted by precedesInUtf16, files and
    folders mixed. A name that is in folderNames counts as a folder (a name listed as both
    appears twice, both times as a folder). */
juce::Array<ListedEntry> orderForListing (const juce::StringArray& fileNames, const juce::StringArray& folderNames);

/** True when a listed name stands for one entry of its folder: not empty, not "." or "..",
    without "/". Joined to the folder, any other name would address a different entry. */
bool isSingleEntryName (const juce::String& name);

/** A device folder path as the "File System" tab uses it: blanks trimmed, "//" made "/" in
    one left-to-right pass, one trailing "/" cut, and "/" for an empty path. */
juce::String normaliseRemoteFolder (const juce::String& path);

/** A device folder joined with an entry name by "/" ("/" and "a" give "/a"). */
juce::String joinRemotePath (const juce::String& folder, const juce::String& name);
