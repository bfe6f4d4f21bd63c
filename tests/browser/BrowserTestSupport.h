#pragma once

#include "app/HostDialogs.h"
#include "app/MainPane.h"
#include "browser/FileSystemPane.h"
#include "browser/NameAssigner.h"
#include "support/ComponentSearch.h"
#include "support/JucePrinters.h"
#include "support/ScriptedHostDialogs.h"

#include <functional>
#include <vector>

#if JUCE_LINUX
 #include <dlfcn.h>
#endif

/** Lets tests put components on the screen of a bare X server. Without a window manager
    some atoms the framework asks about don't exist, and X reports an error for them. A
    JUCE application ignores X errors, but the framework installs that handler only for an
    application object, which the tests lack; without it Xlib ends the process. */
inline void ignoreXErrorsAsTheFrameworkDoes()
{
   #if JUCE_LINUX
    static const bool installed = []
    {
        using ErrorHandler = int (*) (void*, void*);
        using SetErrorHandler = ErrorHandler (*) (ErrorHandler);

        // The same library the framework loads; the handler is process-wide.
        if (auto* x11 = dlopen ("libX11.so.6", RTLD_LAZY))
            if (auto* setHandler = reinterpret_cast<SetErrorHandler> (dlsym (x11, "XSetErrorHandler")))
                setHandler ([] (void*, void*) { return 0; });

        return true;
    }();
    juce::ignoreUnused (installed);
   #endif
}

/** Shows a component in a window of its own, as the program's window shows the main pane. */
inline void putOnScreen (juce::Component& component)
{
    ignoreXErrorsAsTheFrameworkDoes();
    component.addToDesktop (0);
    component.setVisible (true);
}

/** Plays steps on a name dialog once it runs modally, one step per timer tick, as an
    operator would: the dialog's caller is then blocked in its modal loop. Whatever is left
    when the time runs out cancels the loop, so that a test never hangs. */
class NameDialogOperator : private juce::Timer
{
public:
    using Step = std::function<void (NameAssigner&)>;

    explicit NameDialogOperator (NameAssigner& dialogToOperate, std::vector<Step> stepsToPlay = {},
                                 int timeoutMs = 30000)
        : dialog (dialogToOperate), steps (std::move (stepsToPlay)),
          deadline (juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs)
    {
        startTimer (20);
    }

    ~NameDialogOperator() override { stopTimer(); }

    /** How many times the dialog was found modal and given a step. */
    int getStepsPlayed() const noexcept  { return stepsPlayed; }
    bool timedOut() const noexcept       { return gaveUp; }

private:
    void timerCallback() override
    {
        if (juce::Time::getMillisecondCounter() > deadline)
        {
            gaveUp = true;
            stopTimer();

            if (dialog.isCurrentlyModal (false))
                dialog.exitModalState (NameAssigner::cancelledResult);

            return;
        }

        if (dialog.isCurrentlyModal (false) && stepsPlayed < (int) steps.size())
            steps[(size_t) stepsPlayed++] (dialog);
    }

    NameAssigner& dialog;
    std::vector<Step> steps;
    juce::uint32 deadline;
    int stepsPlayed = 0;
    bool gaveUp = false;
};

namespace NameDialogSteps
{
inline juce::TextEditor& nameBox (NameAssigner& dialog)
{
    return *findChild<juce::TextEditor> (dialog, "name box");
}

/** Delivers a key press as the window system does while the dialog runs: to the name box,
    which has the keyboard focus then, and up to the dialog when the box leaves it
    unhandled. It goes to the box directly, so that another window taking the X focus (GUI
    tests run side by side on one display) can't take the key. */
inline void pressKey (NameAssigner& dialog, const juce::KeyPress& key)
{
    if (! nameBox (dialog).keyPressed (key))
        dialog.keyPressed (key);
}

inline void pressKey (NameAssigner& dialog, int keyCode)
{
    pressKey (dialog, juce::KeyPress (keyCode));
}

/** Types the characters one key press at a time. */
inline NameDialogOperator::Step typeKeys (juce::String text)
{
    return [text] (NameAssigner& d)
    {
        for (auto character : text)
            pressKey (d, juce::KeyPress (0, {}, character));
    };
}

inline NameDialogOperator::Step pressReturn()  { return [] (NameAssigner& d) { pressKey (d, juce::KeyPress::returnKey); }; }
inline NameDialogOperator::Step pressEscape()  { return [] (NameAssigner& d) { pressKey (d, juce::KeyPress::escapeKey); }; }

inline NameDialogOperator::Step clickOk()
{
    return [] (NameAssigner& d) { findChild<juce::TextButton> (d, "_cancelButton")->triggerClick(); };
}

inline NameDialogOperator::Step clickCancel()
{
    return [] (NameAssigner& d) { findChild<juce::TextButton> (d, "cancel button")->triggerClick(); };
}

/** Makes sure the name box has the keyboard focus, which running modally gave it unless
    another window took the X focus meanwhile. */
inline NameDialogOperator::Step focusNameBox()
{
    return [] (NameAssigner& d)
    {
        auto& box = nameBox (d);

        if (! box.hasKeyboardFocus (false))
        {
            if (auto* peer = d.getPeer())
                peer->grabFocus();

            box.grabKeyboardFocus();
        }
    };
}

/** Replaces the text as typing over a selection would. */
inline NameDialogOperator::Step typeText (juce::String text)
{
    return [text] (NameAssigner& d)
    {
        auto& box = nameBox (d);
        box.selectAll();
        box.insertTextAtCaret (text);
    };
}
} // namespace NameDialogSteps

/** The "File System" tab's pane of a main pane. */
inline FileSystemPane& fileSystemPaneOf (MainPane& mainPane)
{
    return *dynamic_cast<FileSystemPane*> (mainPane.getTabs().getTabContentComponent (1));
}

/** A child button by its visible text (two of the pane's share a component name), or nullptr. */
inline juce::Button* findButtonWithText (juce::Component& parent, const juce::String& text)
{
    for (auto* child : parent.getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child))
            if (button->getButtonText() == text)
                return button;

    return nullptr;
}

/** Clicks the button as the framework does for an operator's click and runs the message
    loop until its listeners have all returned. Returns false when the button is missing or
    the click didn't finish within timeoutMs. */
inline bool clickAndWait (juce::Component& parent, const juce::String& buttonText, int timeoutMs = 60000)
{
    auto* button = findButtonWithText (parent, buttonText);

    if (button == nullptr)
        return false;

    // onClick runs after every listener of the button has returned.
    bool finished = false;
    button->onClick = [&finished] { finished = true; };
    button->triggerClick();
    const auto result = dispatchUntil ([&finished] { return finished; }, timeoutMs);
    button->onClick = nullptr;
    return result;
}

/** The log as lines, after the version line it starts with. */
inline juce::StringArray logLinesOf (MainPane& mainPane)
{
    juce::StringArray lines;
    lines.addLines (mainPane.getLogEditor().getText());
    lines.removeEmptyStrings();
    lines.removeString ("USB File Utility " USB_FILE_UTILITY_VERSION);
    return lines;
}
