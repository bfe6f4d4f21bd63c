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

    {
        const juce::ScopedLock sl (countLock);
        ++count;
    }

    available.signal();
}

bool MessageQueue::takeUnit (int timeoutMs)
{
    {
        const juce::ScopedLock sl (countLock);

        if (count > 0)
        {
            --count;
            return true;
        }

        if (timeoutMs == 0)
            return false;

        available.reset();
    }

    if (! available.wait (timeoutMs))
        return false;

    const juce::ScopedLock sl (countLock);
    --count;
    return true;
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
