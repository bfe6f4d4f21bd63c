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

    /** The reasons for the headers dropped since the last call (see
        ReceivedMessage::takeHeaderProblem), oldest first, at most maxKeptProblems of them;
        dropped tells how many more there were. Safe to call from any thread: the cutting
        thread must not wait for a log, so the problems wait here for someone to log them. */
    juce::StringArray takeHeaderProblems (int& dropped);

    static constexpr int maxKeptProblems = 20;

private:
    std::unique_ptr<ReceivedMessage> currentMessage;
    juce::SpinLock problemLock;
    juce::StringArray headerProblems;   // guarded by problemLock
    int droppedProblems = 0;            // guarded by problemLock
};
