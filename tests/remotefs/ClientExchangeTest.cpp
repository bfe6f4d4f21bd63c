#include "remotefs/ClientSession.h"
#include "base/WaitClock.h"


namespace
{
/** Records notifications and the thread they arrive on. */
struct RecordingListener : IVeltraneClientListener
{
    void onEvent (juce::int32 eventId, juce::int64 argument) override
    {
        record ("event " + juce::String (eventId) + " " + juce::String (argument));
    }

    void onPropertyValueChanged (juce::Array<juce::uint16> path, juce::int32 id, juce::int32 value) override
    {
        record ("value " + juce::String (path.size()) + " " + juce::String (id) + " " + juce::String (value));
    }

    void onPropertyTextChanged (juce::Array<juce::uint16> path, juce::int32 id, const juce::String& text) override
    {
        record ("text " + juce::String (path.size()) + " " + juce::String (id) + " " + text);
    }

    void record (const juce::String& what)
    {
        const juce::ScopedLock sl (lock);
        calls.add (what);
        threads.add (juce::Thread::getCurrentThread() != nullptr ? juce::Thread::getCurrentThread()->getThreadName() : "");
    }

    juce::StringArray getCalls() const { const juce::ScopedLock sl (lock); return calls; }
    juce::StringArray getThreads() const { const juce::ScopedLock sl (lock); return threads; }

    juce::CriticalSection lock;
    juce::StringArray calls, threads;
};
/** Makes the protocol's clock read 20 ms before the 32-bit millisecond counter wraps. */
struct ClockNearWrap
{
    ClockNearWrap()  { start = WaitClock::systemMs(); previous = WaitClock::setSource (&now); }
    ~ClockNearWrap() { WaitClock::setSource (previous); }

    static juce::int64 now() { return 0xffffffffLL - 20 + WaitClock::systemMs() - start; }

    static inline juce::int64 start = 0;
    WaitClock::Source previous = nullptr;
};
} // namespace

using ClientExchange = ClientSession;

TEST_F (ClientExchange, WithoutAPortNothingIsSent)
{
    WhoAmIRequest request;
    EXPECT_EQ (client.sendRequestAndWait (request, 1000), nullptr);
    EXPECT_EQ (lines(), linesOf ({ "Not connected.", "Send Failed." }));

    DeviceIdentity identity;
    EXPECT_EQ (files.identifyDevice (identity), -1);
}

TEST_F (ClientExchange, ADroppedAnswerTimesOut)
{
    connect ({ "WhoAmIRequest#1 drop" });
    const auto serial = nextSerial();
    DeviceIdentity identity;

    EXPECT_EQ (files.identifyDevice (identity), -1);
    EXPECT_EQ (lines(), linesOf ({ "Timeout on serial # " + serial,
                                             "Failed to get valid response to serial # " + serial }));
}

TEST_F (ClientExchange, AnAnswerThatComesAcrossTheClockWrapIsWaitedFor)
{
    connect ({ "WhoAmIRequest#1 delay 100" });
    ClockNearWrap clock;
    DeviceIdentity identity;

    EXPECT_EQ (files.identifyDevice (identity), 0);
    EXPECT_TRUE (lines().isEmpty()) << lines().joinIntoString ("\n");
}

TEST_F (ClientExchange, ALateAnswerIsDiscardedAndTheNextRequestGetsItsOwn)
{
    connect ({ "WhoAmIRequest#1 delay 1500" });
    const auto first = nextSerial();
    DeviceIdentity identity;
    EXPECT_EQ (files.identifyDevice (identity), -1);

    logger.clear();
    const auto second = nextSerial();
    EXPECT_EQ (files.identifyDevice (identity), 0);
    EXPECT_EQ (lines(), linesOf ({ "Discarding late response to serial # " + first
                                             + " while waiting for serial # " + second + "." }));
    EXPECT_EQ (identity.familyId, 0x12);
}

TEST_F (ClientExchange, AnAnswerWithAnotherSerialFailsTheRequest)
{
    connect ({ "WhoAmIRequest#1 serial-offset 5" });
    const auto serial = VeltraneClientRequest::peekSerialNumber();
    DeviceIdentity identity;

    EXPECT_EQ (files.identifyDevice (identity), -1);
    EXPECT_EQ (lines(), linesOf ({ "sync receive serial number didn't match! Expected " + juce::String (serial)
                                             + ", got " + juce::String (serial + 5) + ", Discarding." }));
}

TEST_F (ClientExchange, AFailureResponseIsLoggedWithItsSerial)
{
    connect ({ "FolderContentsRequest#1 fail Device busy" });
    const auto serial = nextSerial();
    juce::StringArray fileNames { "kept" };

    EXPECT_EQ (files.getFolderContents ("/mnt/nandfs", &fileNames, nullptr), -1);
    EXPECT_EQ (lines(), linesOf ({ "Device busy serial# " + serial }));
    EXPECT_EQ (fileNames, linesOf ({ "kept" }));
}

