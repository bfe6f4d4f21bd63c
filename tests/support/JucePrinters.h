#pragma once

#include <juce_core/juce_core.h>

#include <ostream>

// Readable GoogleTest messages for JUCE's text types.
namespace juce
{
inline void PrintTo (const String& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo (const StringArray& lines, std::ostream* os)
{
    *os << "{";
    for (int i = 0; i < lines.size(); ++i)
        *os << (i > 0 ? ", \"" : " \"") << lines[i].toStdString() << '"';
    *os << " }";
}
} // namespace juce
