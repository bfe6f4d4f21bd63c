#include "transport/SerialPortPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

struct SerialPortPeer::Native
{
    int master = -1;
    int slave = -1;   // kept open so the master never reads end-of-file between tests' opens
    juce::String slaveName;
};

SerialPortPeer::SerialPortPeer() : native (std::make_unique<Native>())
{
    char name[128] = {};
    termios raw {};
    cfmakeraw (&raw);

    if (openpty (&native->master, &native->slave, name, &raw, nullptr) != 0)
        return;

    fcntl (native->master, F_SETFL, fcntl (native->master, F_GETFL) | O_NONBLOCK);
    native->slaveName = name;
}

SerialPortPeer::~SerialPortPeer()
{
    if (native->slave >= 0)
        close (native->slave);

    if (native->master >= 0)
        close (native->master);
}

bool SerialPortPeer::isReady() const noexcept
{
    return native->master >= 0;
}

juce::String SerialPortPeer::getPortName() const
{
    return native->slaveName;
}

bool SerialPortPeer::send (const void* data, size_t count)
{
    auto* bytes = static_cast<const char*> (data);

    while (count > 0)
    {
        pollfd writable { native->master, POLLOUT, 0 };

        if (poll (&writable, 1, 5000) <= 0)
            return false;

        const auto written = write (native->master, bytes, count);

        if (written < 0 && errno != EAGAIN && errno != EINTR)
            return false;

        if (written > 0)
        {
            bytes += written;
            count -= (size_t) written;
        }
    }

    return true;
}

juce::MemoryBlock SerialPortPeer::receive (size_t count, int timeoutMs)
{
    juce::MemoryBlock received;
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    char buffer[4096];

    while (received.getSize() < count)
    {
        const auto now = juce::Time::getMillisecondCounter();

        if (now >= deadline)
            break;

        pollfd readable { native->master, POLLIN, 0 };

        if (poll (&readable, 1, (int) (deadline - now)) <= 0)
            continue;

        const auto got = read (native->master, buffer, juce::jmin (sizeof (buffer), count - received.getSize()));

        if (got > 0)
            received.append (buffer, (size_t) got);
    }

    return received;
}

std::unique_ptr<SerialPort> SerialPortPeer::openPortForReading (const SerialPortSettings& settings) const
{
    return std::make_unique<SerialPort> (getPortName(), settings);
}

bool SerialPortPeer::hostRefusesSecondOpen() const
{
    return true;
}
