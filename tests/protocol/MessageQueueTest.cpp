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
    const auto giveUp = juce::Time::getMillisecondCounter() + 60000;
    while (expected < total && juce::Time::getMillisecondCounter() < giveUp)
    {
        if (auto m = queue.pop (1))
        {
            const auto serial = serialOf (*m);
            EXPECT_EQ (serial, expected & 0xffff);
            if (serial != (expected++ & 0xffff))
                break;
        }
    }

    producer.join();
    EXPECT_EQ (expected, total);
    EXPECT_EQ (queue.pop (0), nullptr);
}

TEST (MessageQueue, AWaitingPopNeverReturnsEmptyHandedWhileFramesKeepComing)
{
    // A wake-up left over from an earlier push must not end a later wait without a frame.
    // Pauses of up to 0.4 ms between pushes let the pop sometimes find a frame while it
    // looks and sometimes sleep for one.
    MessageQueue queue;
    constexpr int total = 4000;
    std::thread producer ([&]
    {
        juce::Random random (3);

        for (int i = 0; i < total; ++i)
        {
            queue.push (frameWithSerial (i));
            const auto until = juce::Time::getHighResolutionTicks()
                             + juce::Time::secondsToHighResolutionTicks (random.nextInt (400) / 1e6);
            while (juce::Time::getHighResolutionTicks() < until) {}
        }
    });

    // No ASSERT while the producer runs: its thread must be joined in every case.
    for (int i = 0; i < total; ++i)
    {
        auto m = queue.pop (10000);
        EXPECT_NE (m, nullptr) << "frame " << i;
        if (m == nullptr || serialOf (*m) != (i & 0xffff))
        {
            ADD_FAILURE() << "frame " << i << " missing or out of order";
            break;
        }
    }

    producer.join();
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
