// The two serial streams: their queues and the loops of their threads. The port I/O
// itself is in SerialPortIo_windows.cpp / SerialPortIo_posix.cpp.
#include "transport/SerialPortStreams.h"
#include "transport/SerialPortIo.h"
#include "base/WaitClock.h"

namespace
{
// How long the reader thread stands aside after a calling thread's receive ended: the
// gap between the answer to one request and the next request is far shorter.
constexpr juce::int64 standAsideMs = serial::ioWaitMs;
} // namespace

//==============================================================================
struct SerialPortInputStream::Impl
{
    explicit Impl (SerialPort* portToRead) : port (portToRead) {}

    SerialPort* const port;

    // Re-entrant: listeners run on the reader thread with it held and read from the stream.
    juce::CriticalSection lock;
    juce::MemoryBlock queue;                                // received bytes, oldest first
    juce::ListenerList<juce::ChangeListener> listeners;    // guarded by lock
    std::atomic<bool> notifyOnData { false };

    // Held from taking bytes off the port until they are handled, by the reader thread and
    // by a receiving calling thread alike, so that arrivals are handled in their order.
    juce::CriticalSection receiveLock;
    juce::HeapBlock<char> callerBlock { (size_t) serial::ioBlockSize };   // guarded by receiveLock

    std::atomic<int> callersReceiving { 0 };
    std::atomic<juce::int64> lastCallerReceiveMs { std::numeric_limits<juce::int64>::min() / 2 };

    /** Marks a calling thread's receive, so that the reader thread stands aside. */
    struct CallerReceiving
    {
        explicit CallerReceiving (Impl& i) noexcept : impl (i)   { ++impl.callersReceiving; impl.lastCallerReceiveMs = WaitClock::nowMs(); }
        ~CallerReceiving()                                       { impl.lastCallerReceiveMs = WaitClock::nowMs(); --impl.callersReceiving; }
        Impl& impl;
    };
};

SerialPortInputStream::SerialPortInputStream (SerialPort* port)
    : juce::Thread ("SerialInThread"),
      impl (std::make_unique<Impl> (port))
{
    startThread();
}

SerialPortInputStream::~SerialPortInputStream()
{
    // Long enough for the reader to wind up a cancelled read: a thread that is killed
    // instead would leave the kernel writing into freed memory.
    stopThread (serial::ioStopWaitMs);
}

juce::int64 SerialPortInputStream::getTotalLength()
{
    const juce::ScopedLock sl (impl->lock);
    return (juce::int64) impl->queue.getSize();
}

bool SerialPortInputStream::isExhausted()
{
    return getTotalLength() == 0;
}

int SerialPortInputStream::read (void* destination, int maxBytes)
{
    if (maxBytes <= 0)
        return 0;

    const juce::ScopedLock sl (impl->lock);
    auto& queue = impl->queue;
    const auto count = juce::jmin ((size_t) maxBytes, queue.getSize());

    if (count == 0)
        return 0;

    memcpy (destination, queue.getData(), count);
    queue.removeSection (0, count);
    return (int) count;
}

juce::String SerialPortInputStream::readNextLine()
{
    juce::String line;
    line.preallocateBytes (32);

    // Each byte is one character of that code (Latin-1): the device sends ASCII, and a
    // stray byte above 127 must not turn into malformed UTF-8.
    for (juce::uint8 byte = 0; read (&byte, 1) == 1 && byte != '\n';)
        line += (juce::juce_wchar) byte;

    return line.trim();
}

void SerialPortInputStream::addChangeListener (juce::ChangeListener* listener)
{
    const juce::ScopedLock sl (impl->lock);
    impl->listeners.add (listener);
}

void SerialPortInputStream::removeChangeListener (juce::ChangeListener* listener)
{
    // Taking the lock waits for a call in progress, so the listener is not called after this.
    const juce::ScopedLock sl (impl->lock);
    impl->listeners.remove (listener);
}

void SerialPortInputStream::setNotifyOnData (bool shouldNotify) noexcept
{
    impl->notifyOnData = shouldNotify;
}

bool SerialPortInputStream::receiveOnCallingThread (int timeoutMs, const std::function<bool()>& hasWhatItWaitsFor)
{
    if (! serial::callingThreadIoAvailable() || impl->port == nullptr)
        return false;

    const Impl::CallerReceiving receiving (*impl);
    const juce::ScopedLock sl (impl->receiveLock);

    // Bytes are handed on only under receiveLock, so what the reader thread delivered
    // before this took the lock is there to see, and nothing comes while it looks.
    if (hasWhatItWaitsFor != nullptr && hasWhatItWaitsFor())
        return true;

    const auto deadline = WaitClock::nowMs() + juce::jmax (0, timeoutMs);

    for (;;)
    {
        const auto remaining = (int) juce::jmax ((juce::int64) 0, deadline - WaitClock::nowMs());
        const auto result = serial::readWithin (*impl->port, impl->callerBlock.get(), serial::ioBlockSize, remaining);

        if (result.outcome == serial::IoOutcome::transferred)
        {
            dataArrived (impl->callerBlock.get(), result.count);
            return true;
        }

        // A wake-up without bytes (a terminal can report input that another look then
        // doesn't find) is waited out here: handing the wait to the reader thread, which
        // stands aside, would cost up to 100 ms. A time-out, a lost or closed port (which
        // reads as nothing at once) ends the wait.
        if (result.outcome != serial::IoOutcome::nothingYet || remaining == 0 || ! impl->port->isOpen())
            return false;
    }
}

