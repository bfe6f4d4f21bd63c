#pragma once

#include "remotefs/TransferProgress.h"

/** Counts a transfer as it goes (files and bytes done, the rate, the time left) and
    describes it in one line, for a progress bar's label or a terminal's progress line.
    changed() tells a subclass when there is something new to show. */
class TransferTally : public TransferProgress
{
public:
    TransferTally();

    void treeStarted (int fileCount) override;
    void fileStarted (const juce::String& sourcePath, const juce::String& destinationPath, juce::int64 size) override;
    void blockDone (juce::int64 bytesDone) override;
    void fileFinished (bool succeeded) override;

    /** "1.5 MiB / 4.0 MiB  37%  1.2 MiB/s  0:02 left"; for a tree it starts with the files
        done (of how many, when known) and the current file's name: "[3/12 files] a.bin  ...". */
    juce::String describe() const;

    /** How much of the current file is done, from 0 to 1. */
    double getFractionDone() const noexcept;

    juce::int64 getBytesCopied() const noexcept     { return bytesCopied; }   ///< of files copied whole
    int getFilesCopied() const noexcept             { return filesCopied; }
    double getSeconds() const;                                               ///< since the tally began

    /** "512 B", "1.5 MiB" and the like. */
    static juce::String formatBytes (juce::int64 bytes);

protected:
    /** Something changed; important is true for a file's start and end. Subclasses show the
        news here, at most ten times a second for the others (see isDueForRedraw). */
    virtual void changed (bool important)             { juce::ignoreUnused (important); }

    /** True when important, or when the last redraw was a tenth of a second ago or more. */
    bool isDueForRedraw (bool important);

private:
    const double startMs;
    double lastRedrawMs = -1.0e9;
    bool isTree = false, inFile = false;
    int treeFileCount = -1, filesCopied = 0;
    juce::String currentName;
    juce::int64 currentSize = 0, currentDone = 0, bytesCopied = 0;
};
