#include "protocol/DeviceText.h"

#include <map>
#include <string>

namespace
{
// Texts that arrived byte per character, with the bytes they arrived as. Bounded, so that
// a device listing endless distinct names can't grow it without limit.
class LegacyNames
{
public:
    void remember (const juce::String& text, const juce::uint8* bytes, size_t count)
    {
        const juce::ScopedLock sl (lock);

        if (names.size() < maxNames)
            names.emplace (text, std::string (reinterpret_cast<const char*> (bytes), count));
    }

    bool lookUp (const juce::String& text, std::string& bytes) const
    {
        const juce::ScopedLock sl (lock);
        auto found = names.find (text);

        if (found == names.end())
            return false;

        bytes = found->second;
        return true;
    }

    bool isEmpty() const
    {
        const juce::ScopedLock sl (lock);
        return names.empty();
    }

private:
    static constexpr size_t maxNames = 65536;
    juce::CriticalSection lock;
    std::map<juce::String, std::string> names;   // std::string: this outlives JUCE's leak checks
};

LegacyNames& legacyNames()
{
    static LegacyNames names;
    return names;
}

bool isContinuation (juce::uint8 byte) noexcept
{
    return (byte & 0xC0) == 0x80;
}
} // namespace

bool DeviceText::isValidUtf8 (const juce::uint8* bytes, size_t count) noexcept
{
    size_t i = 0;

    while (i < count)
    {
        const auto lead = bytes[i];
        size_t length = 1;
        juce::uint8 low = 0x80, high = 0xBF; // allowed range of the second byte

        if (lead < 0x80)              length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        else if (lead == 0xE0)        { length = 3; low = 0xA0; }
        else if (lead >= 0xE1 && lead <= 0xEC) length = 3;
        else if (lead == 0xED)        { length = 3; high = 0x9F; }
        else if (lead >= 0xEE && lead <= 0xEF) length = 3;
        else if (lead == 0xF0)        { length = 4; low = 0x90; }
        else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
        else if (lead == 0xF4)        { length = 4; high = 0x8F; }
        else                          return false;

        if (length > count - i)
            return false;

        if (length > 1 && (bytes[i + 1] < low || bytes[i + 1] > high))
            return false;

        for (size_t k = 2; k < length; ++k)
            if (! isContinuation (bytes[i + k]))
                return false;

        i += length;
    }

    return true;
}

juce::String DeviceText::decode (const juce::uint8* bytes, size_t count)
{
    size_t length = 0;

    while (length < count && bytes[length] != 0)
        ++length;

    if (isValidUtf8 (bytes, length))
        return juce::String::fromUTF8 (reinterpret_cast<const char*> (bytes), (int) length);

    juce::HeapBlock<juce::juce_wchar> characters (length + 1);

    for (size_t i = 0; i < length; ++i)
        characters[i] = (juce::juce_wchar) bytes[i];

    characters[length] = 0;
    juce::String text (juce::CharPointer_UTF32 (characters.get()));
    legacyNames().remember (text, bytes, length);
    return text;
}

juce::MemoryBlock DeviceText::encode (const juce::String& text)
{
    const auto byteCount = text.getNumBytesAsUTF8();
    const bool isAscii = byteCount == (size_t) text.length();

    if (isAscii || legacyNames().isEmpty())
        return juce::MemoryBlock (text.toRawUTF8(), byteCount);

    juce::MemoryOutputStream out;
    juce::StringArray parts;
    parts.addTokens (text, "/", {});

    for (int i = 0; i < parts.size(); ++i)
    {
        if (i > 0)
            out.writeByte ('/');

        std::string original;

        if (legacyNames().lookUp (parts[i], original))
            out.write (original.data(), original.size());
        else
            out.write (parts[i].toRawUTF8(), parts[i].getNumBytesAsUTF8());
    }

    return out.getMemoryBlock();
}
