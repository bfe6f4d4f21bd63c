#include "base/DeviceText.h"
#include "protocol/FrameBuilder.h"
#include "protocol/VeltraneRequests.h"

#include <gtest/gtest.h>

namespace
{
bool valid (std::initializer_list<int> bytes)
{
    std::vector<juce::uint8> b;
    for (int x : bytes)
        b.push_back ((juce::uint8) x);
    return DeviceText::isValidUtf8 (b.data(), b.size());
}

juce::String decode (const std::string& bytes)
{
    return DeviceText::decode (reinterpret_cast<const juce::uint8*> (bytes.data()), bytes.size());
}

std::string encode (const juce::String& text)
{
    auto block = DeviceText::encode (text);
    return std::string (static_cast<const char*> (block.getData()), block.getSize());
}
} // namespace

TEST (DeviceText, StrictUtf8Validation)
{
    EXPECT_TRUE (valid ({ 'a', 0xC3, 0xBC, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80 }));
    EXPECT_FALSE (valid ({ 0xC0, 0xAF }));               // overlong "/"
    EXPECT_FALSE (valid ({ 0xE0, 0x80, 0xAF }));         // overlong three-byte form
    EXPECT_FALSE (valid ({ 0xED, 0xA0, 0x80 }));         // a surrogate
    EXPECT_FALSE (valid ({ 0xF4, 0x90, 0x80, 0x80 }));   // above U+10FFFF
    EXPECT_FALSE (valid ({ 0xE9 }));                     // a lone Latin-1 byte
    EXPECT_FALSE (valid ({ 0xC3 }));                     // cut short
    EXPECT_FALSE (valid ({ 0xE2, 0x28, 0xA1 }));         // bad continuation
}

TEST (DeviceText, ValidUtf8IsDecodedAsUtf8)
{
    EXPECT_EQ (decode ("Gr\xc3\xbc\xc3\x9f" "e"), juce::String (juce::CharPointer_UTF8 ("Gr\xc3\xbc\xc3\x9f" "e")));
    EXPECT_EQ (decode ("Gr\xc3\xbc\xc3\x9f" "e").length(), 5);
}

TEST (DeviceText, OtherBytesAreOneCharacterEachAndShowAsLatin1)
{
    const auto text = decode ("caf\xe9 \xff");
    ASSERT_EQ (text.length(), 6);
    EXPECT_EQ (DeviceText::toDisplay (text), juce::String (juce::CharPointer_UTF8 ("caf\xc3\xa9 \xc3\xbf")));

    // The Latin-1 name and the UTF-8 one look alike but stay different texts.
    EXPECT_NE (text.upToFirstOccurrenceOf (" ", false, false), decode ("caf\xc3\xa9"));
    EXPECT_EQ (DeviceText::toDisplay (text.upToFirstOccurrenceOf (" ", false, false)), decode ("caf\xc3\xa9"));
}

TEST (DeviceText, NamesGoBackToTheDeviceByteForByte)
{
    const std::string utf8Name = "\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0";   // Cyrillic, valid UTF-8
    const std::string latin1Name = "R\xe9sum\xe9";                          // Latin-1, not UTF-8

    const auto utf8Folder = decode (utf8Name);
    const auto latin1File = decode (latin1Name);

    EXPECT_EQ (encode ("/mnt/nandfs/" + utf8Folder + "/" + latin1File),
               "/mnt/nandfs/" + utf8Name + "/" + latin1Name);
    EXPECT_EQ (encode ("//" + latin1File + "/"), "//" + latin1Name + "/");

    // A name the operator types is sent as UTF-8, even when it looks like a received one.
    EXPECT_EQ (encode ("/x/" + DeviceText::toDisplay (latin1File)), "/x/R\xc3\xa9sum\xc3\xa9");

    // Every byte pattern survives the round trip.
    std::string everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte += (char) b;
    EXPECT_EQ (encode (decode (everyByte)), everyByte);
}

TEST (DeviceText, AZeroByteInsideANameKeepsItApartFromItsSibling)
{
    const auto withZero = decode (std::string ("a\0evil", 6));
    EXPECT_NE (withZero, decode ("a"));
    EXPECT_TRUE (DeviceText::holdsZeroByte (withZero));
    EXPECT_EQ (encode (withZero), std::string ("a\0evil", 6));
    EXPECT_FALSE (DeviceText::toDisplay (withZero).containsChar (0));

    // Zero bytes that pad the end are no part of the text.
    EXPECT_EQ (decode (std::string ("a\0\0", 3)), "a");
    EXPECT_FALSE (DeviceText::holdsZeroByte (decode (std::string ("a\0", 2))));
}

TEST (DeviceText, ARequestCarriesAReceivedNameUnchanged)
{
    const std::string raw = "\xc4\x70\x66\x65\x6c";   // "Äpfel" in Latin-1
    const auto name = decode (raw);

    FolderContentsRequest request ("/" + name);
    juce::MemoryOutputStream out;
    request.write (out);

    const std::string sent (static_cast<const char*> (out.getData()) + 10, out.getDataSize() - 10);
    EXPECT_EQ (sent, std::string ("\x06\0\0\0/", 5) + raw);
}
