#include "protocol/MessageQueue.h"
#include "base/WaitClock.h"

MessageQueue::MessageQueue (int maximumFrames)
    : capacity (juce::jmax (1, maximumFrames))
{
}

MessageQueue::~MessageQueue()
{
    clear();
}

void MessageQueue::push (std::unique_ptr<ReceivedMessage> message)
{
    auto* record = message.release();
    record->next = nullptr;
    std::unique_ptr<ReceivedMessage> dropped;

    {
        const juce::ScopedLock sl (lock);

        if (count == capacity)
        {
            dropped.reset (head);
            head = head->next;
            dropped->next = nullptr;
            --count;
            ++droppedInOverflow;

            if (head == nullptr)
                tail = nullptr;
        }

        if (tail == nullptr)
            head = record;
        else
            tail->next = record;

        tail = record;
        ++count;
    }

    // Signalled after the lock is released, so that the woken thread doesn't block on it.
    available.signal();
}

std::unique_ptr<ReceivedMessage> MessageQueue::pop (int timeoutMs)
{
    WaitClock::Deadline deadline (timeoutMs);

    for (;;)
    {
        {
            const juce::ScopedLock sl (lock);

            if (auto* record = head)
            {
                head = record->next;
                record->next = nullptr;
                --count;

                if (head == nullptr)
                {
                    tail = nullptr;
                    endOverflow();
                }

                return std::unique_ptr<ReceivedMessage> (record);
            }

            // Any signal from now on belongs to a push that comes after this look.
            available.reset();
        }

        const auto remaining = deadline.remainingMs();

        if (remaining == 0 || waitingStopped)
            return nullptr;

        available.wait (remaining);
    }
}

void MessageQueue::stopWaiting()
{
    waitingStopped = true;
    available.signal();
}

void MessageQueue::clear()
{
    ReceivedMessage* record;

    {
        const juce::ScopedLock sl (lock);
        record = head;
        head = tail = nullptr;
        count = 0;
        endOverflow();
    }

    while (record != nullptr)
    {
        std::unique_ptr<ReceivedMessage> doomed (record);
        record = record->next;
    }
}

int MessageQueue::size() const
{
    const juce::ScopedLock sl (lock);
    return count;
}

void MessageQueue::endOverflow() noexcept
{
    droppedInEndedOverflows += droppedInOverflow;
    droppedInOverflow = 0;
}

juce::int64 MessageQueue::takeDroppedFrames()
{
    const juce::ScopedLock sl (lock);
    return std::exchange (droppedInEndedOverflows, (juce::int64) 0);
}
