// SerialPort on a POSIX terminal device (Linux: /dev/ttyACM0, /dev/ttyUSB0, /dev/pts/7).
#include "base/ILogger.h"
#include "transport/PortHolders.h"
#include "transport/SerialPortPosix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{
bool findSpeedCode (juce::int32 baudRate, speed_t& code) noexcept
{
    struct Speed { juce::int32 baudRate; speed_t code; };

    static constexpr Speed speeds[] = {
        { 50, B50 }, { 75, B75 }, { 110, B110 }, { 134, B134 }, { 150, B150 }, { 200, B200 },
        { 300, B300 }, { 600, B600 }, { 1200, B1200 }, { 1800, B1800 }, { 2400, B2400 },
        { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 }, { 38400, B38400 },
        { 57600, B57600 }, { 115200, B115200 }, { 230400, B230400 }, { 460800, B460800 },
        { 500000, B500000 }, { 576000, B576000 }, { 921600, B921600 }, { 1000000, B1000000 },
        { 1152000, B1152000 }, { 1500000, B1500000 }, { 2000000, B2000000 },
        { 2500000, B2500000 }, { 3000000, B3000000 }, { 3500000, B3500000 },
        { 4000000, B4000000 }
    };

    for (const auto& speed : speeds)
    {
        if (speed.baudRate == baudRate)
        {
            code = speed.code;
            return true;
        }
    }

    return false;
}

bool findCharacterSize (juce::int32 dataBits, tcflag_t& size) noexcept
{
    switch (dataBits)
    {
        case 5: size = CS5; return true;
        case 6: size = CS6; return true;
        case 7: size = CS7; return true;
        case 8: size = CS8; return true;
        default: return false;
    }
}

/** Logs each other process that has the port open and returns whether there is one.
    flock and TIOCEXCL stop only programs that ask for them; a terminal program does neither,
    and would otherwise share the line with us, each getting part of the bytes. */
bool isHeldByAnotherProcess (const juce::String& path)
{
    const auto holders = serial::findPortHolders (juce::File ("/proc"), path);

    for (const auto& holder : holders)
        logLine ("Port " + path + " is in use by process " + juce::String (holder.processId)
                  + (holder.processName.isNotEmpty() ? " (" + holder.processName + ")." : juce::String (".")));

    return ! holders.empty();
}
} // namespace

