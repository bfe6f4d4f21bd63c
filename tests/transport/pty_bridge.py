#!/usr/bin/env python3
"""Joins two fresh pseudo-terminals like a null-modem cable: bytes written to one arrive
at the other. Prints the two terminal names on one line, then bridges until it is
terminated. The Windows tests reach the terminals as COM ports under Wine.

Both terminals are raw and kept open here, so that a side with nobody attached neither
echoes nor hangs up; what waits for a side that is not read is held here, without limit.
"""
import os
import pty
import select
import sys
import tty


def main():
    ends = []
    for _ in range(2):
        master, slave = pty.openpty()
        tty.setraw(slave)
        os.set_blocking(master, False)
        ends.append((master, slave))

    print(" ".join(os.ttyname(slave) for _, slave in ends), flush=True)

    first, second = ends[0][0], ends[1][0]
    other = {first: second, second: first}
    waiting = {first: bytearray(), second: bytearray()}   # bytes on their way to that master

    while True:
        writable = [fd for fd in waiting if waiting[fd]]
        readable, ready, _ = select.select([first, second], writable, [])

        for fd in readable:
            try:
                waiting[other[fd]] += os.read(fd, 65536)
            except (BlockingIOError, InterruptedError):
                pass

        for fd in ready:
            try:
                sent = os.write(fd, waiting[fd])
                del waiting[fd][:sent]
            except (BlockingIOError, InterruptedError):
                pass


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