bool SerialPortInputStream::isCallingThreadReceiving() const noexcept
{
    return impl->callersReceiving.load() > 0 || WaitClock::nowMs() - impl->lastCallerReceiveMs.load() < standAsideMs;
}

void SerialPortInputStream::dataArrived (const void* data, int count)
{
    if (count <= 0)
        return;

    const juce::ScopedLock sl (impl->lock);
    impl->queue.append (data, (size_t) count);

    // Called here, on the receiving thread and before the next read, so that a listener
    // takes the bytes at once. ListenerList calls the last registered listener first.
    if (impl->notifyOnData)
        impl->listeners.call ([this] (juce::ChangeListener& listener) { listener.changeListenerCallback (this); });
}

void SerialPortInputStream::run()
{
    if (impl->port == nullptr)
        return;

    serial::PortReader reader (*impl->port);

    while (impl->port->isOpen() && ! threadShouldExit())
    {
        // A thread in receiveOnCallingThread has the port meanwhile.
        if (isCallingThreadReceiving())
        {
            wait ((int) standAsideMs);
            continue;
        }

        const juce::ScopedLock receiving (impl->receiveLock);

        // A caller that had the port while this waited for the lock keeps it a while yet:
        // a read started now would hold the port for its whole wait, and a port closed
        // meanwhile (the end of a short run) would wait for it to end.
        if (isCallingThreadReceiving())
            continue;

        const auto result = reader.read();

        if (result.outcome == serial::IoOutcome::portLost)
            break;

        // A port that refuses reads (a device being removed) is retried, but not in a busy loop.
        if (result.outcome == serial::IoOutcome::failedAtOnce)
            wait (serial::ioWaitMs);
        else
            dataArrived (reader.getData(), result.count);
    }
}

//==============================================================================
struct SerialPortOutputStream::Impl
{
    explicit Impl (SerialPort* portToWrite) : port (portToWrite) {}

    SerialPort* const port;
    juce::CriticalSection lock;
    juce::MemoryBlock queue;         // bytes not yet written, oldest first; guarded by lock
    juce::WaitableEvent wakeEvent;   // auto-reset; signalled by flush

    // Held from taking bytes off the queue until the port has them, by the writer thread
    // and by a flush that sends at once, so that the bytes leave in their order.
    juce::CriticalSection sendLock;
};

SerialPortOutputStream::SerialPortOutputStream (SerialPort* port)
    : juce::Thread ("SerialOutThread"),
      impl (std::make_unique<Impl> (port))
{
    startThread();
}

SerialPortOutputStream::~SerialPortOutputStream()
{
    signalThreadShouldExit();
    impl->wakeEvent.signal();
    stopThread (serial::ioStopWaitMs);   // as the input stream's, for a cancelled write
}

void SerialPortOutputStream::flush()
{
    // A request then leaves without waiting for the writer thread to wake.
    if (! sendAtOnce())
        impl->wakeEvent.signal();
}

bool SerialPortOutputStream::sendAtOnce()
{
    if (! serial::callingThreadIoAvailable() || impl->port == nullptr)
        return false;

    // The writer thread is sending (it may be waiting for the port): the rest is its work.
    const juce::ScopedTryLock sending (impl->sendLock);

    if (! sending.isLocked())
        return false;

    for (;;)
    {
        const juce::ScopedLock sl (impl->lock);
        auto& queue = impl->queue;

        if (queue.isEmpty())
            return true;

        const auto count = (int) juce::jmin (queue.getSize(), (size_t) serial::ioBlockSize);
        const auto result = serial::writeAtOnce (*impl->port, queue.getData(), count);

        if (result.outcome != serial::IoOutcome::transferred)
            return false;

        queue.removeSection (0, (size_t) result.count);

        if (result.count < count)
            return false;
    }
}

bool SerialPortOutputStream::write (const void* data, size_t count)
{
    const juce::ScopedLock sl (impl->lock);
    impl->queue.append (data, count);
    return true;
}

int SerialPortOutputStream::getPendingCount() const
{
    const juce::ScopedLock sl (impl->lock);
    return (int) impl->queue.getSize();
}

void SerialPortOutputStream::run()
{
    if (impl->port == nullptr)
        return;

    serial::PortWriter writer (*impl->port, *this);
    juce::HeapBlock<char> block ((size_t) serial::ioBlockSize);

    while (impl->port->isOpen() && ! threadShouldExit())
    {
        // Without a flush, queued bytes still leave within about ioWaitMs.
        if (getPendingCount() == 0)
        {
            impl->wakeEvent.wait (serial::ioWaitMs);
            continue;
        }

        const juce::ScopedLock sending (impl->sendLock);
        int count = 0;

        {
            const juce::ScopedLock sl (impl->lock);
            count = (int) juce::jmin (impl->queue.getSize(), (size_t) serial::ioBlockSize);

            if (count > 0)
                memcpy (block.get(), impl->queue.getData(), (size_t) count);
        }

        if (count == 0)   // a flush sent it all meanwhile (an empty queue may have no memory)
            continue;

        const auto result = writer.write (block.get(), count);

        if (result.outcome == serial::IoOutcome::portLost)
            break;

        // The bytes stay queued; a port that keeps refusing is not retried in a busy loop.
        if (result.outcome == serial::IoOutcome::failedAtOnce)
        {
            wait (serial::ioWaitMs);
            continue;
        }

        if (result.count > 0)
        {
            const juce::ScopedLock sl (impl->lock);
            impl->queue.removeSection (0, (size_t) result.count);
        }
    }
}
