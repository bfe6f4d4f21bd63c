#include "remotefs/RemoteListing.h"
#include "base/DeviceText.h"

#include <algorithm>

bool precedesInUtf16 (const juce::String& a, const juce::String& b)
{
    // juce::String holds UTF-8, whose byte order differs from UTF-16's above U+FFFF, so
    // the code units are compared directly.
    const auto utf16A = a.toUTF16(), utf16B = b.toUTF16();
    const auto* unitA = utf16A.getAddress();
    const auto* unitB = utf16B.getAddress();

    for (;; ++unitA, ++unitB)
    {
        const auto ua = (juce::uint16) *unitA, ub = (juce::uint16) *unitB;

        if (ua != ub)
            return ua < ub;

        if (ua == 0)
            return false;
    }
}

juce::Array<ListedEntry> orderForListing (const juce::StringArray& fileNames, const juce::StringArray& folderNames)
{
    auto names = fileNames;
    names.addArray (folderNames);
    std::stable_sort (names.begin(), names.end(), precedesInUtf16);

    juce::Array<ListedEntry> entries;

    for (const auto& name : names)
        entries.add ({ name, folderNames.contains (name) });

    return entries;
}

bool isSingleEntryName (const juce::String& name)
{
    return name.isNotEmpty() && name != "." && name != ".." && ! name.containsChar ('/')
           && ! DeviceText::holdsZeroByte (name);
}

juce::String normaliseRemoteFolder (const juce::String& path)
{
    auto folder = path.trim().replace ("//", "/");

    if (folder.endsWithChar ('/'))
        folder = folder.upToLastOccurrenceOf ("/", false, false);

    return folder.isEmpty() ? juce::String ("/") : folder;
}

juce::String joinRemotePath (const juce::String& folder, const juce::String& name)
{
    return folder.endsWithChar ('/') ? folder + name : folder + "/" + name;
}
