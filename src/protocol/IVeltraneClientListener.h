#pragma once

#include <juce_core/juce_core.h>

/** Receives the device's notifications. Called on the client's own thread
    ("VeltraneClientThread"), never on the message thread. */
class IVeltraneClientListener
{
public:
    virtual ~IVeltraneClientListener() = default;

    virtual void onEvent (juce::int32 eventId, juce::int64 argument) = 0;
    virtual void onPropertyValueChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, juce::int32 value) = 0;
    virtual void onPropertyTextChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, const juce::String& text) = 0;

    /** A process on the device has ended (the client logs it too). */
    virtual void onProcessTerminated (juce::int32 processId, juce::int32 exitCode)   { juce::ignoreUnused (processId, exitCode); }
};
