#pragma once

#include "base/DeviceText.h"

/** Assembles one frame in memory: fields are appended to the payload, and getFrame puts
    the header in front. Used where a whole frame is built at once (the device simulator,
    tests); requests stream their fields instead. */
class FrameBuilder
{
public:
    explicit FrameBuilder (juce::uint16 id) : messageId (id) {}

    FrameBuilder& byte (int value)             { payload.writeByte ((char) (juce::uint8) value); return *this; }
    FrameBuilder& boolean (bool value)         { return byte (value ? 1 : 0); }
    FrameBuilder& int16 (int value)            { payload.writeShort ((short) value); return *this; }
    FrameBuilder& int32 (juce::int32 value)    { payload.writeInt (value); return *this; }
    FrameBuilder& int64 (juce::int64 value)    { payload.writeInt64 (value); return *this; }
    FrameBuilder& bytes (const void* data, size_t count) { if (count > 0) payload.write (data, count); return *this; }

    /** A text as the host writes it (see DeviceText::encode). */
    FrameBuilder& text (const juce::String& value)
    {
        const auto encoded = DeviceText::encode (value);
        return rawText (encoded.getData(), encoded.getSize());
    }

    /** A text made of exactly these bytes. */
    FrameBuilder& rawText (const void* data, size_t count)
    {
        int32 ((juce::int32) count);
        return bytes (data, count);
    }

    /** Year, month counted from 0, day, hour and minute, in the order they go on the wire. */
    FrameBuilder& dateTime (int year, int month, int day, int hour, int minute)
    {
        return int16 (year).byte (month).byte (day).byte (hour).byte (minute);
    }

    FrameBuilder& dateTime (juce::Time time)
    {
        return dateTime (time.getYear(), time.getMonth(), time.getDayOfMonth(),
                         time.getHours(), time.getMinutes());
    }

    juce::MemoryBlock getFrame() const
    {
        juce::MemoryOutputStream frame;
        frame.writeShort ((short) messageId);
        frame.writeInt ((int) payload.getDataSize());
        frame.write (payload.getData(), payload.getDataSize());
        return frame.getMemoryBlock();
    }

private:
    juce::uint16 messageId;
    juce::MemoryOutputStream payload;
};
