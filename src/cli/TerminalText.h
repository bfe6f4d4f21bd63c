#pragma once

#include <juce_core/juce_core.h>

#include <string>

/** How texts from the device are written out. On a terminal, control characters and bytes
    that aren't valid UTF-8 are never written as they are, so that a hostile name can't
    move the cursor or rewrite the operator's screen. */
namespace TerminalText
{
    /** The bytes a device text stands for (its original bytes when it wasn't UTF-8). */
    std::string rawBytes (const juce::String& deviceText);

    /** A name quoted as GNU ls's shell-escape style does: unchanged when it needs no
        quoting, otherwise in single quotes, with control characters and invalid bytes as
        $'\ooo' pieces. Pasted into a POSIX shell it gives back the original bytes. */
    std::string shellEscape (const std::string& bytes);

    /** A log line with each control character or invalid byte shown as $'\ooo'; the rest
        is left as it is. */
    std::string escapeControls (const std::string& bytes);
}
