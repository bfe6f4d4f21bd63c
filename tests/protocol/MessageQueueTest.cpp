#include "remotefs/RemoteFileSystem.h"
#include "protocol/FrameBuilder.h"
#include "protocol/MessageQueue.h"
#include "protocol/VeltraneClient.h"
#include "base/WaitClock.h"
#include "support/CapturingLogger.h"
#include "transport/SerialPortPeer.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
constexpr int roomy = 10000;   // more than any of these tests queues at once

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

/** A clock that reads 20 ms before the 32-bit millisecond counter wraps when installed. */
struct ClockNearWrap
{
    ClockNearWrap()  { start = WaitClock::systemMs(); previous = WaitClock::setSource (&now); }
    ~ClockNearWrap() { WaitClock::setSource (previous); }

    static juce::int64 now() { return 0xffffffffLL - 20 + WaitClock::systemMs() - start; }

    static inline juce::int64 start = 0;
    WaitClock::Source previous = nullptr;
};

#if defined (__SANITIZE_ADDRESS__) || defined (__SANITIZE_THREAD__)
 #define USB_TEST_UNDER_SANITIZER 1
#elif defined (__has_feature)
 #if __has_feature (address_sanitizer) || __has_feature (thread_sanitizer)
  #define USB_TEST_UNDER_SANITIZER 1
 #endif
#endif

/** The memory the process holds, or -1 where this isn't known (or under a sanitizer, whose
    quarantine and shadow memory make it say little about the code). */
juce::int64 residentBytes()
{
   #if JUCE_LINUX && ! defined (USB_TEST_UNDER_SANITIZER)
    juce::int64 pages = 0, resident = -1;
    if (auto* statm = std::fopen ("/proc/self/statm", "r"))
    {
        if (std::fscanf (statm, "%lld %lld", &pages, &resident) != 2)
            resident = -1;
        std::fclose (statm);
    }
    return resident < 0 ? -1 : resident * (juce::int64) sysconf (_SC_PAGESIZE);
   #else
    return -1;
   #endif
}

/** Takes events on "VeltraneClientThread" and holds the thread in the first one until it is
    released: a reader of notifications that can't keep up. */
struct StalledListener : IVeltraneClientListener
{
    void onEvent (juce::int32, juce::int64 argument) override
    {
        {
            const juce::ScopedLock sl (lock);
            arguments.push_back (argument);
        }
        entered.signal();
        released.wait (20000);
    }

    void onPropertyValueChanged (juce::Array<juce::uint16>, juce::int32, juce::int32) override {}
    void onPropertyTextChanged (juce::Array<juce::uint16>, juce::int32, const juce::String&) override {}

    std::vector<juce::int64> getArguments() const { const juce::ScopedLock sl (lock); return arguments; }

    juce::CriticalSection lock;
    std::vector<juce::int64> arguments;
    juce::WaitableEvent entered, released { true };
};

/** The sum of the counts in the log's "Discarded N stray frame(s) from the device." lines. */
juce::int64 strayFramesLogged (const CapturingLogger& logger)
{
    juce::int64 sum = 0;
    for (auto& line : logger.getLines())
        if (line.startsWith ("Discarded ") && line.contains (" stray frame"))
            sum += line.fromFirstOccurrenceOf ("Discarded ", false, false).getLargeIntValue();
    return sum;
}
} // namespace

TEST (MessageQueue, FramesComeOutInTheOrderTheyWentIn)
{
    MessageQueue queue { roomy };
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
    MessageQueue queue { roomy };
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_EQ (queue.pop (50), nullptr);
    EXPECT_GE (juce::Time::getMillisecondCounter() - start, 40u);
}

TEST (MessageQueue, StopWaitingEndsAWaitingPopAndLaterOnesStillTakeWhatIsQueued)
{
    MessageQueue queue { roomy };
    juce::WaitableEvent popReturned;
    std::unique_ptr<ReceivedMessage> popped;

    // A pop that would wait a minute; stopping must end it long before.
    std::thread consumer ([&] { popped = queue.pop (60000); popReturned.signal(); });
    juce::Thread::sleep (30);
    queue.stopWaiting();
    const auto ended = popReturned.wait (10000);
    consumer.join();

    EXPECT_TRUE (ended);
    EXPECT_EQ (popped, nullptr);

    queue.push (frameWithSerial (3));
    auto m = queue.pop (60000);
    ASSERT_NE (m, nullptr);
    EXPECT_EQ (serialOf (*m), 3);
}

TEST (MessageQueue, AWaitingPopWakesForAPushFromAnotherThread)
{
    MessageQueue queue { roomy };
    std::thread producer ([&] { juce::Thread::sleep (30); queue.push (frameWithSerial (7)); });

    auto m = queue.pop (5000);
    producer.join();
    ASSERT_NE (m, nullptr);
    EXPECT_EQ (serialOf (*m), 7);
}

