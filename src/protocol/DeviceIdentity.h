#pragma once

#include <juce_core/juce_core.h>

/** The identification the device gives in its WhoAmI answer. */
struct DeviceIdentity
{
    juce::uint16 familyId = 0;
    juce::uint16 deviceId = 0;
    juce::uint16 protocolVersion = 0;
    juce::uint16 firmwareVersion = 0;
    juce::String firstText;
    juce::String secondText;
};
