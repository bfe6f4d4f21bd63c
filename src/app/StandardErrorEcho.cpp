#include "app/StandardErrorEcho.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#if JUCE_WINDOWS
 #include <io.h>
#else
 #include <cerrno>
 #include <unistd.h>
#endif

namespace
{
constexpr size_t maxQueuedLines = 1000;
constexpr size_t maxQueuedBytes = 1024 * 1024;

/** Writes the whole text to standard error unless it fails. Goes to the descriptor itself,
    not through the C library's stream, whose lock a blocked write would keep. */
void writeToStandardError (const std::string& text)
{
    const char* data = text.data();
    size_t left = text.size();

    while (left > 0)
    {
       #if JUCE_WINDOWS
        const auto written = (long long) _write (2, data, (unsigned int) left);
       #else
        const auto written = (long long) ::write (STDERR_FILENO, data, left);

        if (written < 0 && errno == EINTR)
            continue;
       #endif

        if (written <= 0)
            return;

        data += written;
        left -= (size_t) written;
    }
}

class Echo
{
public:
    Echo()
    {
        // Detached: when the process ends, the thread may still be waiting for a reader
        // of standard error, and nothing must wait for it then.
        std::thread ([this] { run(); }).detach();
    }

    void add (std::string line)
    {
        {
            const std::lock_guard<std::mutex> hold (lock);
            const size_t linesNeeded = leftOut > 0 ? 2 : 1;

            if (lines.size() + linesNeeded > maxQueuedLines || queuedBytes + line.size() > maxQueuedBytes)
            {
                ++leftOut;
                return;
            }

            queueLeftOutCount();
            queuedBytes += line.size();
            lines.push_back (std::move (line));
        }

        linesQueued.notify_one();
    }

    bool drain (int timeoutMs)
    {
        std::unique_lock<std::mutex> hold (lock);
        queueLeftOutCount();
        linesQueued.notify_one();
        return linesWritten.wait_for (hold, std::chrono::milliseconds (timeoutMs),
                                      [this] { return lines.empty() && ! writing; });
    }

private:
    /** With the lock held: the number of lines left out since the last count, as a line. */
    void queueLeftOutCount()
    {
        if (leftOut == 0)
            return;

        lines.push_back (std::to_string (leftOut) + " log lines were not written to standard error\n");
        queuedBytes += lines.back().size();
        leftOut = 0;
    }

    void run()
    {
        std::unique_lock<std::mutex> hold (lock);

        for (;;)
        {
            linesQueued.wait (hold, [this] { return ! lines.empty(); });

            const auto line = std::move (lines.front());
            lines.pop_front();
            queuedBytes -= line.size();
            writing = true;

            hold.unlock();
            writeToStandardError (line);
            hold.lock();

            writing = false;
            linesWritten.notify_all();
        }
    }

    std::mutex lock;
    std::condition_variable linesQueued, linesWritten;
    std::deque<std::string> lines;
    size_t queuedBytes = 0;
    long long leftOut = 0;
    bool writing = false;
};

Echo& echo()
{
    // Never destroyed, for the same reason as its thread is detached.
    static Echo* const instance = new Echo();
    return *instance;
}
} // namespace

void StandardErrorEcho::write (const juce::String& line)
{
    echo().add (line.toStdString() + "\n");
}

bool StandardErrorEcho::drain (int timeoutMs)
{
    return echo().drain (timeoutMs);
}
