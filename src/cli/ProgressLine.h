#pragma once

#include "remotefs/TransferTally.h"

class Console;

/** Follows a transfer for the tool: counts the bytes and files copied, draws the progress
    line on a terminal (at most ten times a second) and stops the transfer after Ctrl-C. */
class ProgressLine : public TransferTally
{
public:
    explicit ProgressLine (Console& console);
    ~ProgressLine() override;

    bool isCancelled() override;

private:
    void changed (bool important) override;

    Console& console;
};
