#include "protocol/MessageQueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
std::unique_ptr<ReceivedMessage> frameWithSerial (juce::int32 serial)
{
    const juce::uint8 bytes[] = { 2, 0, 4, 0, 0, 0,
                                  (juce::uint8) serial, (juce::uint8) (serial >> 8), 0, 0 };
    auto message = std::make_unique<ReceivedMessage>();
    message->append (bytes, (int) sizeof (bytes));
    return message;
}

juce::int32 serialOf (ReceivedMessage& message)
{
    message.readShort();
    message.readInt();
    return message.readInt();
}
} // namespace

TEST (MessageQueue, FramesComeOutInTheOrderTheyWentIn)
{
    MessageQueue queue;
    for (int i = 1; i <= 3; ++i)
        queue.push (frameWithSerial (i));

    for (int i = 1; i <= 3; ++i)
    {
        auto m = queue.pop (0);
        ASSERT_NE (m, nullptr);
        EXPECT_EQ (serialOf (*m), i);
        EXPECT_EQ (m->next, nullptr);
    }

    EXPECT_EQ (queue.pop (0), nullptr);
}

TEST (MessageQueue, AnEmptyQueueTimesOut)
{
    MessageQueue queue;
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_EQ (queue.pop (50), nullptr);
    EXPECT_GE (juce::Time::getMillisecondCounter() - start, 40u);
}

TEST (MessageQueue, AWaitingPopWakesForAPushFromAnotherThread)
{
    MessageQueue queue;
    std::thread producer ([&] { juce::Thread::sleep (30); queue.push (frameWithSerial (7)); });

    auto m = queue.pop (5000);
    producer.join();
    ASSERT_NE (m, nullptr);
    EXPECT_EQ (serialOf (*m), 7);
}

TEST (MessageQueue, EveryFramePushedDuringWaitsAndTimeOutsIsDeliveredOnce)
{
    // A pop that times out just as a frame is pushed must not lose or duplicate it.
    MessageQueue queue;
    constexpr int total = 2000;
    std::thread producer ([&]
    {
        for (int i = 0; i < total; ++i)
        {
            queue.push (frameWithSerial (i));
            if (i % 50 == 0)
                juce::Thread::sleep (1);
        }
    });

    int expected = 0;
    for (int attempts = 0; expected < total && attempts < 1000000; ++attempts)
    {
        if (auto m = queue.pop (1))
        {
            ASSERT_EQ (serialOf (*m), expected++ & 0xffff);
        }
    }

    producer.join();
    EXPECT_EQ (expected, total);
    EXPECT_EQ (queue.pop (0), nullptr);
}

TEST (MessageQueue, ClearDropsEverythingAndTheQueueStaysUsable)
{
    MessageQueue queue;
    queue.push (frameWithSerial (1));
    queue.push (frameWithSerial (2));
    queue.clear();
    EXPECT_EQ (queue.pop (0), nullptr);

    queue.push (frameWithSerial (3));
    auto m = queue.pop (0);
    ASSERT_NE (m, nullptr);
    EXPECT_EQ (serialOf (*m), 3);
}
