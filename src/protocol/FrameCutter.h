#pragma once

#include "protocol/ReceivedMessage.h"

#include <functional>
#include <memory>

/** Cuts received chunks of bytes into frames. A frame may be split over any number of
    chunks and a chunk may hold any number of frames: the partial frame at the end of a
    chunk is kept until the next one. Used by one thread at a time. */
class FrameCutter
{
public:
    using FrameHandler = std::function<void (std::unique_ptr<ReceivedMessage>)>;

    /** Hands every frame that the chunk completes to onFrame, in order. */
    void cut (const void* data, size_t count, const FrameHandler& onFrame);

    /** The frame being received, or nullptr. */
    const ReceivedMessage* getCurrentMessage() const noexcept { return currentMessage.get(); }

    /** Drops the partial frame, if any. */
    void discardPartialFrame() noexcept { currentMessage.reset(); }

private:
    std::unique_ptr<ReceivedMessage> currentMessage;
};
