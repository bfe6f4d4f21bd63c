// The SQLite record store on real files, written by real processes at once, one of them
// killed in the middle of its work.

#include "RecordSamples.h"

#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <set>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    /** The first column of the first row sql gives on the file, through SQLite itself. */
    juce::String querySqlite (const juce::File& file, const char* sql)
    {
        sqlite3* db = nullptr;
        sqlite3_stmt* statement = nullptr;
        juce::String text;

        if (sqlite3_open_v2 (file.getFullPathName().toRawUTF8(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
             && sqlite3_prepare_v2 (db, sql, -1, &statement, nullptr) == SQLITE_OK)
        {
            const auto result = sqlite3_step (statement);
            text = result == SQLITE_ROW ? juce::String::fromUTF8 ((const char*) sqlite3_column_text (statement, 0))
                 : result == SQLITE_DONE ? juce::String() : juce::String::fromUTF8 (sqlite3_errmsg (db));
        }
        else
        {
            text = juce::String::fromUTF8 (sqlite3_errmsg (db));
        }

        sqlite3_finalize (statement);
        sqlite3_close (db);
        return text;
    }

    /** Runs body in a child process, which exits with 0 when body returns true. */
    pid_t runInChild (const std::function<bool()>& body)
    {
        const auto pid = ::fork();

        if (pid == 0)
            ::_exit (body() ? 0 : 1);

        return pid;
    }

    int exitCodeOf (pid_t pid)
    {
        int status = 0;
        ::waitpid (pid, &status, 0);
        return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    }

    bool appendOrSay (RecordStore& store, const DeviceRecord& record)
    {
        juce::String error;

        if (store.append (record, error))
            return true;

        std::fprintf (stderr, "append: %s\n", error.toRawUTF8());
        return false;
    }
}

TEST (SqliteRecordStore, RecordsRoundTripInAWalFileThatOpensAgain)
{
    TempFolder temp;
    const auto file = temp.folder.getChildFile ("records.sqlite");
    juce::String error;

    {
        auto store = RecordStore::open (file.getFullPathName(), error);
        ASSERT_NE (store, nullptr) << error;
        EXPECT_EQ (store->describe(), file.getFullPathName());
        expectAppendAndFind (*store);
    }

    EXPECT_EQ (querySqlite (file, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ (querySqlite (file, "SELECT group_concat(version) FROM schema_version"), "1");

    auto again = RecordStore::open (file.getFullPathName(), error);
    ASSERT_NE (again, nullptr) << error;
    EXPECT_EQ (again->find ({}, error).size(), 3);
    again.reset();

    // A file a newer version of the program wrote is left alone.
    EXPECT_EQ (querySqlite (file, "UPDATE schema_version SET version = 2"), "");
    EXPECT_EQ (RecordStore::open (file.getFullPathName(), error), nullptr);
    EXPECT_TRUE (error.contains ("newer version (2)")) << error;
}

TEST (SqliteRecordStore, LocationsNameTheFile)
{
    TempFolder temp;
    juce::String error;

    // No location: records.sqlite in the XDG data folder, which is made.
    const auto previousData = juce::SystemStats::getEnvironmentVariable ("XDG_DATA_HOME", {});
    ::setenv ("XDG_DATA_HOME", temp.folder.getChildFile ("data").getFullPathName().toRawUTF8(), 1);
    const auto expected = temp.folder.getChildFile ("data/usb-file-utility/records.sqlite");
    EXPECT_EQ (RecordStore::defaultFile(), expected);
    EXPECT_NE (RecordStore::open ({}, error), nullptr) << error;
    EXPECT_TRUE (expected.existsAsFile());
    ::setenv ("XDG_DATA_HOME", previousData.toRawUTF8(), 1);

    // A relative path is taken from the current folder.
    const auto previousFolder = juce::File::getCurrentWorkingDirectory();
    temp.folder.setAsCurrentWorkingDirectory();
    auto store = RecordStore::open ("here.sqlite", error);
    previousFolder.setAsCurrentWorkingDirectory();
    ASSERT_NE (store, nullptr) << error;
    EXPECT_EQ (store->describe(), temp.folder.getChildFile ("here.sqlite").getFullPathName());

    // A folder that isn't there, or a file that isn't a database, fails at once.
    EXPECT_EQ (RecordStore::open (temp.folder.getChildFile ("missing/r.sqlite").getFullPathName(), error), nullptr);
    EXPECT_TRUE (error.contains ("does not exist")) << error;
    const auto text = temp.folder.getChildFile ("notes.txt");
    text.replaceWithText (juce::String::repeatedString ("not a database\n", 100));
    EXPECT_EQ (RecordStore::open (text.getFullPathName(), error), nullptr);
    EXPECT_TRUE (error.contains (text.getFullPathName())) << error;
}

TEST (SqliteRecordStore, ProcessesWritingAtOnceLoseNothingAndAKilledOneLeavesWholeRecords)
{
    TempFolder temp;
    const auto path = temp.folder.getChildFile ("records.sqlite").getFullPathName();

    // Two processes open the new file together, and each appends from two threads at once.
    int gate[2];
    ASSERT_EQ (::pipe (gate), 0);
    std::vector<pid_t> writers;

    for (int p = 0; p < 2; ++p)
    {
        writers.push_back (runInChild ([&gate, &path, p]
        {
            char c;
            ::close (gate[1]);
            [[maybe_unused]] auto ignored = ::read (gate[0], &c, 1);   // returns when the parent closes its end
            juce::String error;
            auto store = RecordStore::open (path, error);

            if (store == nullptr)
            {
                std::fprintf (stderr, "open: %s\n", error.toRawUTF8());
                return false;
            }

            std::atomic<bool> ok { true };
            std::vector<std::thread> threads;

            for (int t = 0; t < 2; ++t)
                threads.emplace_back ([&, t]
                {
                    const auto series = "p" + juce::String (p) + "t" + juce::String (t);

                    for (int n = 0; n < 100 && ok; ++n)
                        ok = appendOrSay (*store, sampleRecord (series, n));
                });

            for (auto& thread : threads)
                thread.join();

            return ok.load();
        }));
    }

    ::close (gate[0]);
    ::close (gate[1]);

    for (auto pid : writers)
        EXPECT_EQ (exitCodeOf (pid), 0);

    juce::String error;
    auto store = RecordStore::open (path, error);
    ASSERT_NE (store, nullptr) << error;
    const auto all = store->find ({}, error);
    ASSERT_EQ (all.size(), 400) << error;
    std::set<juce::String> slots;

    for (auto& r : all)
    {
        slots.insert (r.slot);
        expectSameRecord (r, sampleRecord (sampleSeries (r), sampleNumber (r)));
    }

    EXPECT_EQ (slots.size(), 400u);
    store.reset();

    // A process appending in a loop is killed; it says after each append that it has returned.
    int said[2];
    ASSERT_EQ (::pipe (said), 0);
    const auto killed = runInChild ([&said, &path]
    {
        ::close (said[0]);
        juce::String error;
        auto killedStore = RecordStore::open (path, error);

        for (int n = 0; killedStore != nullptr && appendOrSay (*killedStore, sampleRecord ("k", n)); ++n)
            if (::write (said[1], "+", 1) != 1)
                return false;

        return false;
    });
    ::close (said[1]);

    int committed = 0;
    char c;

    while (committed < 50 && ::read (said[0], &c, 1) == 1)
        ++committed;

    ::kill (killed, SIGKILL);

    while (::read (said[0], &c, 1) == 1)
        ++committed;

    ::close (said[0]);
    EXPECT_EQ (exitCodeOf (killed), -1);
    ASSERT_GE (committed, 50);

    EXPECT_EQ (querySqlite (juce::File (path), "PRAGMA integrity_check"), "ok");
    store = RecordStore::open (path, error);
    ASSERT_NE (store, nullptr) << error;
    juce::Array<DeviceRecord> series;

    for (auto& r : store->find ({}, error))
        if (r.slot.startsWith ("k-"))
            series.add (r);

    // Every record it had appended, and none torn: numbers 0 to the last, newest first.
    ASSERT_GE (series.size(), committed);

    for (int i = 0; i < series.size(); ++i)
    {
        EXPECT_EQ (sampleNumber (series[i]), series.size() - 1 - i);
        expectSameRecord (series[i], sampleRecord ("k", sampleNumber (series[i])));
    }
}
