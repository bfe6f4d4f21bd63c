// Stream I/O on a Windows COM port: overlapped ReadFile / WriteFile, each with its own
// manual-reset event, waited for in steps of at most ioWaitMs.
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

/** Asks the port to end a request it still holds. A closed port has already done so. */
void cancelRequest (SerialPort& port, OVERLAPPED& overlapped) noexcept
{
    if (const auto handle = port.getHandle(); handle != nullptr)
        CancelIoEx (handle, &overlapped);
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

    // The kernel writes into the block and the OVERLAPPED when the read ends, so they are
    // freed only once it has; a read that will not end leaves them allocated.
    cancelRequest (native->port, native->request.overlapped);

    if (WaitForSingleObject (native->request.overlapped.hEvent, 2000) != WAIT_OBJECT_0
         && ! HasOverlappedIoCompleted (&native->request.overlapped))
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
    const auto handle = state.port.getHandle();

    if (handle == nullptr || overlapped.hEvent == nullptr)
        return { IoOutcome::portLost };

    if (! state.readPending)
    {
        // With the port's time-outs this returns at once with what is buffered, or stays
        // pending until the first byte arrives (or 10 s have passed, with 0 bytes).
        if (! ReadFile (handle, state.block.get(), (DWORD) ioBlockSize, nullptr, &overlapped))
        {
            if (GetLastError() != ERROR_IO_PENDING)
                return { IoOutcome::failedAtOnce };

            state.readPending = true;
        }
    }

    if (state.readPending)
    {
        if (WaitForSingleObject (overlapped.hEvent, (DWORD) ioWaitMs) != WAIT_OBJECT_0)
            return { IoOutcome::nothingYet };   // the read stays pending for the next call

        state.readPending = false;
    }

    DWORD count = 0;

    if (! GetOverlappedResult (handle, &overlapped, &count, FALSE))
        return { IoOutcome::portLost };

    return { IoOutcome::transferred, (int) count };
}

//==============================================================================
struct PortWriter::Native
{
    Native (SerialPort& portToWrite, const juce::Thread& writerThread) : port (portToWrite), owner (writerThread) {}

    SerialPort& port;
    const juce::Thread& owner;
    OverlappedRequest request;
};

PortWriter::PortWriter (SerialPort& port, const juce::Thread& owner) : native (std::make_unique<Native> (port, owner)) {}
PortWriter::~PortWriter() = default;

IoResult PortWriter::write (const void* data, int count)
{
    auto& state = *native;
    auto& overlapped = state.request.overlapped;
    const auto handle = state.port.getHandle();

    if (handle == nullptr || overlapped.hEvent == nullptr)
        return { IoOutcome::portLost };

    ResetEvent (overlapped.hEvent);

    if (! WriteFile (handle, data, (DWORD) count, nullptr, &overlapped))
    {
        if (GetLastError() != ERROR_IO_PENDING)
            return { IoOutcome::failedAtOnce };

        // Flow control can hold a write back for ever; an exit request must still end it.
        while (WaitForSingleObject (overlapped.hEvent, (DWORD) ioWaitMs) == WAIT_TIMEOUT)
        {
            if (state.owner.threadShouldExit() || ! state.port.isOpen())
            {
                cancelRequest (state.port, overlapped);
                break;
            }
        }
    }

    // Waits for a cancelled write to end too: the kernel may still be reading the block.
    DWORD written = 0;
    GetOverlappedResult (handle, &overlapped, &written, TRUE);
    return { IoOutcome::transferred, (int) written };
}
} // namespace serial
