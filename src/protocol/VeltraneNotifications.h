#pragma once

#include "protocol/VeltraneResponses.h"

/** A message the device sends on its own. Its payload has no serial number. Each decoding
    constructor takes a frame whose read position is just past the header. */
class VeltraneNotification : public VeltraneClientInputMessage
{
public:
    ReceivedMessage& getMessage() noexcept { return *message; }
    bool isMalformed() const noexcept      { return message->isTruncated(); }

protected:
    explicit VeltraneNotification (std::unique_ptr<ReceivedMessage> message);

    std::unique_ptr<ReceivedMessage> message;
};

class ProcessTerminatedNotification final : public VeltraneNotification
{
public:
    explicit ProcessTerminatedNotification (std::unique_ptr<ReceivedMessage>);

    juce::int64 getProcessId() const noexcept       { return processId; }
    juce::int32 getProcessExitCode() const noexcept { return processExitCode; }

private:
    juce::int64 processId;
    juce::int32 processExitCode;
};

class VeltraneEvent final : public VeltraneNotification
{
public:
    explicit VeltraneEvent (std::unique_ptr<ReceivedMessage>);

    juce::int32 getEventId() const noexcept  { return eventId; }
    juce::int64 getArgument() const noexcept { return argument; }

private:
    juce::int32 eventId;
    juce::int64 argument;
};

class VeltranePropertyChangedNotification final : public VeltraneNotification
{
public:
    explicit VeltranePropertyChangedNotification (std::unique_ptr<ReceivedMessage>);

    const juce::Array<juce::uint16>& getPropertyPath() const noexcept { return propertyPath; }

    /** The 16-bit id, sign-extended. */
    juce::int32 getPropertyId() const noexcept   { return propertyId; }
    bool isTextValue() const noexcept            { return isText; }
    juce::int32 getValue() const noexcept        { return value; }
    const juce::String& getText() const noexcept { return text; }

private:
    juce::Array<juce::uint16> propertyPath;
    juce::int32 propertyId = 0;
    juce::int32 value = 0;
    juce::String text;
    bool isText = false;
};
