#include "base/DeviceText.h"


namespace
{
constexpr juce::juce_wchar keptByteBase = 0xDC00;

bool isKeptByte (juce::juce_wchar c) noexcept
{
    return c == keptByteBase || (c >= keptByteBase + 0x80 && c <= keptByteBase + 0xFF);
}

/** One run of bytes without zero bytes: UTF-8 when it is valid, kept bytes otherwise. */
juce::String decodeRun (const juce::uint8* bytes, size_t length)
{
    if (DeviceText::isValidUtf8 (bytes, length))
        return juce::String::fromUTF8 (reinterpret_cast<const char*> (bytes), (int) length);

    juce::HeapBlock<juce::juce_wchar> characters (length + 1);

    for (size_t i = 0; i < length; ++i)
        characters[i] = bytes[i] < 0x80 ? (juce::juce_wchar) bytes[i] : keptByteBase + bytes[i];

    characters[length] = 0;
    return juce::String (juce::CharPointer_UTF32 (characters.get()));
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
    while (count > 0 && bytes[count - 1] == 0)
        --count;

    juce::String text;
    size_t start = 0;

    for (size_t i = 0; i <= count; ++i)
    {
        if (i < count && bytes[i] != 0)
            continue;

        text += decodeRun (bytes + start, i - start);

        if (i < count)
            text += (juce::juce_wchar) keptByteBase;

        start = i + 1;
    }

    return text;
}

juce::MemoryBlock DeviceText::encode (const juce::String& text)
{
    if (! hasKeptBytes (text))
        return juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8());

    juce::MemoryOutputStream out;

    for (auto c : text)
    {
        if (isKeptByte (c))
        {
            out.writeByte ((char) (c - keptByteBase));
        }
        else
        {
            char utf8[8];
            juce::CharPointer_UTF8 end (utf8);
            end.write (c);
            out.write (utf8, (size_t) (end.getAddress() - utf8));
        }
    }

    return out.getMemoryBlock();
}

juce::String DeviceText::toDisplay (const juce::String& text)
{
    if (! hasKeptBytes (text))
        return text;

    juce::String shown;
    shown.preallocateBytes (text.getNumBytesAsUTF8());

    // A zero byte is shown as the symbol for it, never as a character that ends a text.
    for (auto c : text)
        shown += (juce::juce_wchar) (c == keptByteBase ? 0x2400 : isKeptByte (c) ? c - keptByteBase : c);

    return shown;
}

bool DeviceText::hasKeptBytes (const juce::String& text)
{
    for (auto c : text)
        if (isKeptByte (c))
            return true;

    return false;
}

bool DeviceText::holdsZeroByte (const juce::String& text)
{
    return text.containsChar ((juce::juce_wchar) keptByteBase);
}
