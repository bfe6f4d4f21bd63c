#include "protocol/VeltraneNotifications.h"

VeltraneNotification::VeltraneNotification (std::unique_ptr<ReceivedMessage> m)
    : message (std::move (m))
{
}

ProcessTerminatedNotification::ProcessTerminatedNotification (std::unique_ptr<ReceivedMessage> m)
    : VeltraneNotification (std::move (m)),
      processId (message->readInt64()),
      processExitCode (message->readInt())
{
}

VeltraneEvent::VeltraneEvent (std::unique_ptr<ReceivedMessage> m)
    : VeltraneNotification (std::move (m)),
      eventId (message->readInt()),
      argument (message->readInt64())
{
}

VeltranePropertyChangedNotification::VeltranePropertyChangedNotification (std::unique_ptr<ReceivedMessage> m)
    : VeltraneNotification (std::move (m))
{
    const int pathLength = message->readByte();

    for (int i = 0; i < pathLength && ! message->isTruncated(); ++i)
        propertyPath.add (message->readShort());

    const auto rawId = message->readShort();
    propertyId = (juce::int16) rawId;
    isText = isTextPropertyId (rawId);

    if (isText)
        text = message->readText();
    else
        value = message->readInt();
}