namespace serial
{
bool applyLineSettings (termios& t, const LineSettings& line) noexcept
{
    speed_t speed {};
    tcflag_t characterSize {};

    if (! findSpeedCode (line.baudRate, speed) || ! findCharacterSize (line.dataBits, characterSize))
        return false;

    cfmakeraw (&t);
    t.c_iflag &= ~(tcflag_t) (IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~(tcflag_t) (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
   #ifdef CMSPAR
    t.c_cflag &= ~(tcflag_t) CMSPAR;
   #endif
    t.c_cflag |= characterSize | CREAD | CLOCAL;   // CLOCAL: reads and writes don't wait for carrier

    // Parity is generated and stripped by the driver, but a byte with bad parity is still
    // delivered as it came, as on Windows where nobody asks for the error.
    switch (line.parity)
    {
        case Parity::odd:   t.c_cflag |= PARENB | PARODD; break;
        case Parity::even:  t.c_cflag |= PARENB; break;
       #ifdef CMSPAR
        case Parity::mark:  t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case Parity::space: t.c_cflag |= PARENB | CMSPAR; break;
       #else
        case Parity::mark:
        case Parity::space: return false;
       #endif
        case Parity::none:  break;
    }

    if (line.stopBits != StopBits::one)
        t.c_cflag |= CSTOPB;

    switch (line.flowControl)
    {
        case FlowControl::hardwareHandshake:
            t.c_cflag |= CRTSCTS;
            break;

        case FlowControl::xonXoff:
            t.c_iflag |= IXON | IXOFF;
            t.c_cc[VSTART] = 0x11;
            t.c_cc[VSTOP] = 0x13;
            break;

        case FlowControl::none:
            break;
    }

    // The descriptor is non-blocking and the streams poll() it; a read takes what is there.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    cfsetispeed (&t, speed);
    cfsetospeed (&t, speed);
    return true;
}
} // namespace serial

SerialPort::~SerialPort()
{
    close();

    for (auto descriptor : retiredDescriptors)
        ::close (descriptor);

    for (auto descriptor : closeSignal)
        if (descriptor >= 0)
            ::close (descriptor);
}

bool SerialPort::open (const juce::String& portName)
{
    close();
    devicePath = portName;

    if (portName.isEmpty())
        return false;

    // The close signal lives as long as the object; a close of an earlier session left it
    // readable, which is undone here.
    if (closeSignal[0] < 0 && ::pipe (closeSignal) == 0)
    {
        for (auto end : closeSignal)
        {
            ::fcntl (end, F_SETFD, FD_CLOEXEC);
            ::fcntl (end, F_SETFL, O_NONBLOCK);
        }
    }

    for (char drained[16]; closeSignal[0] >= 0 && ::read (closeSignal[0], drained, sizeof (drained)) > 0;) {}

    const int descriptor = ::open (devicePath.toRawUTF8(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

    if (descriptor < 0)
    {
        // The system's reason: missing, permission denied, busy (TIOCEXCL).
        logLine ("Can't open " + devicePath + ": " + juce::String (std::strerror (errno)));
        return false;
    }

    // flock makes a second open fail even for root, whom TIOCEXCL does not stop; it and the
    // look for other holders come first so that a refused open leaves the other holder's
    // terminal untouched. A file that is not a terminal is no port.
    const auto refuse = [&] (const juce::String& reason)
    {
        if (reason.isNotEmpty())
            logLine ("Can't open " + devicePath + ": " + reason);

        ::close (descriptor);
        return false;
    };

    if (::flock (descriptor, LOCK_EX | LOCK_NB) != 0)
        return refuse (isHeldByAnotherProcess (devicePath) ? "it is in use (see above)" : "another program has it locked");

    if (! ::isatty (descriptor))
        return refuse ("it is not a serial port");

    if (isHeldByAnotherProcess (devicePath))
        return refuse ({});

    if (::ioctl (descriptor, TIOCEXCL) != 0)
        return refuse (juce::String (std::strerror (errno)));

    handle = descriptor;
    return true;
}

bool SerialPort::configure (const SerialPortSettings& settings)
{
    const int descriptor = handle.load();

    if (descriptor == closedHandle)
        return false;

    termios t {};

    if (tcgetattr (descriptor, &t) != 0
         || ! serial::applyLineSettings (t, serial::decodeSettings (settings)))
        return false;

    return tcsetattr (descriptor, TCSANOW, &t) == 0;
}

void SerialPort::close()
{
    const int descriptor = handle.exchange (closedHandle);

    if (descriptor == closedHandle)
        return;

    // A stream thread asleep in poll() keeps the terminal open until its poll times out,
    // so the exclusive claims are dropped explicitly: the port can be opened again at once.
    ::ioctl (descriptor, TIOCNXCL);
    ::flock (descriptor, LOCK_UN);

    // The number is pointed at /dev/null rather than closed, so that it can't be reused by
    // an unrelated open while a stream thread may still use it; the destructor frees it.
    const int nullDescriptor = ::open ("/dev/null", O_RDWR | O_CLOEXEC);

    if (nullDescriptor >= 0 && ::dup2 (nullDescriptor, descriptor) == descriptor)
    {
        ::fcntl (descriptor, F_SETFD, FD_CLOEXEC);
        retiredDescriptors.add (descriptor);
    }
    else
    {
        ::close (descriptor);
    }

    if (nullDescriptor >= 0)
        ::close (nullDescriptor);

    // Threads asleep in poll() for the port wake now and find it closed.
    if (closeSignal[1] >= 0)
        juce::ignoreUnused (::write (closeSignal[1], "x", 1));
}
