#pragma once

#include "protocol/ReceivedMessage.h"

#include <memory>

/** A first-in first-out queue of complete frames with a counting wait. One thread pushes
    (the serial reader), one thread pops (the thread waiting for the frames). The list and
    the count have locks of their own, never held together. A pop that finds nothing looks
    again for a fraction of a millisecond before it sleeps. */
class MessageQueue
{
public:
    MessageQueue() = default;

    /** Destroys the frames still queued. */
    ~MessageQueue();

    /** Appends a frame and wakes a waiting pop. Never blocks for long. */
    void push (std::unique_ptr<ReceivedMessage> message);

    /** Takes the oldest frame, waiting up to timeoutMs for one (0 only looks).
        Returns nullptr when none came in time. */
    std::unique_ptr<ReceivedMessage> pop (int timeoutMs);

    /** Destroys every queued frame without waiting. */
    void clear();

private:
    /** Takes one unit of the count, waiting for a push when there is none. */
    bool takeUnit (int timeoutMs);
    bool tryTakeUnit();

    static constexpr double spinSeconds = 0.0002;

    juce::WaitableEvent available;   // auto-reset
    juce::CriticalSection countLock;
    int count = 0;
    juce::CriticalSection listLock;
    ReceivedMessage* head = nullptr;
    ReceivedMessage* tail = nullptr;

    JUCE_DECLARE_NON_COPYABLE (MessageQueue)
};
