#include "remotefs/LocalFiles.h"

namespace LocalFiles
{
bool listFolder (const juce::File& folder, juce::Array<juce::File>& entries)
{
    entries.clearQuick();

    if (! readFolder (folder, entries))
        return false;

    std::sort (entries.begin(), entries.end(),
               [] (const juce::File& a, const juce::File& b) { return a.getFileName() < b.getFileName(); });
    return true;
}

juce::File resolve (const juce::File& file)
{
    // Only existing paths resolve: resolve the longest existing part, then add the rest.
    juce::StringArray rest;
    auto existing = file;

    for (;;)
    {
        if (auto result = resolveExisting (existing); result != juce::File())
        {
            for (int i = rest.size(); --i >= 0;)
                result = juce::File (result.getFullPathName() + juce::File::getSeparatorString() + rest[i]);

            return result;
        }

        const auto parent = existing.getParentDirectory();

        if (parent == existing)
            return {};

        rest.add (existing.getFileName());
        existing = parent;
    }
}
} // namespace LocalFiles
