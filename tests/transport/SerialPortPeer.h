#pragma once

#include "transport/SerialPort.h"

/** The far end of a serial link, for tests: on Linux the master of a fresh
    pseudo-terminal, on Windows a COM port that pty_bridge.py joins to the port under test
    (the two names come from USB_TEST_SERIAL_PORT and USB_TEST_SERIAL_PEER). */
class SerialPortPeer
{
public:
    /** Sets up a link with nothing in flight. Check isReady() afterwards. */
    SerialPortPeer();
    ~SerialPortPeer();

    bool isReady() const noexcept;

    /** The name SerialPort opens to reach this peer. */
    juce::String getPortName() const;

    /** Sends the text as bytes to the port under test. Returns false when it can't. */
    bool send (const juce::String& text) { return send (text.toRawUTF8(), text.getNumBytesAsUTF8()); }
    bool send (const void* data, size_t count);

    /** Waits up to timeoutMs until count bytes from the port under test have arrived and
        returns them; fewer when the time ran out. */
    juce::MemoryBlock receive (size_t count, int timeoutMs);

    /** Opens the port under test for reading on this host. Wine 8 treats Windows' "return
        with the first byte" read time-outs (MAXDWORD, MAXDWORD, n), which open sets, as
        "wait for a full buffer"; under Wine the port gets a short interval time-out
        instead, which Wine does implement and which delivers bytes as they arrive. */
    std::unique_ptr<SerialPort> openPortForReading (const SerialPortSettings& settings) const;

    /** False under Wine, which lets a serial device be opened twice despite share mode 0. */
    bool hostRefusesSecondOpen() const;

private:
    struct Native;
    std::unique_ptr<Native> native;

    JUCE_DECLARE_NON_COPYABLE (SerialPortPeer)
};

/** Polls the condition until it holds or timeoutMs has passed; returns whether it holds.
    The generous default is for loaded machines: the tests never assert speed. */
template <typename Condition>
bool waitUntil (Condition&& condition, int timeoutMs = 5000)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();

        juce::Thread::sleep (5);
    }

    return true;
}
