#include "remotefs/LocalTargetResolver.h"
#include "remotefs/HostPaths.h"
#include "remotefs/LocalFiles.h"
#include "base/ILogger.h"

LocalTargetResolver::LocalTargetResolver (const juce::File& chosenFolder)
    : resolvedChosenFolder (LocalFiles::resolve (chosenFolder))
{
}

bool LocalTargetResolver::contains (const juce::File& file) const
{
    if (resolvedChosenFolder == juce::File())
        return false;

    const auto resolved = LocalFiles::resolve (file);
    return resolved == resolvedChosenFolder || resolved.isAChildOf (resolvedChosenFolder);
}

juce::File LocalTargetResolver::childInside (const juce::File& folder, const juce::String& name, juce::String* whyNot) const
{
    // Joined by hand: getChildFile takes "~" and "~user" as home folders.
    const juce::File child (folder.getFullPathName() + juce::File::getSeparatorString() + name);

    if (! isSafeEntryName (name) || child.getParentDirectory() != folder)
    {
        if (whyNot != nullptr)
            *whyNot = "not a usable file name";

        return {};
    }

    if (! contains (child))
    {
        if (whyNot != nullptr)
            *whyNot = "it leads out of " + resolvedChosenFolder.getFullPathName();

        return {};
    }

    return child;
}

bool LocalTargetResolver::createFolder (const juce::File& folder) const
{
    // Checked before (a link on the way would have it made elsewhere) and after (a link
    // put there meanwhile).
    if (! contains (folder))
    {
        logLine ("Not writing into " + folder.getFullPathName() + ": it leads out of "
                 + resolvedChosenFolder.getFullPathName());
        return false;
    }

    if (! folder.isDirectory() && ! folder.createDirectory().wasOk())
    {
        logLine ("Can't create the folder " + folder.getFullPathName());
        return false;
    }

    if (contains (folder))
        return true;

    logLine ("Not writing into " + folder.getFullPathName() + ": it leads out of "
             + resolvedChosenFolder.getFullPathName());
    return false;
}