TEST (MessageQueue, EveryFramePushedDuringWaitsAndTimeOutsIsDeliveredOnce)
{
    // A pop that times out just as a frame is pushed must not lose or duplicate it.
    MessageQueue queue { roomy };
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
    MessageQueue queue { roomy };
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
    MessageQueue queue { roomy };
    queue.push (frameWithSerial (1));
    queue.push (frameWithSerial (2));
    queue.clear();
    EXPECT_EQ (queue.pop (0), nullptr);

    queue.push (frameWithSerial (3));
    auto m = queue.pop (0);
    ASSERT_NE (m, nullptr);
    EXPECT_EQ (serialOf (*m), 3);
}

TEST (MessageQueue, AFullQueueDropsTheOldestAndCountsTheOverflowOnceItIsOver)
{
    MessageQueue queue { 3 };
    for (int i = 1; i <= 5; ++i)
        queue.push (frameWithSerial (i));

    EXPECT_EQ (queue.size(), 3);
    EXPECT_EQ (queue.takeDroppedFrames(), 0);   // still full: the overflow goes on

    for (int i = 3; i <= 5; ++i)
    {
        auto m = queue.pop (0);
        ASSERT_NE (m, nullptr);
        EXPECT_EQ (serialOf (*m), i);
    }

    EXPECT_EQ (queue.takeDroppedFrames(), 2);
    EXPECT_EQ (queue.takeDroppedFrames(), 0);
}

TEST (MessageQueue, AWaitStartedJustBeforeTheClockWrapsLastsItsTime)
{
    MessageQueue queue { roomy };
    ClockNearWrap clock;

    const auto start = WaitClock::systemMs();
    EXPECT_EQ (queue.pop (100), nullptr);
    EXPECT_GE (WaitClock::systemMs() - start, 90);

    std::thread producer ([&] { juce::Thread::sleep (50); queue.push (frameWithSerial (9)); });
    auto m = queue.pop (5000);
    producer.join();
    ASSERT_NE (m, nullptr);
    EXPECT_EQ (serialOf (*m), 9);
}

TEST (MessageQueue, AMillionStrayFramesCostBoundedMemoryAndFailNoRequest)
{
    // Header-only responses and responses to no request, and events that the listener
    // takes too slowly: the responses are counted and dropped, the events beyond the
    // queue's bound drop the oldest, and the next request still gets its answer.
    SerialPortPeer peer;
    ASSERT_TRUE (peer.isReady());
    CapturingLogger logger;
    StalledListener listener;
    auto port = peer.openPortForReading (SerialPortSettings {});
    ASSERT_TRUE (port->isOpen());

    VeltraneClient client;
    client.addListener (&listener);
    client.attachPort (port.get());

    constexpr int pairs = 500000;
    const auto headerOnly = FrameBuilder (0x0002).getFrame();
    const auto unasked = FrameBuilder (0x0002).int32 (-7).getFrame();
    juce::MemoryOutputStream flood;
    for (int i = 0; i < pairs; ++i)
    {
        flood << ((i & 1) == 0 ? headerOnly : unasked);
        flood << FrameBuilder (0x8002).int32 (1).int64 (i).getFrame();
    }

    const auto residentBefore = residentBytes();
    ASSERT_TRUE (peer.send (flood.getData(), flood.getDataSize()));
    ASSERT_TRUE (listener.entered.wait (20000));
    ASSERT_TRUE (waitUntil ([&] { return client.getStrayFrameCount() == pairs; }, 20000)) << client.getStrayFrameCount();

    // The device answers the WhoAmIRequest (10 bytes) that follows the flood.
    std::thread device ([&]
    {
        const auto request = peer.receive (10, 20000);
        if (request.getSize() == 10)
        {
            const auto serial = (juce::int32) juce::ByteOrder::littleEndianInt (static_cast<const char*> (request.getData()) + 6);
            const auto answer = FrameBuilder (0x0001).int32 (serial).int16 (0x12).int16 (3).int16 (0x100).int16 (0x204)
                                                     .text ("flooded").text ("still here").getFrame();
            peer.send (answer.getData(), answer.getSize());
        }
    });

    DeviceIdentity identity;
    const auto result = RemoteFileSystem (client).identifyDevice (identity);
    device.join();
    EXPECT_EQ (result, 0);
    EXPECT_EQ (identity.secondText, "still here");

    if (residentBefore > 0)
    {
        EXPECT_LT (residentBytes() - residentBefore, 4 << 20);
    }

    listener.released.signal();
    const auto droppedEvents = pairs - 1 - VeltraneClient::notificationQueueCapacity;
    EXPECT_TRUE (logger.waitFor ("Dropped " + juce::String (droppedEvents)
                                 + " notifications from the device: more came than could be handled.", 20000));
    EXPECT_TRUE (waitUntil ([&] { return strayFramesLogged (logger) == pairs; }, 20000)) << strayFramesLogged (logger);
    EXPECT_LE (logger.getLines().size(), 4) << logger.getLines().joinIntoString ("\n");

    // The listener saw the first event and then the newest ones the queue kept.
    const auto arguments = listener.getArguments();
    ASSERT_EQ ((int) arguments.size(), 1 + VeltraneClient::notificationQueueCapacity);
    for (int i = 1; i < (int) arguments.size(); ++i)
        EXPECT_EQ (arguments[(size_t) i], pairs - VeltraneClient::notificationQueueCapacity + i - 1);

    client.detachPort();
}
