#pragma once

#include <juce_core/juce_core.h>

class Console;

/** Which port the tool opens. A requested name may be a discovered device's name, one of
    the listed port names, or any port path, used as it is. Without one, the only
    discovered port is taken; none or several is an error. */
class PortChoice
{
public:
    /** The ports that can be used: device name -> port name, discovered devices first,
        then USB_FILE_UTILITY_PORTS. */
    static juce::StringPairArray listPorts();

    /** The port to open, or an empty text after telling the operator why there is none. */
    static juce::String choose (const juce::String& requested, Console& console);
};
