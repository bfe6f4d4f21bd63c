#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace serial
{
/** A process that has a serial device open. */
struct PortHolder
{
    int processId = 0;
    juce::String processName;   ///< its command name (/proc/<pid>/comm); empty when unreadable
};

/** The other processes that have the device at devicePath open, as far as this user may
    see them: every process under procRoot (normally /proc) whose open descriptors include
    the same device, whatever path it was opened by (a symbolic link to it included).
    Not counted: this process, and the owner of a pseudo-terminal, that is a process holding
    the master of the pty whose slave devicePath is (the far end of a virtual line, not a
    competitor). Processes whose descriptors can't be read are skipped. Sorted by process
    id; empty when devicePath is not a device. Linux only. */
std::vector<PortHolder> findPortHolders (const juce::File& procRoot, const juce::String& devicePath);
} // namespace serial
