// The PostgreSQL record store against a real server: a private one on a temporary data
// folder and a free port, started for these tests and removed after them.

#include "RecordSamples.h"

#if USB_HAVE_POSTGRESQL

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{
    /** A TCP socket bound to a port of 127.0.0.1 that the system chose. Until something
        listens on it, connections to the port are refused. */
    struct BoundPort
    {
        BoundPort()
        {
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
            socklen_t length = sizeof (address);
            ::bind (fd, (sockaddr*) &address, sizeof (address));
            ::getsockname (fd, (sockaddr*) &address, &length);
            port = ntohs (address.sin_port);
        }

        ~BoundPort() { ::close (fd); }

        const int fd = ::socket (AF_INET, SOCK_STREAM, 0);
        int port = 0;
    };

    /** The first value sql gives on a database of the server, or the server's message. */
    juce::String querySql (const juce::String& uri, const juce::String& sql)
    {
        auto* connection = PQconnectdb (uri.toRawUTF8());
        auto* result = PQexec (connection, sql.toRawUTF8());
        const auto status = PQresultStatus (result);
        const auto text = status == PGRES_TUPLES_OK && PQntuples (result) > 0 ? juce::String::fromUTF8 (PQgetvalue (result, 0, 0))
                        : status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK ? juce::String()
                        : "error: " + juce::String::fromUTF8 (PQerrorMessage (connection));
        PQclear (result);
        PQfinish (connection);
        return text;
    }

    /** A PostgreSQL server of the machine's newest installed version, on a data folder of its
        own, listening on 127.0.0.1 with trust authentication and a socket in that folder.
        PostgreSQL refuses to run as root, so as root it runs as the postgres user. */
    class PrivateServer
    {
    public:
        ~PrivateServer()
        {
            if (running)
                pgCtl ({ "-m", "immediate", "stop" });
        }

        bool start (juce::String& error)
        {
            for (auto& version : juce::File ("/usr/lib/postgresql").findChildFiles (juce::File::findDirectories, false))
                if (version.getChildFile ("bin/initdb").existsAsFile() && version.getChildFile ("bin/pg_ctl").existsAsFile()
                     && version.getFileName().getIntValue() > programs.getParentDirectory().getFileName().getIntValue())
                    programs = version.getChildFile ("bin");

            if (programs == juce::File())
            {
                error = "PostgreSQL's server programs (/usr/lib/postgresql/VERSION/bin/initdb, pg_ctl) are missing: "
                        "run scripts/setup.sh";
                return false;
            }

            if (::geteuid() == 0)
            {
                const auto* user = ::getpwnam ("postgres");

                if (user == nullptr || ::chown (temp.folder.getFullPathName().toRawUTF8(), user->pw_uid, user->pw_gid) != 0)
                {
                    error = "There is no postgres user to run the server as: run scripts/setup.sh";
                    return false;
                }
            }

            port = BoundPort().port;
            const auto data = temp.folder.getChildFile ("data").getFullPathName();
            const auto log = temp.folder.getChildFile ("server.log");
            juce::String output;

            if (! run ({ programs.getChildFile ("initdb").getFullPathName(), "-D", data, "-A", "trust", "-U", "postgres",
                         "-E", "UTF8", "--locale=C", "--no-sync" }, output))
            {
                error = "initdb failed: " + output;
                return false;
            }

            running = pgCtl ({ "-l", log.getFullPathName(), "-w", "-t", "60",
                               "-o", "-p " + juce::String (port) + " -k " + temp.folder.getFullPathName()
                                         + " -c listen_addresses=127.0.0.1 -c fsync=off",
                               "start" }, &output);

            if (! running)
                error = "The server didn't start: " + output + "\n" + log.loadFileAsString().getLastCharacters (2000);

            return running;
        }

        juce::String uri (const juce::String& database, const juce::String& scheme = "postgresql",
                          const juce::String& password = {}) const
        {
            return scheme + "://postgres" + (password.isNotEmpty() ? ":" + password : juce::String())
                 + "@127.0.0.1:" + juce::String (port) + "/" + database;
        }

        int port = 0;

    private:
        bool pgCtl (juce::StringArray arguments, juce::String* output = nullptr)
        {
            juce::String ignored;
            arguments.insert (0, programs.getChildFile ("pg_ctl").getFullPathName());
            arguments.insert (1, "-D");
            arguments.insert (2, temp.folder.getChildFile ("data").getFullPathName());
            return run (arguments, output != nullptr ? *output : ignored);
        }

        bool run (juce::StringArray arguments, juce::String& output)
        {
            if (::geteuid() == 0)
            {
                juce::StringArray asPostgres { "runuser", "-u", "postgres", "--" };
                asPostgres.addArray (arguments);
                arguments = asPostgres;
            }

            // From a folder the postgres user may enter.
            const auto previous = juce::File::getCurrentWorkingDirectory();
            temp.folder.setAsCurrentWorkingDirectory();
            juce::ChildProcess process;
            const auto started = process.start (arguments);
            output = started ? process.readAllProcessOutput() : "can't start " + arguments.joinIntoString (" ");
            previous.setAsCurrentWorkingDirectory();
            return started && process.waitForProcessToFinish (120000) && process.getExitCode() == 0;
        }

        TempFolder temp;
        juce::File programs;
        bool running = false;
    };
}

