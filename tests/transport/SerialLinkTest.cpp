// The port and its streams over a real link: a pseudo-terminal on Linux, a COM port
// joined to a pseudo-terminal under Wine.
#include "transport/SerialPortIo.h"
#include "transport/SerialPortPeer.h"
#include "transport/SerialPortStreams.h"

#include <gtest/gtest.h>

namespace
{
class SerialLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (peer.isReady()) << "no serial link to test on (on Windows: scripts/windows-tests.sh provides one)";
    }

    juce::String received (size_t count, int timeoutMs = 5000)
    {
        return peer.receive (count, timeoutMs).toString();
    }

    SerialPortPeer peer;
    const SerialPortSettings settings;   // 115200 baud, 8N1, hardware handshake
};

/** Drains the stream on every call, as the protocol client does, and records what each
    call found. */
class DrainingListener : public juce::ChangeListener
{
public:
    explicit DrainingListener (SerialPortInputStream& streamToDrain) : stream (streamToDrain) {}

    void changeListenerCallback (juce::ChangeBroadcaster* source) override
    {
        juce::MemoryBlock chunk;
        stream.readIntoMemoryBlock (chunk, -1);

        {
            const juce::ScopedLock sl (lock);
            chunks.add (chunk.toString());
            calledWithOtherSource |= source != &stream;
            callsOnReaderThread += juce::Thread::getCurrentThread() == &stream ? 1 : 0;
        }

        if (duringCall)
            duringCall ((int) chunks.size());
    }

    juce::StringArray getChunks() const
    {
        const juce::ScopedLock sl (lock);
        return chunks;
    }

    juce::String getReceived() const  { return getChunks().joinIntoString ({}); }

    bool wasCalledWithOtherSource() const
    {
        const juce::ScopedLock sl (lock);
        return calledWithOtherSource;
    }

    int getCallsOnReaderThread() const
    {
        const juce::ScopedLock sl (lock);
        return callsOnReaderThread;
    }

    std::function<void (int callNumber)> duringCall;   // runs on the reader thread

private:
    SerialPortInputStream& stream;
    juce::CriticalSection lock;
    juce::StringArray chunks;
    bool calledWithOtherSource = false;
    int callsOnReaderThread = 0;
};

/** Records the order in which listeners are called, without reading. */
struct OrderListener : public juce::ChangeListener
{
    OrderListener (juce::StringArray& callsToRecord, juce::String listenerName)
        : calls (callsToRecord), name (std::move (listenerName)) {}

    void changeListenerCallback (juce::ChangeBroadcaster*) override  { calls.add (name); }

    juce::StringArray& calls;
    juce::String name;
};
} // namespace

TEST_F (SerialLinkTest, PortIsExclusive)
{
    if (! peer.hostRefusesSecondOpen())
        GTEST_SKIP() << "this host lets a serial device be opened twice";

    SerialPort port (peer.getPortName(), settings);
    ASSERT_TRUE (port.isOpen());

    SerialPort second (peer.getPortName(), settings);
    EXPECT_FALSE (second.isOpen());
    EXPECT_FALSE (second.configure (settings));
}

TEST_F (SerialLinkTest, CloseIsHarmlessTwiceAndFreesThePort)
{
    SerialPort port (peer.getPortName(), settings);
    ASSERT_TRUE (port.isOpen());

    port.close();
    EXPECT_FALSE (port.isOpen());
    port.close();
    EXPECT_FALSE (port.isOpen());
    EXPECT_FALSE (port.configure (settings));

    SerialPort afterClose (peer.getPortName(), settings);
    EXPECT_TRUE (afterClose.isOpen());
}

TEST_F (SerialLinkTest, PortsThatCannotBeOpenedStayClosed)
{
    for (auto name : { juce::String(), juce::String ("no-such-port-7") })
    {
        SerialPort port (name, settings);
        EXPECT_FALSE (port.isOpen()) << name;
        EXPECT_FALSE (port.configure (settings)) << name;
        port.close();
    }
}

TEST_F (SerialLinkTest, PortCanBeOpenedAgainWhileTheOldStreamsWindDown)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());
    SerialPortOutputStream output (port.get());

    // One round trip, so that the reader is back waiting on the port when it closes.
    ASSERT_TRUE (peer.send ("x"));
    ASSERT_TRUE (waitUntil ([&] { return input.getTotalLength() == 1; }));

    port->close();
    SerialPort reopened (peer.getPortName(), settings);
    EXPECT_TRUE (reopened.isOpen());

    EXPECT_TRUE (waitUntil ([&] { return ! input.isThreadRunning() && ! output.isThreadRunning(); }));
}

