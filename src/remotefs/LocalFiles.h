#pragma once

#include <juce_core/juce_core.h>

/** The few questions about host files that JUCE doesn't answer, one implementation per
    platform (LocalFiles_posix.cpp, LocalFiles_windows.cpp). */
namespace LocalFiles
{
    enum class Kind
    {
        missing,
        regularFile,
        folder,
        other      ///< a FIFO, socket or device node: opening it may block, reading it never ends
    };

    /** What is at file, looking through links (a dangling link is missing). */
    Kind kindOf (const juce::File& file);

    /** True when file is itself a link (on Windows also a junction). */
    bool isLink (const juce::File& file);

    /** The entries of folder, sorted by name; false when the folder can't be listed. */
    bool listFolder (const juce::File& folder, juce::Array<juce::File>& entries);

    /** file's path with every link resolved. Parts at the end that don't exist yet are
        kept as written; an empty File when no part of the path can be resolved. */
    juce::File resolve (const juce::File& file);

    /** True for the names of this process's own standard output (/dev/stdout, /dev/fd/1,
        /proc/self/fd/1): writing there means writing to the descriptor it already has. */
    bool isStandardOutput (const juce::File& file);

    /** A stream that writes into file as it is, without seeking or replacing it: for a
        FIFO, a socket or a device node; File() is the standard output. nullptr, with the
        system's reason in error, when it can't be opened. */
    std::unique_ptr<juce::OutputStream> openStream (const juce::File& file, juce::String& error);

    // The platform's part of the above.
    bool readFolder (const juce::File& folder, juce::Array<juce::File>& entries);   ///< unsorted, appended
    juce::File resolveExisting (const juce::File& file);                            ///< empty when missing
}
