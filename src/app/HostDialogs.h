#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The host's dialogs that the program waits on: message boxes and file choosers. The
    program uses the framework's native ones; tests install their own answers. Every call
    is modal and runs on the message thread. */
class HostDialogs
{
public:
    virtual ~HostDialogs() = default;

    /** A message box with an empty title and one button, "ok"; returns once it is closed. */
    virtual void showMessage (const juce::String& message, bool withWarningIcon) = 0;

    /** Each returns the chosen file or folder, or juce::File() when the choice was cancelled. */
    virtual juce::File chooseFileToOpen (const juce::String& title, const juce::File& start, const juce::String& patterns) = 0;

    /** Warns before an existing file is chosen for overwriting. */
    virtual juce::File chooseFileToSave (const juce::String& title, const juce::File& suggestion, const juce::String& patterns) = 0;
    virtual juce::File chooseFolder (const juce::String& title, const juce::File& start, const juce::String& patterns) = 0;

    /** The installed dialogs, or the native ones when none are installed. */
    static HostDialogs& current();

    /** Installs dialogs (nullptr goes back to the native ones). */
    static void install (HostDialogs* dialogs);
};
