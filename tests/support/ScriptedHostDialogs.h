#pragma once

#include "app/HostDialogs.h"

#include <vector>

/** Answers the program's dialogs for a test and records them: message boxes return at
    once, file choices take the queued answers in turn (cancelled when none is left).
    Installed for its lifetime. */
class ScriptedHostDialogs : public HostDialogs
{
public:
    struct Call
    {
        juce::String kind, title;
        juce::File start;
        juce::String patterns;
    };

    ScriptedHostDialogs()            { HostDialogs::install (this); }
    ~ScriptedHostDialogs() override  { HostDialogs::install (nullptr); }

    void answerWith (const juce::File& file)   { answers.push_back (file); }

    void showMessage (const juce::String& message, bool withWarningIcon) override
    {
        messages.add (message);
        warnings.add (withWarningIcon);
    }

    juce::File chooseFileToOpen (const juce::String& title, const juce::File& start, const juce::String& patterns) override
    {
        return answer ("open", title, start, patterns);
    }

    juce::File chooseFileToSave (const juce::String& title, const juce::File& suggestion, const juce::String& patterns) override
    {
        return answer ("save", title, suggestion, patterns);
    }

    juce::File chooseFolder (const juce::String& title, const juce::File& start, const juce::String& patterns) override
    {
        return answer ("folder", title, start, patterns);
    }

    std::vector<Call> calls;
    juce::StringArray messages;
    juce::Array<bool> warnings;     ///< per message: shown with the warning icon

private:
    juce::File answer (const juce::String& kind, const juce::String& title, const juce::File& start, const juce::String& patterns)
    {
        calls.push_back ({ kind, title, start, patterns });

        if (answers.empty())
            return {};

        const auto file = answers.front();
        answers.erase (answers.begin());
        return file;
    }

    std::vector<juce::File> answers;
};
