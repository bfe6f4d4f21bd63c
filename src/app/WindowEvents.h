#pragma once

/** Handles the input events that the windowing library has already taken off its
    connection to the display but not yet passed on.

    On X11 a repaint waits for the server's reply and, while it waits, moves whatever input
    has arrived (a click, a key) from the connection into the library's own queue. The
    event loop only looks at the connection, so those events would wait for the next one
    to arrive: a click on Cancel or on the close button during a transfer would go unseen.
    Call this after repainting inside an operation that keeps the message thread busy.
    Elsewhere it does nothing. */
void handleQueuedWindowEvents();
