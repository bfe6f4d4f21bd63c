#pragma once

#include <juce_core/juce_core.h>

/** The character set of texts on the wire.

    The host writes texts as UTF-8. Texts from the device are taken as UTF-8 when their
    bytes are valid UTF-8 and byte per character (each byte the character with the same
    code) otherwise. Names of the second kind are remembered with their original bytes, so
    that a path built from such a name goes back to the device byte for byte. */
namespace DeviceText
{
    /** Decodes the bytes up to the first zero byte (or all count bytes). */
    juce::String decode (const juce::uint8* bytes, size_t count);

    /** The bytes to send for a text: each "/"-separated part that was received byte per
        character goes back as the bytes it came in; everything else as UTF-8. */
    juce::MemoryBlock encode (const juce::String& text);

    /** Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. */
    bool isValidUtf8 (const juce::uint8* bytes, size_t count) noexcept;
}
