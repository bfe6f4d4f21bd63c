#pragma once

#include <juce_core/juce_core.h>

/** Copies the log's lines to the process's standard error on a thread of its own, so
    that a caller who pipes standard error and stops reading it can't hold up the
    program. While standard error doesn't take them, a bounded number of lines wait; the
    ones beyond are left out and counted, and the count is written in their place. One
    writer serves the whole process. */
namespace StandardErrorEcho
{
/** Queues one line (a line end is added); never waits for standard error. */
void write (const juce::String& line);

/** Waits up to timeoutMs until every queued line (and the count of any left out) has
    been written. Returns true when all were. */
bool drain (int timeoutMs);
} // namespace StandardErrorEcho
