#include "remotefs/TransferReport.h"

#include <cstdio>

juce::String formatTransferReport (juce::int64 sizeInBytes, juce::int64 elapsedMs)
{
    const auto seconds = (float) ((double) elapsedMs / 1000.0);
    const auto rateSeconds = juce::jmax ((double) seconds, 0.001);
    const auto bits = sizeInBytes * 8;
    const auto rate = (double) bits / (rateSeconds * 1024.0 * 1024.0);

    char line[200];
    std::snprintf (line, sizeof (line),
                   "File transfer completed successfully %lld bytes in %2.2f seconds - %2.2f MBit/s.",
                   (long long) sizeInBytes, (double) seconds, rate);
    return line;
}
