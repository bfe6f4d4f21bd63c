// Stream I/O on a Windows COM port: overlapped ReadFile / WriteFile, each with its own
// manual-reset event, waited for in steps of at most ioWaitMs. Every call that takes the
// port's handle is made under a SerialPort::IoLease, never a wait, so that close() can't
// free the handle (whose value Windows may reuse) under a call.
#include "transport/SerialPortIo.h"
#include "transport/WindowsHeaders.h"

namespace serial
{
namespace
{
/** A zeroed OVERLAPPED with a manual-reset, initially non-signalled event. */
struct OverlappedRequest
{
    OverlappedRequest() noexcept
    {
        memset (&overlapped, 0, sizeof (overlapped));
        overlapped.hEvent = CreateEventA (nullptr, TRUE, FALSE, nullptr);
    }

    ~OverlappedRequest()
    {
        if (overlapped.hEvent != nullptr)
            CloseHandle (overlapped.hEvent);
    }

    OVERLAPPED overlapped;

    JUCE_DECLARE_NON_COPYABLE (OverlappedRequest)
};

/** Asks the port to end a request it still holds. A closing port has already done so. */
void cancelRequest (SerialPort& port, OVERLAPPED& overlapped) noexcept
{
    if (const SerialPort::IoLease lease (port); lease)
        CancelIoEx (lease.getHandle(), &overlapped);
}

/** Waits up to ioCancelWaitMs for a cancelled request to end; until it has, the kernel may
    still use its buffer and its OVERLAPPED. Returns whether it has ended. */
bool waitForCancelledRequest (OVERLAPPED& overlapped) noexcept
{
    return WaitForSingleObject (overlapped.hEvent, (DWORD) ioCancelWaitMs) == WAIT_OBJECT_0
            || HasOverlappedIoCompleted (&overlapped);
}
} // namespace

//==============================================================================
struct PortReader::Native
{
    explicit Native (SerialPort& portToRead) : port (portToRead) {}

    SerialPort& port;
    juce::HeapBlock<char> block { (size_t) ioBlockSize };
    OverlappedRequest request;
    bool readPending = false;
};

PortReader::PortReader (SerialPort& port) : native (std::make_unique<Native> (port)) {}

PortReader::~PortReader()
{
    if (! native->readPending)
        return;

    // A read that will not end leaves the block and the OVERLAPPED allocated.
    cancelRequest (native->port, native->request.overlapped);

    if (! waitForCancelledRequest (native->request.overlapped))
        native.release();
}

const void* PortReader::getData() const noexcept
{
    return native->block.get();
}

IoResult PortReader::read()
{
    auto& state = *native;
    auto& overlapped = state.request.overlapped;

    if (overlapped.hEvent == nullptr)
        return { IoOutcome::portLost };

    if (! state.readPending)
    {
        const SerialPort::IoLease lease (state.port);

        if (! lease)
            return { IoOutcome::portLost };

        // With the port's time-outs this returns at once with what is buffered, or stays
        // pending until the first byte arrives (or 10 s have passed, with 0 bytes).
        if (! ReadFile (lease.getHandle(), state.block.get(), (DWORD) ioBlockSize, nullptr, &overlapped))
        {
            if (GetLastError() != ERROR_IO_PENDING)
                return { IoOutcome::failedAtOnce };

            state.readPending = true;
        }
    }

    if (state.readPending)
    {
        // close() cancels a pending read, which ends this wait at once.
        if (WaitForSingleObject (overlapped.hEvent, (DWORD) ioWaitMs) != WAIT_OBJECT_0)
            return { IoOutcome::nothingYet };   // the read stays pending for the next call

        state.readPending = false;
    }

    const SerialPort::IoLease lease (state.port);
    DWORD count = 0;

    if (! lease || ! GetOverlappedResult (lease.getHandle(), &overlapped, &count, FALSE))
        return { IoOutcome::portLost };

    return { IoOutcome::transferred, (int) count };
}

//==============================================================================
struct PortWriter::Native
{
    Native (SerialPort& portToWrite, const juce::Thread& writerThread) : port (portToWrite), owner (writerThread) {}

    SerialPort& port;
    const juce::Thread& owner;

    // The bytes of the write in flight, here rather than the caller's, so that a write
    // whose cancel never ends can leave them behind with the OVERLAPPED.
    juce::HeapBlock<char> block { (size_t) ioBlockSize };
    OverlappedRequest request;
    bool abandoned = false;
};

PortWriter::PortWriter (SerialPort& port, const juce::Thread& owner) : native (std::make_unique<Native> (port, owner)) {}

PortWriter::~PortWriter()
{
    if (native->abandoned)
        native.release();
}

IoResult PortWriter::write (const void* data, int count)
{
    auto& state = *native;
    auto& overlapped = state.request.overlapped;

    if (overlapped.hEvent == nullptr)
        return { IoOutcome::portLost };

    {
        const SerialPort::IoLease lease (state.port);

        if (! lease)
            return { IoOutcome::portLost };

        const auto size = juce::jlimit (0, ioBlockSize, count);
        memcpy (state.block.get(), data, (size_t) size);
        ResetEvent (overlapped.hEvent);

        if (! WriteFile (lease.getHandle(), state.block.get(), (DWORD) size, nullptr, &overlapped)
             && GetLastError() != ERROR_IO_PENDING)
            return { IoOutcome::failedAtOnce };
    }

    // Flow control can hold a write back for ever; an exit request must still end it, and
    // so does close(), which cancels it. A write that ended at once has set the event.
    while (WaitForSingleObject (overlapped.hEvent, (DWORD) ioWaitMs) == WAIT_TIMEOUT)
    {
        if (state.owner.threadShouldExit() || ! state.port.isOpen())
        {
            cancelRequest (state.port, overlapped);

            if (! waitForCancelledRequest (overlapped))
            {
                state.abandoned = true;
                return { IoOutcome::portLost };
            }

            break;
        }
    }

    // A port closed meanwhile ends the thread; what was written no longer matters.
    const SerialPort::IoLease lease (state.port);
    DWORD written = 0;

    if (! lease)
        return { IoOutcome::portLost };

    GetOverlappedResult (lease.getHandle(), &overlapped, &written, FALSE);
    return { IoOutcome::transferred, (int) written };
}
//==============================================================================
bool callingThreadIoAvailable() noexcept                 { return false; }
IoResult writeAtOnce (SerialPort&, const void*, int)     { return { IoOutcome::failedAtOnce }; }
IoResult readWithin (SerialPort&, void*, int, int)       { return { IoOutcome::failedAtOnce }; }
} // namespace serial
