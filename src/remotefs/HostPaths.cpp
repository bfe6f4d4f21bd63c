#include "remotefs/HostPaths.h"
#include "base/DeviceText.h"

namespace
{
#if JUCE_WINDOWS
bool isWindowsDeviceName (const juce::String& name)
{
    const auto base = name.upToFirstOccurrenceOf (".", false, false).trimEnd().toUpperCase();

    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;

    return (base.startsWith ("COM") || base.startsWith ("LPT"))
           && base.length() == 4 && juce::CharacterFunctions::isDigit (base[3]) && base[3] != '0';
}

bool hasControlCharacter (const juce::String& name)
{
    for (auto c : name)
        if (c < 0x20 || c == 0x7f)
            return true;

    return false;
}
#endif
} // namespace

bool isSafeEntryName (const juce::String& name)
{
    if (name.isEmpty() || name == "." || name == ".." || name.containsAnyOf ("/\\") || DeviceText::holdsZeroByte (name))
        return false;

   #if JUCE_WINDOWS
    // Windows also drops trailing dots and blanks, so "..." or "a." would name another entry.
    if (name.containsAnyOf (":<>\"|?*") || hasControlCharacter (name) || isWindowsDeviceName (name)
        || name.endsWithChar ('.') || name.endsWithChar (' '))
        return false;
   #endif

    return true;
}

juce::File resolveLocalPath (const juce::String& path)
{
    if (path.isEmpty())
        return {};

    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}
