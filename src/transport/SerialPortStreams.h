#pragma once

#include "transport/SerialPort.h"

#include <juce_events/juce_events.h>

#include <functional>

/** The bytes a serial port receives, as a stream. A reader thread ("SerialInThread") reads
    whatever the port delivers into a queue; read never waits. Once notifyOnData is set,
    each non-empty arrival calls the change listeners synchronously on the thread that
    received it, while the stream's (re-entrant) lock is held, before the next read is
    issued. That is the reader thread, or a thread in receiveOnCallingThread. */
class SerialPortInputStream : public juce::InputStream,
                              public juce::ChangeBroadcaster,
                              public juce::Thread
{
public:
    /** Starts the reader thread. The port must outlive the thread (see SerialPort). */
    explicit SerialPortInputStream (SerialPort* port);

    /** Stops the reader thread and drops the queue. An idle thread stops within about
        100 ms; one winding up a cancelled read is waited for up to about 3 s. */
    ~SerialPortInputStream() override;

    /** The number of bytes queued now; it shrinks as bytes are read. */
    juce::int64 getTotalLength() override;
    bool isExhausted() override;

    /** Takes up to maxBytes queued bytes; 0 when none are queued. Never waits. */
    int read (void* destination, int maxBytes) override;

    /** The queued bytes up to a line feed, trimmed; a partly received line comes back as
        what has arrived of it. */
    juce::String readNextLine() override;

    juce::int64 getPosition() override                  { return -1; }
    bool setPosition (juce::int64) override             { return false; }

    /** Listeners are kept by the stream itself and called on the reader thread, so these
        may be used from any thread (they hide ChangeBroadcaster's message-thread versions). */
    void addChangeListener (juce::ChangeListener* listener);
    void removeChangeListener (juce::ChangeListener* listener);

    /** When set, every non-empty arrival calls the listeners. Off after construction. */
    void setNotifyOnData (bool shouldNotify) noexcept;

    /** Waits up to timeoutMs, on the calling thread, for bytes from the port and handles
        them as the reader thread would: queued, then the listeners called. A thread that
        waits for an answer then needn't be woken by the reader thread. While such waits
        keep coming the reader thread stands aside; it takes over again within about
        100 ms of the last. Arrivals keep their order whichever thread receives them.

        hasWhatItWaitsFor (optional) is asked first, while no other thread can hand on
        bytes: when it holds (the reader thread delivered the answer meanwhile), the call
        returns true at once. Returns true once bytes were handled; false when none came
        in time, or at once where the platform can't read on the calling thread (see
        serial::callingThreadIoAvailable): the reader thread then delivers everything. */
    bool receiveOnCallingThread (int timeoutMs, const std::function<bool()>& hasWhatItWaitsFor = {});

private:
    void run() override;
    bool isCallingThreadReceiving() const noexcept;
    void dataArrived (const void* data, int count);

    struct Impl;
    std::unique_ptr<Impl> impl;

    JUCE_DECLARE_NON_COPYABLE (SerialPortInputStream)
};

/** The bytes to send to a serial port, as a stream. write queues and never waits; a
    writer thread ("SerialOutThread") sends the queue in pieces of at most 8192 bytes. It
    wakes at once on flush and otherwise within about 100 ms. Where the platform allows
    (see serial::callingThreadIoAvailable), flush first sends on the calling thread what
    the port takes at once, and the writer thread is woken only for what is left. */
class SerialPortOutputStream : public juce::OutputStream,
                               public juce::Thread
{
public:
    /** Starts the writer thread. The port must outlive the thread (see SerialPort). */
    explicit SerialPortOutputStream (SerialPort* port);

    /** Stops the writer thread (as the input stream's does); bytes still queued are dropped. */
    ~SerialPortOutputStream() override;

    /** Sends what the port takes at once and wakes the writer for the rest; does not wait
        for the port. */
    void flush() override;

    bool setPosition (juce::int64) override             { return false; }
    juce::int64 getPosition() override                  { return -1; }

    /** Queues the bytes and returns true. Never waits for the port. */
    bool write (const void* data, size_t count) override;

    /** The number of queued bytes not yet written to the port. */
    int getPendingCount() const;

private:
    void run() override;
    bool sendAtOnce();

    struct Impl;
    std::unique_ptr<Impl> impl;

    JUCE_DECLARE_NON_COPYABLE (SerialPortOutputStream)
};
