#include "app/HostDialogs.h"

namespace
{
class NativeDialogs final : public HostDialogs
{
public:
    void showMessage (const juce::String& message, bool withWarningIcon) override
    {
        juce::AlertWindow::showMessageBox (withWarningIcon ? juce::MessageBoxIconType::WarningIcon
                                                           : juce::MessageBoxIconType::NoIcon,
                                           {}, message, "ok");
    }

    juce::File chooseFileToOpen (const juce::String& title, const juce::File& start, const juce::String& patterns) override
    {
        juce::FileChooser chooser (title, start, patterns, true);
        return chooser.browseForFileToOpen() ? chooser.getResult() : juce::File();
    }

    juce::File chooseFileToSave (const juce::String& title, const juce::File& suggestion, const juce::String& patterns) override
    {
        juce::FileChooser chooser (title, suggestion, patterns, true);
        return chooser.browseForFileToSave (true) ? chooser.getResult() : juce::File();
    }

    juce::File chooseFolder (const juce::String& title, const juce::File& start, const juce::String& patterns) override
    {
        juce::FileChooser chooser (title, start, patterns, true);
        return chooser.browseForDirectory() ? chooser.getResult() : juce::File();
    }
};

HostDialogs* installedDialogs = nullptr;
} // namespace

HostDialogs& HostDialogs::current()
{
    static NativeDialogs nativeDialogs;
    return installedDialogs != nullptr ? *installedDialogs : nativeDialogs;
}

void HostDialogs::install (HostDialogs* dialogs)
{
    installedDialogs = dialogs;
}
