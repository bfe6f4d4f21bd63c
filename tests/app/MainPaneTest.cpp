#include "app/ConnectionPane.h"
#include "app/MainPane.h"
#include "app/StandardErrorEcho.h"
#include "support/ComponentSearch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace
{
const juce::String versionLine ("USB File Utility " USB_FILE_UTILITY_VERSION);

/** The log as lines, after the version line it starts with. */
juce::StringArray logLines (MainPane& pane)
{
    juce::StringArray lines;
    lines.addLines (pane.getLogEditor().getText());
    lines.removeEmptyStrings();

    if (lines[0] == versionLine)
        lines.remove (0);

    return lines;
}

/** Calls f on another thread (as the client's thread calls the pane) while the message
    loop runs, so that the line can be shown. */
template <typename Function>
void onOtherThread (Function&& f)
{
    std::atomic<bool> done { false };
    std::thread other ([&] { f(); done = true; });
    EXPECT_TRUE (dispatchUntil ([&] { return done.load(); }));
    other.join();
}
} // namespace

TEST (MainPane, LayoutFollowsTheHeight)
{
    MainPane pane;
    pane.setSize (500, 300);

    EXPECT_EQ (pane.getLogEditor().getBounds(), juce::Rectangle<int> (16, 178, 468, 106));
    EXPECT_EQ (pane.getTabs().getBounds(), juce::Rectangle<int> (8, 8, 484, 154));
}

TEST (MainPane, TheFileSystemTabIsAvailableOnlyWhileConnected)
{
    MainPane pane;
    auto& tabs = pane.getTabs();

    ASSERT_EQ (tabs.getNumTabs(), 3);
    EXPECT_EQ (tabs.getTabNames(), juce::StringArray ({ "Connection", "File System", "Station" }));
    EXPECT_EQ (tabs.getCurrentTabIndex(), 0);
    EXPECT_TRUE (tabs.getTabbedButtonBar().getTabButton (0)->isEnabled());
    EXPECT_FALSE (tabs.getTabbedButtonBar().getTabButton (1)->isEnabled());
    EXPECT_TRUE (tabs.getTabbedButtonBar().getTabButton (2)->isEnabled());

    pane.setConnected();
    EXPECT_TRUE (tabs.getTabbedButtonBar().getTabButton (1)->isEnabled());

    tabs.setCurrentTabIndex (1);
    pane.setDisconnected();
    EXPECT_EQ (tabs.getCurrentTabIndex(), 0);
    EXPECT_FALSE (tabs.getTabbedButtonBar().getTabButton (1)->isEnabled());
    EXPECT_TRUE (tabs.getTabbedButtonBar().getTabButton (2)->isEnabled());
}

TEST (MainPane, InstallsItselfAsTheLoggerAndLeavesTheSlotWhenDestroyed)
{
    {
        MainPane pane;
        EXPECT_EQ (ILogger::instance(), &pane);
        EXPECT_TRUE (pane.getLogEditor().getText().startsWith (versionLine + "\n"));
        logLine ("first");
        logLine ("second");
        EXPECT_EQ (logLines (pane), juce::StringArray ({ "first", "second" }));
    }

    EXPECT_EQ (ILogger::instance(), nullptr);
}

namespace
{
/** Whether the log shows the line, asked on the message thread from any other thread. */
bool isShown (MainPane& pane, const juce::String& line)
{
    struct Query { MainPane& pane; const juce::String& line; } query { pane, line };

    return juce::MessageManager::getInstance()->callFunctionOnMessageThread ([] (void* context) -> void*
    {
        auto& q = *static_cast<Query*> (context);
        return q.pane.getLogEditor().getText().contains (q.line) ? context : nullptr;
    }, &query) != nullptr;
}
} // namespace

TEST (MainPane, LinesFromOtherThreadsAreShownWholeAndEachWaitsForItsLine)
{
    MainPane pane;
    constexpr int linesPerThread = 150;
    std::atomic<int> finished { 0 };

    auto writer = [&] (const juce::String& prefix)
    {
        for (int i = 0; i < linesPerThread; ++i)
        {
            const auto line = prefix + juce::String (i) + juce::String::repeatedString ("x", 40);
            pane.log (line);
            // log returns only once the message thread has shown the line. The editor is
            // looked at on the message thread, which may be adding another thread's line.
            EXPECT_TRUE (isShown (pane, line)) << line;
        }
        ++finished;
    };

    std::thread a (writer, juce::String ("a")), b (writer, juce::String ("b"));
    EXPECT_TRUE (dispatchUntil ([&] { return finished == 2; }, 60000));
    a.join();
    b.join();

    const auto lines = logLines (pane);
    ASSERT_EQ (lines.size(), 2 * linesPerThread);

    for (const auto& line : lines)
    {
        EXPECT_TRUE (line.startsWithChar ('a') || line.startsWithChar ('b')) << line;
        EXPECT_TRUE (line.endsWith (juce::String::repeatedString ("x", 40))) << line;
    }
}

