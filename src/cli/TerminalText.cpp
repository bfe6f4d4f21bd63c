#include "cli/TerminalText.h"
#include "base/DeviceText.h"

namespace
{
/** Length of the printable UTF-8 character at bytes[i], or 0 when the byte there starts
    no printable character (a control, an invalid byte, a format character). */
size_t printableLength (const std::string& bytes, size_t i)
{
    const auto lead = (juce::uint8) bytes[i];

    if (lead < 0x80)
        return (lead >= 0x20 && lead < 0x7f) ? 1 : 0;

    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;

    if (i + length > bytes.size()
        || ! DeviceText::isValidUtf8 (reinterpret_cast<const juce::uint8*> (bytes.data() + i), length))
        return 0;

    const auto c = juce::CharPointer_UTF8 (bytes.data() + i).getAndAdvance();

    // C1 controls, line and paragraph separators, and the marks that reorder text.
    const bool isFormatting = c < 0xA0 || c == 0x061C || c == 0x200E || c == 0x200F
                           || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)
                           || c == 0xFEFF;
    return isFormatting ? 0 : length;
}

bool needsNoQuoting (char c)
{
    return juce::CharacterFunctions::isLetterOrDigit ((juce::juce_wchar) (juce::uint8) c)
        || juce::String ("%+,-./:=@_^").containsChar ((juce::juce_wchar) c);
}

void appendOctal (std::string& out, juce::uint8 byte)
{
    out += '\\';
    out += (char) ('0' + ((byte >> 6) & 7));
    out += (char) ('0' + ((byte >> 3) & 7));
    out += (char) ('0' + (byte & 7));
}

void appendEscaped (std::string& out, juce::uint8 byte)
{
    switch (byte)
    {
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        default:   appendOctal (out, byte); break;
    }
}
} // namespace

std::string TerminalText::rawBytes (const juce::String& deviceText)
{
    const auto block = DeviceText::encode (deviceText);
    return std::string (static_cast<const char*> (block.getData()), block.getSize());
}

std::string TerminalText::shellEscape (const std::string& bytes)
{
    bool plain = ! bytes.empty(), printable = true;

    for (size_t i = 0; i < bytes.size();)
    {
        const auto length = printableLength (bytes, i);

        if (length == 0)
        {
            plain = printable = false;
            break;
        }

        plain = plain && (length > 1 || needsNoQuoting (bytes[i]));
        i += length;
    }

    // "~" and "#" only mean something at the start of a word.
    if (plain && bytes[0] != '~' && bytes[0] != '#')
        return bytes;

    // Only blanks and shell characters: one quoted word, in double quotes when that spares
    // escaping a single quote.
    if (printable && bytes.find ('\'') != std::string::npos
        && bytes.find_first_of ("\"$`\\!") == std::string::npos)
        return "\"" + bytes + "\"";

    std::string out;
    bool inQuotes = false, inEscape = false;

    const auto close = [&]
    {
        if (inQuotes || inEscape)
            out += '\'';

        inQuotes = inEscape = false;
    };

    for (size_t i = 0; i < bytes.size();)
    {
        const auto length = printableLength (bytes, i);

        if (length == 0)
        {
            if (! inEscape)
            {
                close();
                out += "$'";
                inEscape = true;
            }

            appendEscaped (out, (juce::uint8) bytes[i]);
            ++i;
        }
        else if (bytes[i] == '\'')
        {
            close();
            out += "\\'";
            ++i;
        }
        else
        {
            if (! inQuotes)
            {
                close();
                out += '\'';
                inQuotes = true;
            }

            out.append (bytes, i, length);
            i += length;
        }
    }

    close();
    return out.empty() ? std::string ("''") : out;
}

std::string TerminalText::escapeControls (const std::string& bytes)
{
    std::string out;

    for (size_t i = 0; i < bytes.size();)
    {
        const auto length = printableLength (bytes, i);

        if (length > 0)
        {
            out.append (bytes, i, length);
            i += length;
            continue;
        }

        out += "$'";

        while (i < bytes.size() && printableLength (bytes, i) == 0)
            appendEscaped (out, (juce::uint8) bytes[i++]);

        out += '\'';
    }

    return out;
}
