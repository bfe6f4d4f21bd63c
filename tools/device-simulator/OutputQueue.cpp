#include "OutputQueue.h"

#include <cerrno>
#include <unistd.h>

void OutputQueue::add (const juce::MemoryBlock& bytes, juce::int64 notBeforeMs, int gapMs)
{
    if (! bytes.isEmpty())
        pieces.push_back ({ bytes, notBeforeMs, gapMs, 0 });
}

juce::int64 OutputQueue::getDueTime (const Piece& piece) const noexcept
{
    return juce::jmax (piece.notBeforeMs, lastFinishedMs + piece.gapMs);
}

bool OutputQueue::writeDue (int fd, juce::int64 nowMs)
{
    blocked = false;

    while (! pieces.empty() && getDueTime (pieces.front()) <= nowMs)
    {
        auto& piece = pieces.front();
        const auto* data = static_cast<const char*> (piece.bytes.getData()) + piece.written;
        const auto n = ::write (fd, data, piece.bytes.getSize() - piece.written);

        if (n < 0 && errno == EINTR)
            continue;

        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            blocked = true;
            return true;
        }

        if (n < 0)
            return false;

        piece.written += (size_t) n;

        if (piece.written == piece.bytes.getSize())
        {
            lastFinishedMs = nowMs;
            pieces.pop_front();
        }
    }

    return true;
}

int OutputQueue::getWaitMs (juce::int64 nowMs) const
{
    if (pieces.empty())
        return -1;

    return (int) juce::jlimit ((juce::int64) 0, (juce::int64) std::numeric_limits<int>::max(),
                               getDueTime (pieces.front()) - nowMs);
}

void OutputQueue::clear()
{
    pieces.clear();
    blocked = false;
}
