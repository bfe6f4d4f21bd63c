#pragma once

#include "protocol/ReceivedMessage.h"

#include <memory>

/** A bounded first-in first-out queue of complete frames with a waiting pop. One thread
    pushes (the serial reader), one thread pops (the thread waiting for the frames).

    A push into a full queue drops the oldest frame, so that a device that sends faster
    than the frames are taken can't grow memory without bound. The pusher never logs (it
    is the serial reader, which must not wait for the log); the drops are counted, and
    the consumer's side reports them once the queue has been emptied again. */
class MessageQueue
{
public:
    explicit MessageQueue (int capacity);

    /** Destroys the frames still queued. */
    ~MessageQueue();

    /** Appends a frame, dropping the oldest one when the queue is full, and wakes a
        waiting pop. Never blocks for long. */
    void push (std::unique_ptr<ReceivedMessage> message);

    /** Takes the oldest frame, waiting up to timeoutMs for one (0 only looks). Returns
        nullptr when none came in time. The wait sleeps; it doesn't spin. */
    std::unique_ptr<ReceivedMessage> pop (int timeoutMs);

    /** Makes a pop that waits, and every later one, return at once with what is queued
        (nullptr when nothing is), so that a consumer thread can be stopped without waiting
        out its pop. */
    void stopWaiting();

    /** Destroys every queued frame without waiting. */
    void clear();

    /** The number of frames queued now. */
    int size() const;

    int getCapacity() const noexcept { return capacity; }

    /** The number of frames dropped because the queue was full, in overflows that have
        ended (the queue has been emptied since); counted once: the call resets it. */
    juce::int64 takeDroppedFrames();

private:
    void endOverflow() noexcept;

    const int capacity;
    juce::WaitableEvent available;   // auto-reset; may be left signalled: pop looks again
    std::atomic<bool> waitingStopped { false };
    juce::CriticalSection lock;      // guards everything below
    ReceivedMessage* head = nullptr;
    ReceivedMessage* tail = nullptr;
    int count = 0;
    juce::int64 droppedInOverflow = 0, droppedInEndedOverflows = 0;

    JUCE_DECLARE_NON_COPYABLE (MessageQueue)
};
