#include "Simulator.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

namespace
{
constexpr size_t inputBufferSize = 65536;
volatile std::sig_atomic_t stopRequested = 0;
sigset_t waitMask;   // the signal mask while waiting: SIGINT and SIGTERM let through

void requestStop (int)
{
    stopRequested = 1;
}

constexpr juce::int64 usPerMs = 1000;
constexpr juce::int64 usPerSecond = 1000000;

// Microseconds rather than milliseconds: with truncated milliseconds the poll would wake up
// to a millisecond late, a good part of a block's round trip on a fast link.
juce::int64 nowUs()
{
    timespec now {};
    ::clock_gettime (CLOCK_MONOTONIC, &now);
    return (juce::int64) now.tv_sec * usPerSecond + now.tv_nsec / 1000;
}
} // namespace

Simulator::Simulator (PseudoTerminal& p, DeviceFileSystem& fs, RequestHandler& h, FaultRules& r, RequestLog& l)
    : pty (p), fileSystem (fs), handler (h), rules (r), log (l), inputBuffer (inputBufferSize)
{
}

void Simulator::installSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset (&action.sa_mask);
    ::sigaction (SIGINT, &action, nullptr);
    ::sigaction (SIGTERM, &action, nullptr);
    std::signal (SIGPIPE, SIG_IGN);

    sigset_t stopSignals;
    sigemptyset (&stopSignals);
    sigaddset (&stopSignals, SIGINT);
    sigaddset (&stopSignals, SIGTERM);
    ::sigprocmask (SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset (&waitMask, SIGINT);
    sigdelset (&waitMask, SIGTERM);
}

void Simulator::queueStartOutput()
{
    for (const auto& bytes : rules.getStartOutput())
        output.add (bytes, 0, 0);
}

int Simulator::run (const Settings& runSettings)
{
    settings = runSettings;
    const auto parent = ::getppid();
    lastRequestUs = nowUs();

    while (stopRequested == 0)
    {
        auto now = nowUs();

        if (settings.exitAfterIdleSeconds > 0 && now - lastRequestUs >= settings.exitAfterIdleSeconds * usPerSecond)
        {
            std::fprintf (stderr, "device-simulator: no request for %d s, exiting\n", settings.exitAfterIdleSeconds);
            return 0;
        }

        if (settings.exitWithParent && ::getppid() != parent)
            return 0;

        writeDueOutput (now);

        // Sleep until the next answer is due, the idle time is up or the parent check is due.
        juce::int64 waitUs = output.isBlocked() ? -1 : output.getWaitUs (now);
        auto shorten = [&waitUs] (juce::int64 limit) { waitUs = waitUs < 0 ? limit : juce::jmin (waitUs, limit); };

        if (settings.exitAfterIdleSeconds > 0)
            shorten (juce::jmax ((juce::int64) 0, lastRequestUs + settings.exitAfterIdleSeconds * usPerSecond - now));

        if (settings.exitWithParent)
            shorten (500 * usPerMs);

        pollfd fds[2] = { { pty.getMasterFd(), (short) (POLLIN | (output.isBlocked() ? POLLOUT : 0)), 0 },
                          { pty.getWatchFd(), POLLIN, 0 } };
        const timespec timeout { (time_t) (waitUs / usPerSecond), (long) (waitUs % usPerSecond) * 1000 };
        const int ready = ::ppoll (fds, pty.getWatchFd() >= 0 ? 2 : 1, waitUs < 0 ? nullptr : &timeout, &waitMask);

        if (ready < 0 && errno == EINTR)
            continue;

        if (ready < 0)
        {
            std::fprintf (stderr, "device-simulator: poll failed: %s\n", std::strerror (errno));
            return 2;
        }

        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            readFromHost();

        writeDueOutput (nowUs());

        if ((fds[1].revents & POLLIN) != 0 && pty.hostHasClosed())
            forgetHostSession();
    }

    return 0;
}

void Simulator::writeDueOutput (juce::int64 now)
{
    // A pty that refuses writes for good would otherwise have the loop retry them forever.
    if (! output.writeDue (pty.getMasterFd(), now))
    {
        std::fprintf (stderr, "device-simulator: write to the pty failed, answers dropped: %s\n", std::strerror (errno));
        output.clear();
    }
}

