#pragma once

#include <juce_core/juce_core.h>

/** Where host files named after device entries may go: inside the one folder the operator
    chose, with every link resolved. A device names its entries as it likes ("~user",
    "..", a name that meets a link in the chosen folder); none of them may lead a file or a
    folder out of it. */
class LocalTargetResolver
{
public:
    explicit LocalTargetResolver (const juce::File& chosenFolder);

    /** The entry called name directly inside folder, when name is one usable host name and
        the result, links resolved, lies inside the chosen folder; otherwise File(), and
        whyNot (when given) says why, for the caller's log line. */
    juce::File childInside (const juce::File& folder, const juce::String& name, juce::String* whyNot = nullptr) const;

    /** Creates folder (already checked by childInside) unless it is there, and checks once
        more that it lies inside the chosen folder. False, with a log line, otherwise. */
    bool createFolder (const juce::File& folder) const;

    /** True when file, links resolved, lies inside the chosen folder (or is it). */
    bool contains (const juce::File& file) const;

private:
    const juce::File resolvedChosenFolder;
};
