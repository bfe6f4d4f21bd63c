#include "remotefs/LocalTreeWalker.h"
#include "remotefs/LocalFiles.h"
#include "base/ILogger.h"

LocalTreeWalker::LocalTreeWalker (const juce::File& r) : LocalTreeWalker (r, false) {}

LocalTreeWalker::LocalTreeWalker (const juce::File& r, bool q)
    : root (r), resolvedRoot (LocalFiles::resolve (r)), quiet (q)
{
}

void LocalTreeWalker::leaveOut (const juce::File& file, const juce::String& why)
{
    if (! quiet)
        logLine ("Skipping " + file.getFullPathName() + ": " + why);

    complete = false;
}

juce::Array<LocalTreeWalker::Entry> LocalTreeWalker::entriesOf (const juce::File& folder)
{
    juce::Array<juce::File> children;
    juce::Array<Entry> entries;

    if (! LocalFiles::listFolder (folder, children))
    {
        if (! quiet)
            logLine ("Can't read the folder " + folder.getFullPathName());

        complete = false;
        return entries;
    }

    for (const auto& child : children)
    {
        const auto kind = LocalFiles::kindOf (child);

        if (kind == LocalFiles::Kind::other)
        {
            leaveOut (child, "not a regular file or folder");
            continue;
        }

        if (kind == LocalFiles::Kind::missing)
        {
            leaveOut (child, "a link to nothing");
            continue;
        }

        if (LocalFiles::isLink (child))
        {
            if (kind == LocalFiles::Kind::folder)
            {
                leaveOut (child, "a linked folder");
                continue;
            }

            const auto target = LocalFiles::resolve (child);

            if (resolvedRoot == juce::File() || ! target.isAChildOf (resolvedRoot))
            {
                leaveOut (child, "a link that leads out of " + root.getFullPathName());
                continue;
            }
        }

        entries.add ({ child, kind == LocalFiles::Kind::folder });
    }

    return entries;
}

int LocalTreeWalker::countFiles (const juce::File& root)
{
    LocalTreeWalker walker (root, true);
    return walker.countFilesIn (root);
}

int LocalTreeWalker::countFilesIn (const juce::File& folder)
{
    int count = 0;

    for (const auto& entry : entriesOf (folder))
        count += entry.isFolder ? countFilesIn (entry.file) : 1;

    return count;
}
