// Stream I/O on a POSIX terminal: non-blocking reads and writes, each wait a poll() of at
// most ioWaitMs so that the threads notice a closed port or an exit request in time.
#include "transport/SerialPortIo.h"
#include "transport/SerialPortPosix.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace serial
{
namespace
{
std::atomic<PortWriteFunction> portWriteFunction { &::write };

bool isRetryable (int error) noexcept
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}
} // namespace

PortWriteFunction setPortWriteFunction (PortWriteFunction function) noexcept
{
    return portWriteFunction.exchange (function != nullptr ? function : &::write);
}

struct PortReader::Native
{
    SerialPort& port;
    juce::HeapBlock<char> block { (size_t) ioBlockSize };
};

PortReader::PortReader (SerialPort& port) : native (new Native { port }) {}
PortReader::~PortReader() = default;

const void* PortReader::getData() const noexcept
{
    return native->block.get();
}

IoResult PortReader::read()
{
    return readWithin (native->port, native->block.get(), ioBlockSize, ioWaitMs);
}

struct PortWriter::Native
{
    SerialPort& port;
};

PortWriter::PortWriter (SerialPort& port, const juce::Thread&) : native (new Native { port }) {}
PortWriter::~PortWriter() = default;

IoResult PortWriter::write (const void* data, int count)
{
    const auto result = writeAtOnce (native->port, data, count);

    // The driver's queue is full (or flow control holds it): wait until it takes more.
    if (result.outcome == IoOutcome::nothingYet)
    {
        pollfd request { native->port.getHandle(), POLLOUT, 0 };
        ::poll (&request, 1, ioWaitMs);
    }

    return result;
}

//==============================================================================
bool callingThreadIoAvailable() noexcept
{
    return true;
}

IoResult writeAtOnce (SerialPort& port, const void* data, int count)
{
    const int descriptor = port.getHandle();

    if (descriptor < 0)
        return { IoOutcome::portLost };

    const auto written = portWriteFunction.load() (descriptor, data, (size_t) count);

    if (written >= 0)
    {
        // If close() ran meanwhile the bytes may have gone to /dev/null: they stay queued.
        if (! port.isOpen())
            return { IoOutcome::portLost };

        return { IoOutcome::transferred, (int) written };
    }

    return { isRetryable (errno) ? IoOutcome::nothingYet : IoOutcome::failedAtOnce };
}

IoResult readWithin (SerialPort& port, void* buffer, int size, int timeoutMs)
{
    const int descriptor = port.getHandle();

    if (descriptor < 0)
        return { IoOutcome::portLost };

    // Bytes already there (the rest of a frame that came in pieces) are taken without a
    // poll first; anything else (none yet, an error, a hang-up) is left to the poll below.
    if (const auto early = ::read (descriptor, buffer, (size_t) size); early > 0)
        return { IoOutcome::transferred, (int) early };

    // The port's close signal ends the wait at once when another thread closes the port.
    pollfd requests[2] { { descriptor, POLLIN, 0 }, { port.getCloseSignal(), POLLIN, 0 } };
    const auto& request = requests[0];
    const int ready = ::poll (requests, requests[1].fd >= 0 ? 2 : 1, timeoutMs);

    if (ready == 0 || (ready < 0 && errno == EINTR) || ! port.isOpen())
        return { IoOutcome::nothingYet };

    if (ready < 0)
        return { IoOutcome::portLost };

    // After close() the number points at /dev/null, which reads as 0 bytes; the loop then
    // sees the closed port and ends.
    const auto count = ::read (descriptor, buffer, (size_t) size);

    if (count > 0)
        return { IoOutcome::transferred, (int) count };

    if (count < 0 && ! isRetryable (errno))
        return { IoOutcome::portLost };

    // A hung-up terminal (device unplugged, pty master closed) stays readable with nothing
    // to read; it will not deliver again.
    if ((request.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && port.isOpen())
        return { IoOutcome::portLost };

    return { IoOutcome::nothingYet };
}
} // namespace serial
