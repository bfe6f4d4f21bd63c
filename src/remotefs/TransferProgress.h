#pragma once

#include <juce_core/juce_core.h>

/** Watches the client's file and folder transfers and may stop them. The transfers call it
    on their own thread (the one that started the transfer), between blocks; no call may
    block for long. Every member does nothing by default. */
class TransferProgress
{
public:
    virtual ~TransferProgress() = default;

    /** A folder tree starts. fileCount is the number of files in it when that is known
        without asking the device (a local tree before a send), -1 otherwise. */
    virtual void treeStarted (int fileCount)                                  { juce::ignoreUnused (fileCount); }

    /** A file starts: where it comes from, where it goes, and its size in bytes. */
    virtual void fileStarted (const juce::String& sourcePath, const juce::String& destinationPath,
                              juce::int64 size)                               { juce::ignoreUnused (sourcePath, destinationPath, size); }

    /** After every acknowledged block: the bytes of the current file done so far. */
    virtual void blockDone (juce::int64 bytesDone)                            { juce::ignoreUnused (bytesDone); }

    /** The current file has ended, copied or not. */
    virtual void fileFinished (bool succeeded)                                { juce::ignoreUnused (succeeded); }

    /** Asked before every block and every entry of a tree. Once it returns true the
        transfer stops: the device file is closed, a download leaves the local file as it
        was, an upload leaves the old device file as it was, a tree takes no further entry, and
        the transfer fails with the log line "Transfer cancelled.". */
    virtual bool isCancelled()                                                { return false; }
};
