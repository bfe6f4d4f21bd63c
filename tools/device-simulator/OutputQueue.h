#pragma once

#include <juce_core/juce_core.h>

#include <deque>

/** The bytes waiting to go to the host, in the order they were queued. A piece goes no
    sooner than its own time, nor sooner than its gap after the piece before it has gone.
    Times are in microseconds, so that a link paced at a megabyte a second keeps its pace.
    Writing never blocks: what the descriptor doesn't take now waits for it to be writable. */
class OutputQueue
{
public:
    void add (const juce::MemoryBlock& bytes, juce::int64 notBeforeUs, juce::int64 gapUs);

    /** Writes every piece that is due, each with one write call as far as the descriptor
        takes it. Returns false on a write error other than "try again". */
    bool writeDue (int fd, juce::int64 nowUs);

    /** Microseconds until the first piece is due: 0 when it is, -1 when nothing waits. */
    juce::int64 getWaitUs (juce::int64 nowUs) const;

    /** True when a due piece waits for the descriptor to take more. */
    bool isBlocked() const noexcept { return blocked; }

    void clear();

private:
    struct Piece
    {
        juce::MemoryBlock bytes;
        juce::int64 notBeforeUs = 0;
        juce::int64 gapUs = 0;
        size_t written = 0;
    };

    juce::int64 getDueTime (const Piece& piece) const noexcept;

    std::deque<Piece> pieces;
    juce::int64 lastFinishedUs = 0;
    bool blocked = false;
};
