#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A small panel with a text box, "OK" and "Cancel", shown inside the file system pane
    and run modally to ask for a name, to edit a path, or (with the text read-only) to ask
    a yes/no question. Its modal loop ends with acceptedResult (OK, or Return in the box)
    or cancelledResult (Cancel, or Escape in the box). */
class NameAssigner : public juce::Component,
                     private juce::TextEditor::Listener,
                     private juce::Button::Listener
{
public:
    static constexpr int acceptedResult = 0;
    static constexpr int cancelledResult = 1;

    NameAssigner();
    ~NameAssigner() override;

    /** Puts text in the box and makes it editable; selectAllOnFocus selects the whole text
        when the box gains the keyboard focus. */
    void showForEditing (const juce::String& text, bool selectAllOnFocus);

    /** Puts text in the box as a read-only question. */
    void showAsQuestion (const juce::String& text);

    /** The text in the box, as the operator left it. */
    juce::String getEnteredText() const;

    /** Makes the panel visible, runs its modal loop and hides it again. Returns
        acceptedResult only when OK or Return ended the loop; however else it ended (a
        quit request, another component ending it) counts as cancelledResult. */
    int runModally();

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Return and Escape that the box leaves unhandled (it does while read-only) answer
        the dialog as they do while it is editable. */
    bool keyPressed (const juce::KeyPress& key) override;

private:
    void accept();
    void cancel();

    void buttonClicked (juce::Button* button) override;
    void textEditorReturnKeyPressed (juce::TextEditor&) override;
    void textEditorEscapeKeyPressed (juce::TextEditor&) override;

    juce::TextEditor nameBox { "name box" };
    juce::TextButton okButton { "_cancelButton" };
    juce::TextButton cancelButton { "cancel button" };

    // Set only by OK or Return while the loop runs: the loop's result alone can't tell,
    // as it also gives acceptedResult's value 0 when it ends for a quit.
    bool accepted = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NameAssigner)
};