/** Each test has a new database on the suite's server. */
class PostgresRecords : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<PrivateServer>();

        if (! server->start (startError))
            server.reset();
    }

    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override
    {
        if (server == nullptr)
            FAIL() << startError;

        database = juce::String (::testing::UnitTest::GetInstance()->current_test_info()->name()).toLowerCase();
        ASSERT_EQ (querySql (server->uri ("postgres"), "CREATE DATABASE " + database), "");
    }

    static inline std::unique_ptr<PrivateServer> server;
    static inline juce::String startError;
    juce::String database;
};

TEST_F (PostgresRecords, OpenCreatesTheSchemaOnceAndRefusesANewerOne)
{
    const auto location = server->uri (database, "postgresql", "s3cret");
    juce::String error;
    auto store = RecordStore::open (location, error);
    ASSERT_NE (store, nullptr) << error;
    EXPECT_EQ (store->describe(), "PostgreSQL postgres@127.0.0.1:" + juce::String (server->port) + "/" + database);

    const auto versions = "SELECT string_agg(version::text, ',') FROM schema_version";
    EXPECT_EQ (querySql (location, versions), "1");
    EXPECT_EQ (querySql (location, "SELECT count(*) FROM device_records"), "0");

    auto again = RecordStore::open (location, error);
    ASSERT_NE (again, nullptr) << error;
    EXPECT_EQ (querySql (location, versions), "1");

    // A database a newer version of the program set up is left alone.
    EXPECT_EQ (querySql (location, "UPDATE schema_version SET version = 2"), "");
    EXPECT_EQ (RecordStore::open (location, error), nullptr);
    EXPECT_TRUE (error.contains ("newer version (2)")) << error;
    EXPECT_FALSE (error.contains ("s3cret")) << error;
}

TEST_F (PostgresRecords, RecordsRoundTripFromSeveralThreads)
{
    juce::String error;
    auto store = RecordStore::open (server->uri (database, "postgres"), error);
    ASSERT_NE (store, nullptr) << error;
    expectAppendAndFind (*store);

    std::vector<std::thread> threads;

    for (int t = 0; t < 4; ++t)
        threads.emplace_back ([&store, t]
        {
            juce::String appendError;

            for (int n = 0; n < 25; ++n)
                EXPECT_TRUE (store->append (sampleRecord ("t" + juce::String (t), n), appendError)) << appendError;
        });

    for (auto& thread : threads)
        thread.join();

    const auto all = store->find ({}, error);
    ASSERT_EQ (all.size(), 103) << error;

    for (auto& r : all)
        if (r.slot.startsWithChar ('t'))
            expectSameRecord (r, sampleRecord (sampleSeries (r), sampleNumber (r)));
}

TEST (PostgresRecordStore, AServerThatCantBeReachedFailsOpen)
{
    const BoundPort refusing;
    juce::String error;
    EXPECT_EQ (RecordStore::open ("postgresql://postgres@127.0.0.1:" + juce::String (refusing.port) + "/records", error), nullptr);
    EXPECT_TRUE (error.contains (":" + juce::String (refusing.port))) << error;

    // libpq's complaint about an address it can't read quotes the address; the password stays out.
    EXPECT_EQ (RecordStore::open ("postgresql://postgres:s3cret@[not an address/records", error), nullptr);
    EXPECT_TRUE (error.contains ("address can't be read")) << error;
    EXPECT_FALSE (error.contains ("s3cret")) << error;
}

#else

TEST (PostgresRecordStore, IsInThisBuild)
{
    FAIL() << "This build has no PostgreSQL records (libpq-dev was missing when it was configured): "
              "run scripts/setup.sh and configure again";
}

#endif