TEST_F (SerialLinkTest, EmptyInputStreamAnswersAtOnce)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());
    char buffer[16];

    EXPECT_EQ (input.read (buffer, sizeof (buffer)), 0);
    EXPECT_TRUE (input.isExhausted());
    EXPECT_EQ (input.getTotalLength(), 0);
    EXPECT_EQ (input.readNextLine(), juce::String());
    EXPECT_EQ (input.getPosition(), -1);
    EXPECT_FALSE (input.setPosition (0));
}

TEST_F (SerialLinkTest, ReceivedBytesWaitInTheQueueUntilRead)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());

    ASSERT_TRUE (peer.send ("  first line\r\nsecond\nthi"));
    ASSERT_TRUE (waitUntil ([&] { return input.getTotalLength() == 24; }));

    char start[2];
    EXPECT_EQ (input.read (start, 2), 2);
    EXPECT_EQ (input.getTotalLength(), 22);
    EXPECT_EQ (input.readNextLine(), "first line");
    EXPECT_EQ (input.readNextLine(), "second");
    EXPECT_EQ (input.readNextLine(), "thi");   // what has arrived of a partial line
    EXPECT_TRUE (input.isExhausted());

    const char highBytes[] = { 'a', (char) 0xE9, 'b', '\n' };
    ASSERT_TRUE (peer.send (highBytes, sizeof (highBytes)));
    ASSERT_TRUE (waitUntil ([&] { return input.getTotalLength() == 4; }));
    EXPECT_EQ (input.readNextLine(), "a" + juce::String::charToString ((juce::juce_wchar) 0xE9) + "b");
}

TEST_F (SerialLinkTest, EachArrivalCallsTheListenerOnceBeforeTheNextRead)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());
    DrainingListener listener (input);

    juce::WaitableEvent firstCallStarted, secondChunkSent;
    std::atomic<juce::int64> queuedWhileFirstCallRan { -1 };

    // The first call holds the reader while more bytes arrive at the port: they must not
    // be read until the call has returned. Set before the listener is registered, since
    // the reader thread calls it from then on.
    listener.duringCall = [&] (int callNumber)
    {
        if (callNumber != 1)
            return;

        firstCallStarted.signal();
        secondChunkSent.wait (5000);
        juce::Thread::sleep (200);
        queuedWhileFirstCallRan = input.getTotalLength();
    };

    input.addChangeListener (&listener);
    input.setNotifyOnData (true);

    ASSERT_TRUE (peer.send ("first"));
    ASSERT_TRUE (firstCallStarted.wait (5000));
    ASSERT_TRUE (peer.send ("second"));
    secondChunkSent.signal();

    ASSERT_TRUE (waitUntil ([&] { return listener.getReceived() == "firstsecond"; }));
    EXPECT_EQ (queuedWhileFirstCallRan.load(), 0);
    EXPECT_FALSE (listener.wasCalledWithOtherSource());

    for (auto& chunk : listener.getChunks())
        EXPECT_TRUE (chunk.isNotEmpty()) << "a listener call found no bytes";

    input.removeChangeListener (&listener);
}

TEST_F (SerialLinkTest, ArrivalsKeepTheirOrderWhenAWaitingThreadAndTheReaderTakeTurns)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());
    DrainingListener listener (input);
    input.addChangeListener (&listener);
    input.setNotifyOnData (true);

    // Bursts that this thread receives, each followed by a pause in which the reader
    // thread must take over again; the last burst is the reader's alone.
    juce::String expected;
    int receivedHere = 0;

    for (int burst = 0; burst < 4; ++burst)
    {
        for (int i = 0; i < 20; ++i)
        {
            const auto piece = juce::String (burst * 100 + i) + ",";
            expected += piece;
            ASSERT_TRUE (peer.send (piece));

            if (burst < 3 && input.receiveOnCallingThread (50))
                ++receivedHere;
        }

        juce::Thread::sleep (300);
    }

    ASSERT_TRUE (waitUntil ([&] { return listener.getReceived() == expected; })) << listener.getReceived();

    if (serial::callingThreadIoAvailable())
        EXPECT_GT (receivedHere, 0);
    else
        EXPECT_EQ (receivedHere, 0);

    EXPECT_GT (listener.getCallsOnReaderThread(), 0);
    input.removeChangeListener (&listener);
}