TEST_F (ClientExchange, UndecodableAnswersFailTheRequest)
{
    // The second answer is a WhoAmIResponse that holds nothing but its serial number.
    const auto secondSerial = (juce::uint32) VeltraneClientRequest::peekSerialNumber() + 1;
    const auto shortAnswer = juce::String::formatted ("01 00 04 00 00 00 %02x %02x %02x %02x",
                                                      secondSerial & 0xff, (secondSerial >> 8) & 0xff,
                                                      (secondSerial >> 16) & 0xff, secondSerial >> 24);
    connect ({ "WhoAmIRequest#1 answer-as 0x8003",     // not a response
               "WhoAmIRequest#2 drop",
               "WhoAmIRequest#2 raw after " + shortAnswer,
               "FileOpenRequest#1 answer-as SuccessResponse" });
    DeviceIdentity identity;

    auto serial = nextSerial();
    EXPECT_EQ (files.identifyDevice (identity), -1);
    EXPECT_EQ (lines(), linesOf ({ "Unexepected message ID", "Unrecognized response.",
                                             "Failed to get valid response to serial # " + serial }));

    logger.clear();
    serial = nextSerial();
    EXPECT_EQ (files.identifyDevice (identity), -1);
    EXPECT_EQ (lines(), linesOf ({ "Malformed message ID 1: its payload of 4 bytes is too short for its fields.",
                                             "Unrecognized response.",
                                             "Failed to get valid response to serial # " + serial }));
    EXPECT_EQ (identity.familyId, 0);

    logger.clear();
    device.writeFile ("/mnt/nandfs/f", "x");
    serial = nextSerial();
    juce::int64 handle = 77;
    EXPECT_EQ (files.openRemoteFile ("/mnt/nandfs/f", 1, handle), -1);
    EXPECT_EQ (lines(), linesOf ({ "Wrong response (message ID 2) to request ID 10, serial # " + serial + ".",
                                             "failed to open remote file" }));
    EXPECT_EQ (handle, 77);
}

TEST_F (ClientExchange, AnswersInPiecesAreAssembled)
{
    connect ({ "WhoAmIRequest#1 split 6 200", "WhoAmIRequest#2 chunk 1 0" });
    DeviceIdentity identity;

    EXPECT_EQ (files.identifyDevice (identity), 0);
    EXPECT_EQ (identity.firstText, "Device simulator");
    EXPECT_EQ (files.identifyDevice (identity), 0);
    EXPECT_EQ (identity.secondText, "serial 00000001");
    EXPECT_TRUE (lines().isEmpty());
}

TEST_F (ClientExchange, NotificationsGoToTheListenersOnTheClientThread)
{
    RecordingListener listener;
    client.addListener (&listener);
    connect ({ "WhoAmIRequest#1 notify before event 5 -9",
               "WhoAmIRequest#1 notify property 1,2 0xFFFE 99",
               "WhoAmIRequest#1 notify property - 0x8000 hello",
               "WhoAmIRequest#1 notify terminated 1234 -1",
               "WhoAmIRequest#1 notify 0x8001",
               "WhoAmIRequest#1 notify 0x8005 00" });

    DeviceIdentity identity;
    EXPECT_EQ (files.identifyDevice (identity), 0);   // the event came first, but isn't the answer

    EXPECT_TRUE (logger.waitFor ("Async message 32773 not handled"));
    EXPECT_EQ (listener.getCalls(), linesOf ({ "event 5 -9", "value 2 -2 99", "text 0 -32768 hello" }));
    EXPECT_EQ (listener.getThreads(), linesOf ({ "VeltraneClientThread", "VeltraneClientThread", "VeltraneClientThread" }));
    EXPECT_EQ (lines(), linesOf ({ "Process 1234 terminated with exit code -1",
                                             "Async message 32769 not handled",
                                             "Async message 32773 not handled" }));
}

TEST_F (ClientExchange, ReattachingDropsThePartialFrameOfTheOldPort)
{
    // The first answer stops after its header; the rest never comes on that port.
    connect ({ "WhoAmIRequest#1 truncate 6" });
    DeviceIdentity identity;
    EXPECT_EQ (files.identifyDevice (identity), -1);

    client.detachPort();
    port.reset();
    port = device.openPort();
    client.attachPort (port.get());

    logger.clear();
    EXPECT_EQ (files.identifyDevice (identity), 0);
    EXPECT_TRUE (lines().isEmpty()) << lines().joinIntoString ("\n");
}
