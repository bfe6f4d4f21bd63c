#include "cli/ProgressLine.h"
#include "cli/Console.h"
#include "cli/Platform.h"
#include "cli/TerminalText.h"

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

ProgressLine::ProgressLine (Console& c)
    : console (c), startMs (juce::Time::getMillisecondCounterHiRes())
{
}

ProgressLine::~ProgressLine()
{
    console.clearProgressLine();
}

juce::String ProgressLine::formatBytes (juce::int64 bytes)
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

double ProgressLine::getSeconds() const
{
    return (juce::Time::getMillisecondCounterHiRes() - startMs) / 1000.0;
}

void ProgressLine::treeStarted (int fileCount)
{
    isTree = true;
    treeFileCount = fileCount;
}

void ProgressLine::fileStarted (const juce::String& sourcePath, const juce::String&, juce::int64 size)
{
    ++filesStarted;
    currentName = sourcePath.fromLastOccurrenceOf ("/", false, false)
                            .fromLastOccurrenceOf (juce::File::getSeparatorString(), false, false);
    currentSize = size;
    currentDone = 0;
    inFile = true;
    draw (true);
}

void ProgressLine::blockDone (juce::int64 bytesDone)
{
    currentDone = bytesDone;
    draw (false);
}

void ProgressLine::fileFinished (bool succeeded)
{
    inFile = false;

    if (succeeded)
    {
        ++filesCopied;
        bytesCopied += currentSize;
    }

    currentDone = currentSize;
    draw (true);
}

bool ProgressLine::isCancelled()
{
    return Platform::wasInterrupted();
}

void ProgressLine::draw (bool now)
{
    if (! console.showsProgress())
        return;

    const auto nowMs = juce::Time::getMillisecondCounterHiRes();

    if (! now && nowMs - lastDrawMs < redrawIntervalMs)
        return;

    lastDrawMs = nowMs;
    const auto seconds = (nowMs - startMs) / 1000.0;
    const auto moved = (double) (bytesCopied + (inFile ? currentDone : 0));
    const auto rate = seconds > 0 ? moved / seconds : 0.0;

    juce::String line;

    if (isTree)
    {
        auto name = juce::String (TerminalText::escapeControls (TerminalText::rawBytes (currentName)));

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

    console.setProgressLine (line.toStdString());
}
