#pragma once

#include <juce_core/juce_core.h>

/** Follows a transfer and may stop it. Every member does nothing by default. */
class TransferProgress
{
public:
    virtual ~TransferProgress() = default;

    /** A tree transfer begins; fileCount is -1 when it isn't known without asking the device. */
    virtual void treeStarted (int fileCount) { juce::ignoreUnused (fileCount); }

    virtual void fileStarted (const juce::String& sourcePath, const juce::String& destinationPath, juce::int64 size)
    {
        juce::ignoreUnused (sourcePath, destinationPath, size);
    }

    /** bytesDone counts the current file's bytes so far. */
    virtual void blockDone (juce::int64 bytesDone) { juce::ignoreUnused (bytesDone); }

    virtual void fileFinished (bool succeeded) { juce::ignoreUnused (succeeded); }

    /** Asked before each block and each tree entry; true stops the transfer after the
        current block. */
    virtual bool isCancelled() { return false; }
};
