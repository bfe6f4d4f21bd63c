#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <chrono>

/** The clock of every deadline in the protocol: milliseconds of a monotonic 64-bit clock,
    which neither wraps nor jumps with the wall clock. Tests may replace its source. */
namespace WaitClock
{
using Source = juce::int64 (*)();

inline juce::int64 systemMs()
{
    return (juce::int64) std::chrono::duration_cast<std::chrono::milliseconds> (
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline std::atomic<Source> source { &systemMs };

inline juce::int64 nowMs()
{
    return source.load()();
}

/** Installs another source (nullptr: the system's) and returns the one it replaces. */
inline Source setSource (Source newSource)
{
    return source.exchange (newSource != nullptr ? newSource : &systemMs);
}

/** The end of a wait that lasts timeoutMs from the moment it is made. */
class Deadline
{
public:
    explicit Deadline (int timeoutMs) : length (juce::jmax (0, timeoutMs)), end (nowMs() + length) {}

    /** The milliseconds left, 0 once it has passed. Never more than the whole wait, even
        if the clock's source has been replaced meanwhile (then it starts again). */
    int remainingMs()
    {
        const auto now = nowMs();

        if (end - now > length)
            end = now + length;

        return (int) juce::jmax ((juce::int64) 0, end - now);
    }

private:
    const int length;
    juce::int64 end;
};
} // namespace WaitClock