TEST (MainPane, NotificationsAreLoggedInTheirFormats)
{
    MainPane pane;

    onOtherThread ([&]
    {
        pane.onEvent (5, 0x100000002LL);
        pane.onEvent (-1, -9);
        pane.onPropertyValueChanged ({ 1, 2 }, -32768, -5);
        pane.onPropertyTextChanged ({}, 7, "device text");
    });

    EXPECT_EQ (logLines (pane), juce::StringArray ({ "Event 5, arg 2.", "Event -1, arg -9.",
                                                     "Prop 32768: value -5.", "Prop 7:", "device text" }));
}

TEST (MainPane, EveryLineAlsoGoesToStandardError)
{
    MainPane pane;
    ASSERT_TRUE (StandardErrorEcho::drain (10000));   // the version line, written as the pane starts
    testing::internal::CaptureStderr();
    pane.log ("Successfully opened port");
    pane.log ("Closing Port.");
    EXPECT_TRUE (StandardErrorEcho::drain (10000));
    EXPECT_EQ (testing::internal::GetCapturedStderr(), "Successfully opened port\nClosing Port.\n");
}

TEST (MainPane, AStandardErrorThatNobodyReadsHoldsNothingUp)
{
    // Standard error becomes a pipe that is read only once logging is over, or after
    // 15 s should logging wait for it (then the test ends, and fails).
    int pipeEnds[2];
    ASSERT_EQ (pipe (pipeEnds), 0);
    fcntl (pipeEnds[1], F_SETPIPE_SZ, 4096);    // its smallest, so that it fills soon
    const int savedStandardError = dup (STDERR_FILENO);
    dup2 (pipeEnds[1], STDERR_FILENO);

    std::atomic<bool> loggingDone { false }, hadToRead { false };
    std::string received;
    std::thread reader ([&]
    {
        for (int waited = 0; ! loggingDone && waited < 15000; waited += 10)
            juce::Thread::sleep (10);

        hadToRead = ! loggingDone;
        char buffer[4096];

        for (ssize_t got; (got = read (pipeEnds[0], buffer, sizeof (buffer))) > 0;)
            received.append (buffer, (size_t) got);
    });

    // Far more than the pipe holds, from the message thread and from another.
    constexpr int linesEach = 700;
    const auto line = [] (const char* writer, int i) { return writer + juce::String (i) + juce::String::repeatedString ("x", 40); };
    {
        MainPane pane;
        std::atomic<bool> otherDone { false };
        std::thread other ([&]
        {
            for (int i = 0; i < linesEach; ++i)
                pane.log (line ("other ", i));

            otherDone = true;
        });

        for (int i = 0; i < linesEach; ++i)
            pane.log (line ("gui ", i));

        EXPECT_TRUE (dispatchUntil ([&] { return otherDone.load(); }, 30000));
        other.join();
        loggingDone = true;
        EXPECT_EQ (logLines (pane).size(), 2 * linesEach);
    }

    EXPECT_FALSE (hadToRead) << "logging waited for standard error";
    EXPECT_TRUE (StandardErrorEcho::drain (10000));
    dup2 (savedStandardError, STDERR_FILENO);
    close (savedStandardError);
    close (pipeEnds[1]);
    reader.join();
    close (pipeEnds[0]);

    // The lines the pipe took came whole; the rest were counted.
    juce::StringArray lines;
    lines.addLines (juce::String (received));
    lines.removeEmptyStrings();
    int counts = 0;

    for (const auto& written : lines)
    {
        if (written.endsWith (" log lines were not written to standard error"))
            ++counts;
        else
            EXPECT_TRUE (written == versionLine
                         || ((written.startsWith ("gui ") || written.startsWith ("other "))
                             && written.endsWith (juce::String::repeatedString ("x", 40)))) << written;
    }

    EXPECT_GT (lines.size(), 100);
    EXPECT_GE (counts, 1);
}
