#pragma once

#include <juce_core/juce_core.h>

#include <atomic>

/** Line settings, in this program's own codes. */
struct SerialPortSettings
{
    juce::int32 baudRate = 115200;
    juce::int32 dataBits = 8;
    juce::int32 parity = 0;        ///< 0 none, 1 odd, 2 even, 3 space, 4 mark; anything else none
    juce::int32 stopBits = 0;      ///< 1 one and a half, 2 two, anything else one
    juce::int32 flowControl = 1;   ///< 1 hardware handshake, 2 XON/XOFF, anything else none
};

/** An open serial port, opened exclusively. It does no reading or writing itself: the
    stream classes run their I/O on its handle. Created, closed and destroyed on the
    message thread; the stream threads read the handle and stop once the port is closed,
    so a port object must outlive the streams made on it. */
class SerialPort
{
public:
   #if JUCE_WINDOWS
    using NativeHandle = void*;       // HANDLE; nullptr when closed
   #else
    using NativeHandle = int;         // file descriptor; -1 when closed
   #endif

    /** Opens the port and applies the settings. Never fails: ask isOpen afterwards. */
    SerialPort (const juce::String& portName, const SerialPortSettings& settings);
    ~SerialPort();

    /** Opens the named port (COM7, /dev/ttyACM0, ...), closing this one first if it is open.
        Does not wait for the device. Returns false when the port can't be opened (it does
        not exist, another program holds it, or the name is empty). */
    bool open (const juce::String& portName);

    /** Applies the line settings. Returns false when the port isn't open or the settings
        are refused. */
    bool configure (const SerialPortSettings& settings);

    /** Closes the port; harmless when already closed. Waits at most for an I/O call in
        progress to return (Windows), not for the stream threads to end: they see the closed
        port within about 100 ms, and the port can be opened again at once. */
    void close();

    bool isOpen() const noexcept;

    /** The handle the stream threads do their I/O on. */
    NativeHandle getHandle() const noexcept  { return handle.load(); }

   #if JUCE_WINDOWS
    /** Keeps the handle from being closed during one I/O call of a stream thread. Windows
        may give a closed handle's value to the next object opened, so close() takes no new
        leases, waits for those held, cancels the I/O left pending and only then closes the
        handle. Hold a lease only around a call that returns at once (an overlapped
        ReadFile or WriteFile, GetOverlappedResult without waiting, CancelIoEx), never
        across a wait, so that close() never waits long. */
    class IoLease
    {
    public:
        explicit IoLease (SerialPort& port) noexcept;
        ~IoLease();

        /** The open handle; nullptr when the port is closed or closing (no lease then). */
        NativeHandle getHandle() const noexcept    { return leased; }
        explicit operator bool() const noexcept    { return leased != nullptr; }

    private:
        SerialPort& port;
        NativeHandle leased = nullptr;

        JUCE_DECLARE_NON_COPYABLE (IoLease)
    };
   #endif

    /** The path that open passed to the operating system. */
    const juce::String& getDevicePath() const noexcept { return devicePath; }

   #if ! JUCE_WINDOWS
    /** Becomes readable when the port is closed, so that a thread waiting in poll() for the
        port wakes at once rather than at the end of its wait. -1 when there is none. */
    int getCloseSignal() const noexcept     { return closeSignal[0]; }
   #endif

private:
   #if JUCE_WINDOWS
    static constexpr NativeHandle closedHandle = nullptr;

    // Read-held by each IoLease, write-held by close() around freeing the handle.
    juce::ReadWriteLock ioLock;
   #else
    static constexpr NativeHandle closedHandle = -1;

    // Descriptor numbers given up by close. They point at /dev/null until destruction, so
    // a stream thread still holding one never does I/O on a file opened later.
    juce::Array<int> retiredDescriptors;

    // A pipe written to by close(), for the pollers of the port (see getCloseSignal).
    int closeSignal[2] { -1, -1 };
   #endif

    std::atomic<NativeHandle> handle { closedHandle };
    juce::String devicePath;

    JUCE_DECLARE_NON_COPYABLE (SerialPort)
};
