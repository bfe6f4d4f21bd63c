#include "BrowserTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace NameDialogSteps;

namespace
{
struct Answer
{
    const char* description;
    NameDialogOperator::Step step;
    int expectedResult;
};

/** The dialog inside a component on the screen, as it is in the pane: running modally
    gives it the keyboard focus, which only a showing component can take. */
class NameAssignerOnScreen : public ::testing::Test
{
protected:
    NameAssignerOnScreen()
    {
        host.setSize (400, 120);
        host.addChildComponent (dialog);
        putOnScreen (host);
    }

    juce::Component host;
    NameAssigner dialog;
};
} // namespace

TEST_F (NameAssignerOnScreen, KeysAndButtonsEndTheModalLoop)
{
    const Answer answers[] = {
        { "Return", pressReturn(), NameAssigner::acceptedResult },
        { "Escape", pressEscape(), NameAssigner::cancelledResult },
        { "OK", clickOk(), NameAssigner::acceptedResult },
        { "Cancel", clickCancel(), NameAssigner::cancelledResult },
    };

    for (const auto& answer : answers)
    {
        SCOPED_TRACE (answer.description);
        dialog.showForEditing ("NewFolder", true);

        NameDialogOperator operatorAtTheDialog (dialog, { typeText ("Reports"), answer.step });
        const auto result = dialog.runModally();

        EXPECT_FALSE (operatorAtTheDialog.timedOut());
        EXPECT_EQ (result, answer.expectedResult);
        EXPECT_EQ (dialog.getEnteredText(), "Reports");
        EXPECT_FALSE (dialog.isVisible());
    }

    // The question's box is read-only; the same keys and buttons answer it.
    for (const auto& answer : answers)
    {
        SCOPED_TRACE (juce::String ("question, ") + answer.description);
        dialog.showAsQuestion ("Delete x?");

        NameDialogOperator operatorAtTheDialog (dialog, { typeKeys ("y"), answer.step });
        EXPECT_EQ (dialog.runModally(), answer.expectedResult);
        EXPECT_FALSE (operatorAtTheDialog.timedOut());
        EXPECT_EQ (dialog.getEnteredText(), "Delete x?");
    }
}

TEST_F (NameAssignerOnScreen, AcceptingAnEmptyBoxGivesAnEmptyText)
{
    dialog.showForEditing ("NewFolder", true);

    NameDialogOperator operatorAtTheDialog (dialog, { typeText ({}), pressReturn() });

    EXPECT_EQ (dialog.runModally(), NameAssigner::acceptedResult);
    EXPECT_EQ (dialog.getEnteredText(), juce::String());
}

TEST_F (NameAssignerOnScreen, TypingReplacesTheTextOnlyWhenAllIsSelectedOnFocus)
{
    dialog.showForEditing ("NewFolder", true);
    {
        NameDialogOperator operatorAtTheDialog (dialog, { focusNameBox(), typeKeys ("Reports"), pressReturn() });
        EXPECT_EQ (dialog.runModally(), NameAssigner::acceptedResult);
    }
    EXPECT_EQ (dialog.getEnteredText(), "Reports");

    dialog.showForEditing ("/mnt/nandfs/usr/a", false);
    {
        NameDialogOperator operatorAtTheDialog (dialog, { focusNameBox(), typeKeys ("b"), pressReturn() });
        EXPECT_EQ (dialog.runModally(), NameAssigner::acceptedResult);
    }
    EXPECT_TRUE (dialog.getEnteredText().contains ("/mnt/nandfs/usr/a"));
    EXPECT_EQ (dialog.getEnteredText().length(), juce::String ("/mnt/nandfs/usr/a").length() + 1);
}

TEST_F (NameAssignerOnScreen, LosingTheFocusDoesNotEndTheLoop)
{
    dialog.showForEditing ("/mnt/nandfs/usr/a", false);

    NameDialogOperator operatorAtTheDialog (dialog, {
        [] (NameAssigner& d) { nameBox (d).focusLost (juce::Component::focusChangedByMouseClick); },
        [] (NameAssigner&) {},     // one more tick, for the box's focus-loss message
        clickCancel(),
    });

    EXPECT_EQ (dialog.runModally(), NameAssigner::cancelledResult);
    EXPECT_EQ (operatorAtTheDialog.getStepsPlayed(), 3);
}

/* Closing the program posts a quit, which ends every modal loop for good; so the dialog
   runs in a process of its own, which tells its answer by its exit code. */
TEST (NameAssignerDeathTest, AQuitWhileTheDialogRunsIsNoAnswer)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    EXPECT_EXIT (
    {
        juce::Component host;
        NameAssigner dialog;
        host.setSize (400, 120);
        host.addChildComponent (dialog);
        putOnScreen (host);
        dialog.showForEditing ("NewFolder", true);

        juce::MessageManager::getInstance()->stopDispatchLoop();   // what the close button leads to
        const auto result = dialog.runModally();
        const bool leftModal = dialog.isCurrentlyModal (false);

        juce::File (juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {})).deleteRecursively();
        std::_Exit (result == NameAssigner::cancelledResult && ! leftModal ? 0 : 1);
    },
    testing::ExitedWithCode (0), "");
}

TEST (NameAssigner, TheQuestionCantBeEditedButANameCan)
{
    NameAssigner dialog;
    auto& box = nameBox (dialog);

    dialog.showAsQuestion ("Delete report.txt?");
    box.keyPressed (juce::KeyPress ('x', {}, 'x'));
    EXPECT_EQ (dialog.getEnteredText(), "Delete report.txt?");
    EXPECT_FALSE (box.isCaretVisible());

    dialog.showForEditing ("NewFolder", true);
    box.moveCaretToEnd();
    box.keyPressed (juce::KeyPress ('2', {}, '2'));
    EXPECT_EQ (dialog.getEnteredText(), "NewFolder2");
    EXPECT_TRUE (box.isCaretVisible());
}
