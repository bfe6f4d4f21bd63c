#pragma once

#include "remotefs/TransferProgress.h"

class Console;

/** Follows a transfer for the tool: counts the bytes and files copied, draws the progress
    line on a terminal (at most ten times a second) and stops the transfer after Ctrl-C. */
class ProgressLine : public TransferProgress
{
public:
    explicit ProgressLine (Console& console);
    ~ProgressLine() override;

    void treeStarted (int fileCount) override;
    void fileStarted (const juce::String& sourcePath, const juce::String& destinationPath, juce::int64 size) override;
    void blockDone (juce::int64 bytesDone) override;
    void fileFinished (bool succeeded) override;
    bool isCancelled() override;

    /** Bytes of the files that were copied whole. */
    juce::int64 getBytesCopied() const noexcept { return bytesCopied; }
    int getFilesCopied() const noexcept { return filesCopied; }

    /** Seconds since the progress object was made. */
    double getSeconds() const;

    /** "1.5 MiB" and the like. */
    static juce::String formatBytes (juce::int64 bytes);

private:
    void draw (bool now);

    Console& console;
    const double startMs;
    double lastDrawMs = 0;
    bool isTree = false, inFile = false;
    int treeFileCount = -1, filesStarted = 0, filesCopied = 0;
    juce::String currentName;
    juce::int64 currentSize = 0, currentDone = 0, bytesCopied = 0;
};
