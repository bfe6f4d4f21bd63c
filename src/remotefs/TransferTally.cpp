#include "remotefs/TransferTally.h"
#include "base/DeviceText.h"

namespace
{
constexpr double redrawIntervalMs = 100.0;
constexpr int maxNameLength = 30;

juce::String formatDuration (double seconds)
{
    const auto total = (juce::int64) (seconds + 0.5);
    return juce::String (total / 60) + ":" + juce::String (total % 60).paddedLeft ('0', 2);
}
} // namespace

TransferTally::TransferTally()
    : startMs (juce::Time::getMillisecondCounterHiRes())
{
}

juce::String TransferTally::formatBytes (juce::int64 bytes)
{
    if (bytes < 1024)
        return juce::String (bytes) + " B";

    const char* units[] = { "KiB", "MiB", "GiB", "TiB" };
    auto value = (double) bytes / 1024.0;
    int unit = 0;

    while (value >= 1024.0 && unit < 3)
    {
        value /= 1024.0;
        ++unit;
    }

    return juce::String (value, 1) + " " + units[unit];
}

double TransferTally::getSeconds() const
{
    return (juce::Time::getMillisecondCounterHiRes() - startMs) / 1000.0;
}

double TransferTally::getFractionDone() const noexcept
{
    return currentSize > 0 ? juce::jlimit (0.0, 1.0, (double) currentDone / (double) currentSize) : (inFile ? 0.0 : 1.0);
}

void TransferTally::treeStarted (int fileCount)
{
    isTree = true;
    treeFileCount = fileCount;
    changed (true);
}

void TransferTally::fileStarted (const juce::String& sourcePath, const juce::String&, juce::int64 size)
{
    // Device paths use "/", host paths the host's separator.
    currentName = sourcePath.fromLastOccurrenceOf ("/", false, false)
                            .fromLastOccurrenceOf (juce::File::getSeparatorString(), false, false);
    currentSize = size;
    currentDone = 0;
    inFile = true;
    changed (true);
}

void TransferTally::blockDone (juce::int64 bytesDone)
{
    currentDone = bytesDone;
    changed (false);
}

void TransferTally::fileFinished (bool succeeded)
{
    inFile = false;

    if (succeeded)
    {
        ++filesCopied;
        bytesCopied += currentSize;
        currentDone = currentSize;
    }

    changed (true);
}

bool TransferTally::isDueForRedraw (bool important)
{
    const auto nowMs = juce::Time::getMillisecondCounterHiRes();

    if (! important && nowMs - lastRedrawMs < redrawIntervalMs)
        return false;

    lastRedrawMs = nowMs;
    return true;
}

juce::String TransferTally::describe() const
{
    const auto seconds = getSeconds();
    const auto moved = (double) (bytesCopied + (inFile ? currentDone : 0));
    const auto rate = seconds > 0 ? moved / seconds : 0.0;
    juce::String line;

    if (isTree)
    {
        auto name = DeviceText::toDisplay (currentName);

        if (name.length() > maxNameLength)
            name = "..." + name.getLastCharacters (maxNameLength - 3);

        line << "[" << filesCopied << (treeFileCount >= 0 ? "/" + juce::String (treeFileCount) : juce::String())
             << " files] " << name << "  ";
    }

    line << formatBytes (currentDone) << " / " << formatBytes (currentSize);

    if (currentSize > 0)
        line << "  " << (int) (100 * currentDone / currentSize) << "%";

    line << "  " << formatBytes ((juce::int64) rate) << "/s";

    if (rate > 0 && currentDone < currentSize)
        line << "  " << formatDuration ((double) (currentSize - currentDone) / rate) << " left";

    return line;
}
