#pragma once

#include "transport/SerialPort.h"

/** The native halves of the stream threads (SerialPortIo_windows.cpp, SerialPortIo_posix.cpp).
    The loops around them, and the queues, are the same on every platform. */
namespace serial
{
/** The most a stream moves in one read or write; equal to the driver queues set by open. */
constexpr int ioBlockSize = 8192;

/** The longest a stream thread waits before it looks at its loop conditions again. */
constexpr int ioWaitMs = 100;

/** The longest a stream thread waits for a cancelled read or write to end; one that
    doesn't end by then keeps its buffers, which stay allocated, and the thread stops. */
constexpr int ioCancelWaitMs = 2000;

/** How long a stream's owner waits for its thread to stop: a pass of the loop and the
    wait for a cancelled request, with time to spare, so the thread is never killed while
    the kernel still uses its buffers. A thread that is idle stops within ioWaitMs. */
constexpr int ioStopWaitMs = ioCancelWaitMs + 1000;

enum class IoOutcome
{
    transferred,    // count bytes were read or written (a write may have moved 0)
    nothingYet,     // the wait ended without bytes
    failedAtOnce,   // the port refused the request; worth trying again later
    portLost        // the port is closed or has failed: the thread ends
};

struct IoResult
{
    IoOutcome outcome = IoOutcome::nothingYet;
    int count = 0;
};

/** The reader thread's I/O state: a block to read into and, on Windows, a read that may
    stay pending from one call to the next. */
class PortReader
{
public:
    explicit PortReader (SerialPort& port);
    ~PortReader();

    /** Waits up to ioWaitMs for received bytes, which are then at getData(). */
    IoResult read();

    const void* getData() const noexcept;

private:
    struct Native;
    std::unique_ptr<Native> native;

    JUCE_DECLARE_NON_COPYABLE (PortReader)
};

/** The writer thread's I/O state. */
class PortWriter
{
public:
    /** owner is the writer thread, whose exit request ends a write the port holds back. */
    PortWriter (SerialPort& port, const juce::Thread& owner);
    ~PortWriter();

    /** Writes up to count (at most ioBlockSize) bytes. Waits until the port has taken
        them, or at most about ioWaitMs when the port can take none yet (nothingYet). */
    IoResult write (const void* data, int count);

private:
    struct Native;
    std::unique_ptr<Native> native;

    JUCE_DECLARE_NON_COPYABLE (PortWriter)
};

/** Whether a thread other than the stream threads may do I/O on the port itself (the two
    calls below). It saves a thread hand-off, and the wake-up that costs, per request and
    per answer. On Windows the overlapped requests belong to the stream threads, so there
    the calls below report failedAtOnce and the streams leave all I/O to their threads. */
bool callingThreadIoAvailable() noexcept;

/** Writes what the port takes of the bytes now (perhaps 0), without waiting. */
IoResult writeAtOnce (SerialPort& port, const void* data, int count);

/** Waits up to timeoutMs for received bytes and reads at most size of them into buffer. */
IoResult readWithin (SerialPort& port, void* buffer, int size, int timeoutMs);
} // namespace serial