TEST_F (SerialLinkTest, BytesBeforeNotificationIsOnComeWithTheNextCall)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());
    DrainingListener listener (input);
    input.addChangeListener (&listener);

    ASSERT_TRUE (peer.send ("early"));
    ASSERT_TRUE (waitUntil ([&] { return input.getTotalLength() == 5; }));
    EXPECT_TRUE (listener.getChunks().isEmpty());

    input.setNotifyOnData (true);
    EXPECT_TRUE (listener.getChunks().isEmpty());   // turning it on is not an arrival

    ASSERT_TRUE (peer.send ("late"));
    ASSERT_TRUE (waitUntil ([&] { return listener.getReceived() == "earlylate"; }));
    EXPECT_TRUE (listener.getChunks()[0].startsWith ("earlyl"));

    input.removeChangeListener (&listener);
}

TEST_F (SerialLinkTest, ListenersAreCalledLastRegisteredFirstUntilRemoved)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());
    juce::StringArray calls;
    OrderListener first (calls, "first"), second (calls, "second");
    input.addChangeListener (&first);
    input.addChangeListener (&second);
    input.setNotifyOnData (true);

    ASSERT_TRUE (peer.send ("a"));
    ASSERT_TRUE (waitUntil ([&] { return input.getTotalLength() == 1; }));
    input.removeChangeListener (&second);   // waits for a call in progress

    ASSERT_TRUE (peer.send ("b"));
    ASSERT_TRUE (waitUntil ([&] { return input.getTotalLength() == 2; }));
    input.removeChangeListener (&first);

    EXPECT_EQ (calls, juce::StringArray ({ "second", "first", "first" }));
}

TEST_F (SerialLinkTest, WrittenBytesLeaveWithoutFlush)
{
    SerialPort port (peer.getPortName(), settings);
    SerialPortOutputStream output (&port);

    EXPECT_TRUE (output.write ("ping", 4));
    EXPECT_EQ (received (4), "ping");
    EXPECT_TRUE (waitUntil ([&] { return output.getPendingCount() == 0; }));
    EXPECT_EQ (output.getPosition(), -1);
    EXPECT_FALSE (output.setPosition (0));
}

TEST_F (SerialLinkTest, LargeWriteArrivesWholeAndInOrder)
{
    SerialPort port (peer.getPortName(), settings);
    SerialPortOutputStream output (&port);

    juce::MemoryBlock sent (20000);
    for (size_t i = 0; i < sent.getSize(); ++i)
        sent[i] = (char) ('a' + (i * 7 + i / 251) % 26);

    EXPECT_TRUE (output.write (sent.getData(), sent.getSize()));
    output.flush();

    EXPECT_EQ (peer.receive (sent.getSize(), 20000), sent);
    EXPECT_TRUE (waitUntil ([&] { return output.getPendingCount() == 0; }));
}

TEST_F (SerialLinkTest, ThreadsEndOnceThePortClosesAndLaterWritesStayQueued)
{
    auto port = peer.openPortForReading (settings);
    SerialPortInputStream input (port.get());
    SerialPortOutputStream output (port.get());
    ASSERT_TRUE (input.isThreadRunning());
    ASSERT_TRUE (output.isThreadRunning());

    port->close();
    EXPECT_TRUE (waitUntil ([&] { return ! input.isThreadRunning() && ! output.isThreadRunning(); }, 2000));

    EXPECT_TRUE (output.write ("after", 5));
    output.flush();
    EXPECT_EQ (output.getPendingCount(), 5);
    EXPECT_TRUE (input.isExhausted());
    EXPECT_EQ (peer.receive (5, 300).getSize(), 0u);
}

TEST_F (SerialLinkTest, StreamsOnAPortThatNeverOpenedQueueOnly)
{
    SerialPort port ("no-such-port-7", settings);
    SerialPortInputStream input (&port);
    SerialPortOutputStream output (&port);

    EXPECT_TRUE (waitUntil ([&] { return ! input.isThreadRunning() && ! output.isThreadRunning(); }, 2000));
    EXPECT_TRUE (output.write ("kept", 4));
    EXPECT_EQ (output.getPendingCount(), 4);
    EXPECT_EQ (input.getTotalLength(), 0);
}
