#pragma once

#include <juce_core/juce_core.h>

/** The log line that ends a successful transfer: "File transfer completed successfully
    <size> bytes in <s> seconds - <rate> MBit/s.", where one MBit is 1,048,576 bits.
    When less than a millisecond elapsed, the rate is taken over one millisecond. */
juce::String formatTransferReport (juce::int64 sizeInBytes, juce::int64 elapsedMs);
