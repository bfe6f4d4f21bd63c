#pragma once

#include <juce_core/juce_core.h>

/** One incoming frame: the receive buffer that assembles it from the byte stream, and the
    reader that decodes its fields afterwards.

    A frame is a 6-byte header (message id as uint16, payload length as uint32, both
    little-endian) followed by at most 8185 payload bytes. Every read checks the bytes that
    were actually received: a read past them yields zero (or an empty text), reads nothing
    and marks the frame as truncated, so that the caller can throw the whole frame away. */
class ReceivedMessage
{
public:
    static constexpr int headerSize = 6;
    static constexpr juce::uint32 maxPayloadLength = 8185;
    static constexpr int maxFrameSize = headerSize + (int) maxPayloadLength;
    static constexpr juce::uint16 largestMessageId = 0x8006;

    ReceivedMessage();

    /** Takes bytes for this frame only and returns how many it took (0 to count); the rest
        belongs to the next frame. A header that fails its checks is dropped (all six
        bytes), leaving the record empty; takeHeaderProblem then says why. */
    int append (const void* data, int count);

    /** Why the last header was dropped ("Invalid message ID - 32775", "invalid size read -
        9000", then "Invalid header - dumping message", one per line), once; empty when no
        header was dropped since the last call. */
    juce::String takeHeaderProblem();

    bool isComplete() const noexcept          { return complete; }

    /** True for the ids that the device sends on its own: 0x8000-0x8002, 0x8005, 0x8006. */
    bool isNotification() const noexcept;

    /** True when the payload is long enough to start with a serial number (4 bytes), as
        every response's does. */
    bool hasSerialNumber() const noexcept     { return complete && payloadLength >= 4; }

    /** Forgets the frame: nothing received, nothing read. */
    void reset() noexcept;

    // Decoding, each read at the read position, which it advances by the width read.
    juce::uint8 readByte();
    bool readBool();
    juce::uint16 readShort();
    juce::int32 readInt();
    juce::int64 readInt64();

    /** The address of the next count bytes inside the frame, or nullptr (and the frame
        marked truncated) when fewer than count remain or count is negative. */
    const juce::uint8* readBytes (juce::int64 count);

    /** An int32 byte count and that many bytes; see DeviceText for the character set. */
    juce::String readText();

    /** int16 year, then month (from 0), day, hour and minute as signed bytes; local time. */
    juce::Time readDateTime();

    /** True once a read asked for more bytes than the frame holds. */
    bool isTruncated() const noexcept         { return truncated; }

    int getReadPosition() const noexcept      { return readPosition; }
    int getReceivedCount() const noexcept     { return receivedCount; }
    juce::uint32 getPayloadLength() const noexcept { return payloadLength; }
    const juce::uint8* getData() const noexcept { return buffer != nullptr ? buffer.get() : header; }

    /** Link to the following record while the record waits in a MessageQueue. */
    ReceivedMessage* next = nullptr;

private:
    juce::String headerProblem;
    bool canRead (juce::int64 count) noexcept;
    juce::uint16 storedMessageId() const noexcept;

    // The header is collected here; once it has passed its checks, buffer is allocated to
    // the size of the whole frame it announces, and holds the header followed by the payload.
    juce::uint8 header[headerSize] = {};
    juce::HeapBlock<juce::uint8> buffer;
    int readPosition = 0;
    int receivedCount = 0;
    bool complete = false;
    bool headerValid = false;
    bool truncated = false;
    juce::uint32 payloadLength = 0;

    JUCE_DECLARE_NON_COPYABLE (ReceivedMessage)
};
