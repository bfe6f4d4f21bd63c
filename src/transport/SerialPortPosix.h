#pragma once

#include "transport/SerialLineSettings.h"

#include <sys/types.h>
#include <termios.h>

namespace serial
{
/** Sets t to raw mode with the given line settings, keeping nothing of the line
    discipline: no echo, no line editing, no character translation, reads that return at
    once. Hardware handshake is RTS/CTS (the terminal interface has no DSR/DTR
    handshake); one and a half stop bits become two, the nearest length that is not
    shorter. Returns false, leaving t unusable, for a baud rate or data-bit count the
    terminal interface has no code for. */
bool applyLineSettings (termios& t, const LineSettings& line) noexcept;

/** The call the writer thread sends each block with; ::write unless a test replaced it. */
using PortWriteFunction = ssize_t (*) (int descriptor, const void* data, size_t count);

/** Replaces the port write call and returns the previous one. For tests only: set it while
    no output stream is running. */
PortWriteFunction setPortWriteFunction (PortWriteFunction function) noexcept;
} // namespace serial
