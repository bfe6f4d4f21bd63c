#include "device/MacAddress.h"

#include <regex>

juce::String MacAddress::find (const juce::String& text)
{
    static const std::regex address ("(^|[^0-9A-Fa-f])"
                                     "([0-9A-Fa-f]{2})[:-]?([0-9A-Fa-f]{2})[:-]?([0-9A-Fa-f]{2})[:-]?"
                                     "([0-9A-Fa-f]{2})[:-]?([0-9A-Fa-f]{2})[:-]?([0-9A-Fa-f]{2})"
                                     "($|[^0-9A-Fa-f])");
    const auto bytes = text.toStdString();
    std::smatch match;

    if (! std::regex_search (bytes, match, address))
        return {};

    juce::StringArray pairs;

    for (size_t i = 2; i <= 7; ++i)
        pairs.add (juce::String (match[i].str()).toUpperCase());

    return pairs.joinIntoString ("-");
}
