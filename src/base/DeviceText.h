#pragma once

#include <juce_core/juce_core.h>

/** The character set of texts on the wire.

    The host writes texts as UTF-8. A text from the device whose bytes are valid UTF-8 is
    taken as UTF-8. Any other text keeps its exact bytes: ASCII bytes stay characters, and
    every byte b from 0x80 up becomes the character U+DC00 + b, a lone surrogate that valid
    UTF-8 never yields. Such a text goes back to the device as the bytes it came in, so a
    path built from a listed name addresses that entry even when a sibling's name looks the
    same, while everything the operator types goes out as UTF-8. */
namespace DeviceText
{
    /** Decodes count bytes; zero bytes at the end are padding and dropped. A zero byte
        inside the text is kept as U+DC00, so that "a\0b" never reads as its sibling "a". */
    juce::String decode (const juce::uint8* bytes, size_t count);

    /** The bytes to send for a text: UTF-8, except that each kept byte (U+DC00 and U+DC80
        to U+DCFF) goes back as that byte. */
    juce::MemoryBlock encode (const juce::String& text);

    /** The text as a person should see it: kept bytes shown as the Latin-1 characters of
        the same codes. Not for sending back: two different names may look the same. */
    juce::String toDisplay (const juce::String& text);

    /** True when the text holds bytes that were not valid UTF-8, or a zero byte. */
    bool hasKeptBytes (const juce::String& text);

    /** True when the text held a zero byte: no path or host file name can carry it. */
    bool holdsZeroByte (const juce::String& text);

    /** Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. */
    bool isValidUtf8 (const juce::uint8* bytes, size_t count) noexcept;
}
