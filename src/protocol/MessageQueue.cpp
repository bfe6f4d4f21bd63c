#include "protocol/MessageQueue.h"

MessageQueue::~MessageQueue()
{
    clear();
}

void MessageQueue::push (std::unique_ptr<ReceivedMessage> message)
{
    auto* record = message.release();
    record->next = nullptr;

    {
        const juce::ScopedLock sl (listLock);

        if (tail == nullptr)
            head = record;
        else
            tail->next = record;

        tail = record;
    }

    const juce::ScopedLock sl (countLock);
    ++count;
    available.signal();
}

bool MessageQueue::tryTakeUnit()
{
    const juce::ScopedLock sl (countLock);

    if (count == 0)
        return false;

    --count;
    return true;
}

bool MessageQueue::takeUnit (int timeoutMs)
{
    if (tryTakeUnit())
        return true;

    if (timeoutMs == 0)
        return false;

    // A device answers a request within a few hundred microseconds: looking again for that
    // long saves the wake-up of a sleeping thread on every exchange.
    const auto spinEnd = juce::Time::getHighResolutionTicks() + juce::Time::secondsToHighResolutionTicks (spinSeconds);

    while (juce::Time::getHighResolutionTicks() < spinEnd)
        if (tryTakeUnit())
            return true;

    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    for (;;)
    {
        {
            const juce::ScopedLock sl (countLock);

            if (count > 0)
            {
                --count;
                return true;
            }

            // push signals while it holds the lock, so no signal of an earlier unit can
            // arrive after this reset.
            available.reset();
        }

        const auto now = juce::Time::getMillisecondCounter();

        if (now >= deadline)
            return false;

        available.wait ((int) (deadline - now));
    }
}

std::unique_ptr<ReceivedMessage> MessageQueue::pop (int timeoutMs)
{
    if (! takeUnit (timeoutMs))
        return nullptr;

    const juce::ScopedLock sl (listLock);
    auto* record = head;

    if (record != nullptr)
    {
        head = record->next;

        if (head == nullptr)
            tail = nullptr;

        record->next = nullptr;
    }

    return std::unique_ptr<ReceivedMessage> (record);
}

void MessageQueue::clear()
{
    ReceivedMessage* record;

    {
        const juce::ScopedLock sl (listLock);
        record = head;
        head = tail = nullptr;
    }

    {
        const juce::ScopedLock sl (countLock);
        count = 0;
    }

    while (record != nullptr)
    {
        std::unique_ptr<ReceivedMessage> doomed (record);
        record = record->next;
    }
}
