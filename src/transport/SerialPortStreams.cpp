// The two serial streams: their queues and the loops of their threads. The port I/O
// itself is in SerialPortIo_windows.cpp / SerialPortIo_posix.cpp.
#include "transport/SerialPortStreams.h"
#include "transport/SerialPortIo.h"

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

void SerialPortInputStream::dataArrived (const void* data, int count)
{
    if (count <= 0)
        return;

    const juce::ScopedLock sl (impl->lock);
    impl->queue.append (data, (size_t) count);

    // Called here, on the reader thread and before the next read, so that a listener takes
    // the bytes at once. ListenerList calls the last registered listener first.
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
    impl->wakeEvent.signal();
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

        int count = 0;

        {
            const juce::ScopedLock sl (impl->lock);
            count = (int) juce::jmin (impl->queue.getSize(), (size_t) serial::ioBlockSize);
            memcpy (block.get(), impl->queue.getData(), (size_t) count);
        }

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
