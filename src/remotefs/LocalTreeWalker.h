#pragma once

#include <juce_core/juce_core.h>

/** How a transfer walks a host folder tree: regular files and folders only.

    A FIFO, socket or device node is left out (reading one may never end), and so is a
    link to a folder (it may lead back up the tree) or a link that leads out of the tree;
    each such entry is logged once, when the tree is walked for copying, and makes the
    tree incomplete. A folder that can't be listed makes the tree incomplete too. */
class LocalTreeWalker
{
public:
    explicit LocalTreeWalker (const juce::File& root);

    struct Entry
    {
        juce::File file;
        bool isFolder = false;
    };

    /** The entries of folder (the root or one of its folders) to copy, sorted by name. */
    juce::Array<Entry> entriesOf (const juce::File& folder);

    /** False once anything of the tree was left out or couldn't be listed. */
    bool isComplete() const noexcept          { return complete; }

    /** The files a walk would copy, counted without logging. */
    static int countFiles (const juce::File& root);

private:
    LocalTreeWalker (const juce::File& root, bool quiet);
    void leaveOut (const juce::File& file, const juce::String& why);
    int countFilesIn (const juce::File& folder);

    const juce::File root, resolvedRoot;
    const bool quiet = false;
    bool complete = true;
};
