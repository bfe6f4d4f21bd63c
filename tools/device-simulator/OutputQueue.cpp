#include "OutputQueue.h"

#include <cerrno>
#include <unistd.h>

void OutputQueue::add (const juce::MemoryBlock& bytes, juce::int64 notBeforeUs, juce::int64 gapUs)
{
    if (! bytes.isEmpty())
        pieces.push_back ({ bytes, notBeforeUs, gapUs, 0 });
}

juce::int64 OutputQueue::getDueTime (const Piece& piece) const noexcept
{
    return juce::jmax (piece.notBeforeUs, lastFinishedUs + piece.gapUs);
}

bool OutputQueue::writeDue (int fd, juce::int64 nowUs)
{
    blocked = false;

    while (! pieces.empty() && getDueTime (pieces.front()) <= nowUs)
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
            lastFinishedUs = nowUs;
            pieces.pop_front();
        }
    }

    return true;
}

juce::int64 OutputQueue::getWaitUs (juce::int64 nowUs) const
{
    if (pieces.empty())
        return -1;

    return juce::jmax ((juce::int64) 0, getDueTime (pieces.front()) - nowUs);
}

void OutputQueue::clear()
{
    pieces.clear();
    blocked = false;
}
