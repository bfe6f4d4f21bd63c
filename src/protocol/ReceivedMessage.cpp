#include "protocol/ReceivedMessage.h"
#include "base/DeviceText.h"

ReceivedMessage::ReceivedMessage() = default;

juce::String ReceivedMessage::takeHeaderProblem()
{
    return std::exchange (headerProblem, {});
}

juce::uint16 ReceivedMessage::storedMessageId() const noexcept
{
    return juce::ByteOrder::littleEndianShort (header);
}

bool ReceivedMessage::isNotification() const noexcept
{
    if (receivedCount < 2)
        return false;

    switch (storedMessageId())
    {
        case 0x8000: case 0x8001: case 0x8002: case 0x8005: case 0x8006:
            return true;
        default:
            return false;
    }
}

int ReceivedMessage::append (const void* data, int count)
{
    auto* bytes = static_cast<const juce::uint8*> (data);
    int taken = 0;

    if (! headerValid)
    {
        const int k = juce::jmin (count, headerSize - receivedCount);
        memcpy (header + receivedCount, bytes, (size_t) k);
        receivedCount += k;
        taken = k;

        if (receivedCount < headerSize)
            return k;

        headerValid = true;
        const auto messageId = storedMessageId();

        if (messageId > largestMessageId)
        {
            headerProblem << "Invalid message ID - " << (int) messageId << "\n";
            headerValid = false;
        }

        payloadLength = juce::ByteOrder::littleEndianInt (header + 2);

        if (payloadLength > maxPayloadLength)
        {
            headerProblem << "invalid size read - " << (int) payloadLength << "\n";
            headerValid = false;
        }

        if (! headerValid)
        {
            headerProblem << "Invalid header - dumping message";
            reset();
            return k;
        }

        // Sized to this frame: a babbling device sending short frames costs little memory.
        buffer.malloc ((size_t) headerSize + payloadLength);
        memcpy (buffer.get(), header, (size_t) headerSize);
    }

    const int wanted = (int) payloadLength + headerSize - receivedCount;
    const int m = juce::jmin (count - taken, wanted);
    memcpy (buffer + receivedCount, bytes + taken, (size_t) m);
    receivedCount += m;

    if (receivedCount == (int) payloadLength + headerSize)
        complete = true;

    return taken + m;
}

void ReceivedMessage::reset() noexcept
{
    readPosition = 0;
    receivedCount = 0;
    complete = false;
    headerValid = false;
    truncated = false;
}

bool ReceivedMessage::canRead (juce::int64 count) noexcept
{
    if (! truncated && count >= 0 && readPosition + count <= receivedCount)
        return true;

    truncated = true;
    return false;
}

juce::uint8 ReceivedMessage::readByte()
{
    if (! canRead (1))
        return 0;

    return getData()[readPosition++];
}

bool ReceivedMessage::readBool()
{
    return readByte() != 0;
}

juce::uint16 ReceivedMessage::readShort()
{
    if (! canRead (2))
        return 0;

    const auto value = juce::ByteOrder::littleEndianShort (getData() + readPosition);
    readPosition += 2;
    return value;
}

juce::int32 ReceivedMessage::readInt()
{
    if (! canRead (4))
        return 0;

    const auto value = (juce::int32) juce::ByteOrder::littleEndianInt (getData() + readPosition);
    readPosition += 4;
    return value;
}

juce::int64 ReceivedMessage::readInt64()
{
    if (! canRead (8))
        return 0;

    const auto value = (juce::int64) juce::ByteOrder::littleEndianInt64 (getData() + readPosition);
    readPosition += 8;
    return value;
}

const juce::uint8* ReceivedMessage::readBytes (juce::int64 count)
{
    if (! canRead (count))
        return nullptr;

    auto* start = getData() + readPosition;
    readPosition += (int) count;
    return start;
}

juce::String ReceivedMessage::readText()
{
    const auto count = readInt();

    if (count <= 0)
        return {};

    if (auto* bytes = readBytes (count))
        return DeviceText::decode (bytes, (size_t) count);

    return {};
}

juce::Time ReceivedMessage::readDateTime()
{
    const auto year = (juce::int16) readShort();
    const auto month = (juce::int8) readByte();
    const auto day = (juce::int8) readByte();
    const auto hour = (juce::int8) readByte();
    const auto minute = (juce::int8) readByte();

    if (truncated)
        return {};

    return juce::Time (year, month, day, hour, minute, 0, 0, true);
}
