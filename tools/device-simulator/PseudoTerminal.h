#pragma once

#include <string>

/** The pseudo-terminal the host talks to as if it were the device's serial port. The
    simulator works on the master side; the host opens the slave path. The simulator keeps a
    slave descriptor of its own open, so that the master sees no hang-up while the host has
    the port closed, and it takes no lock on the slave, so that the host can open it
    exclusively. It watches the slave for the host's opens and closes: a pty keeps its
    exclusive-use flag and its unread bytes after the host's last close, which a real serial
    port doesn't, so both are cleared then. */
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();

    /** Creates the pty, opens the slave in raw mode and starts watching it. Returns false,
        with a line on standard error, when the pty can't be made. */
    bool open();

    /** Keeps a symbolic link at path to the slave until destruction. A link already there
        is replaced; anything else there is left alone and false returned. */
    bool createLink (const std::string& path);

    const std::string& getSlavePath() const noexcept { return slavePath; }

    /** Non-blocking. */
    int getMasterFd() const noexcept { return master; }

    /** Readable when the host has opened or closed the slave; -1 when the watch is
        unavailable (then closes go unnoticed). */
    int getWatchFd() const noexcept { return watch; }

    /** Reads the pending open and close events. Returns true when the host closed the port
        and nobody but the simulator has it open now. */
    bool hostHasClosed();

    /** Drops the bytes the host left unread, puts the line back in raw mode and, last,
        lifts the host's exclusive use, ready for the next open. */
    void resetAfterHost();

private:
    bool makeRaw();

    int master = -1, heldSlave = -1, watch = -1;
    int hostOpenCount = 0;
    std::string slavePath, linkPath;

    PseudoTerminal (const PseudoTerminal&) = delete;
    PseudoTerminal& operator= (const PseudoTerminal&) = delete;
};