void Simulator::forgetHostSession()
{
    // What the closed session sent and hasn't been read, its partial frame and the answers
    // it hasn't had go; the pty is reset last, so that it is ready once the host can open
    // it exclusively again.
    while (::read (pty.getMasterFd(), inputBuffer, inputBufferSize) > 0)
    {
    }

    cutter.discardPartialFrame();
    output.clear();
    linkFreeUs = 0;
    pty.resetAfterHost();
}

void Simulator::readFromHost()
{
    const auto count = ::read (pty.getMasterFd(), inputBuffer, inputBufferSize);

    if (count > 0)
    {
        reportedReadError = false;
        cutter.cut (inputBuffer, (size_t) count, [this] (std::unique_ptr<ReceivedMessage> frame)
        {
            handleFrame (std::move (frame));
        });

        int dropped = 0;

        for (const auto& problem : cutter.takeHeaderProblems (dropped))
            std::fprintf (stderr, "%s\n", problem.toRawUTF8());

        if (dropped > 0)
            std::fprintf (stderr, "device-simulator: %d more invalid headers\n", dropped);

        return;
    }

    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;

    // The simulator holds the slave open, so this shouldn't happen; don't spin if it does.
    if (! reportedReadError)
        std::fprintf (stderr, "device-simulator: read from the pty failed: %s\n", count < 0 ? std::strerror (errno) : "end of file");

    reportedReadError = true;
    ::usleep (20000);
}

void Simulator::handleFrame (std::unique_ptr<ReceivedMessage> frame)
{
    const auto request = decodeRequest (*frame);
    const auto arrivalUs = nowUs();

    // Describing a request costs more than carrying out a block's write or read.
    if (log.isOpen())
        log.write (request.describe());

    if (request.kind == RequestKind::unexpected)
    {
        std::fprintf (stderr, "device-simulator: ignored %s\n", request.describe().c_str());
        return;
    }

    lastRequestUs = arrivalUs;
    const auto handlePath = request.hasHandle() ? fileSystem.getHandlePath (request.handle) : std::string();
    const auto faults = rules.match (request, handlePath);
    const auto readyUs = arrivalUs + faults.delayMs * usPerMs;

    for (const auto& bytes : faults.before)
        output.add (bytes, arrivalUs, 0);

    if (! faults.drop)
    {
        auto answer = handler.answer (request, faults);

        if (faults.truncateTo >= 0 && (size_t) faults.truncateTo < answer.getSize())
            answer.setSize ((size_t) faults.truncateTo);

        const auto requestBytes = (size_t) ReceivedMessage::headerSize + frame->getPayloadLength();
        const auto dueUs = getLinkDueTime (readyUs, requestBytes, answer.getSize());
        queueAnswer (std::move (answer), faults, dueUs);
    }

    for (const auto& bytes : faults.after)
        output.add (bytes, readyUs, 0);
}

juce::int64 Simulator::getLinkDueTime (juce::int64 readyUs, size_t requestBytes, size_t answerBytes)
{
    const auto rate = settings.linkBytesPerSecond;

    if (rate <= 0 && settings.linkLatencyMs <= 0)
        return readyUs;

    // The link carries the request, then the answer, one direction at a time; an answer
    // behind another waits for the link to be free, so queued requests are served one
    // after another rather than overlapped.
    const auto linkUs = rate > 0 ? ((juce::int64) (requestBytes + answerBytes) * usPerSecond + rate - 1) / rate : 0;
    linkFreeUs = juce::jmax (readyUs + settings.linkLatencyMs * usPerMs + linkUs, linkFreeUs + linkUs);
    return linkFreeUs;
}

void Simulator::queueAnswer (juce::MemoryBlock answer, const Faults& faults, juce::int64 dueUs)
{
    const auto total = answer.getSize();
    const auto* bytes = static_cast<const char*> (answer.getData());

    if (faults.pieceSize <= 0 && (faults.splitOffset <= 0 || (size_t) faults.splitOffset >= total))
    {
        output.add (answer, dueUs, 0);
        return;
    }

    for (size_t at = 0; at < total;)
    {
        const size_t length = faults.pieceSize > 0 ? juce::jmin ((size_t) faults.pieceSize, total - at)
                                                   : (at == 0 ? (size_t) faults.splitOffset : total - at);
        output.add (juce::MemoryBlock (bytes + at, length), dueUs, at == 0 ? 0 : faults.pieceGapMs * usPerMs);
        at += length;
    }
}
