// Records on a PostgreSQL server that the stations of a site share. One connection per
// store, used by one thread at a time; every value goes to the server as a parameter.

#include "device/RecordStoreBackends.h"

#include <libpq-fe.h>

#include <mutex>
#include <string>

namespace
{
    using namespace RecordRows;

    // Any number, the same for every copy of the program: the lock that keeps two of them
    // from creating the schema at the same moment.
    constexpr const char* schemaLockKey = "6120704051";

    struct ResultDeleter { void operator() (PGresult* r) const { PQclear (r); } };
    using Result = std::unique_ptr<PGresult, ResultDeleter>;

    /** The server as "PostgreSQL user@host:port/database", without the password. */
    juce::String describeConninfo (const juce::String& conninfo, juce::String& parseError)
    {
        char* message = nullptr;
        auto* options = PQconninfoParse (conninfo.toRawUTF8(), &message);

        if (options == nullptr)
        {
            // libpq quotes the URI, which may hold a password.
            parseError = message != nullptr ? juce::String::fromUTF8 (message).trim().replace (conninfo, "...")
                                            : "out of memory";
            PQfreemem (message);
            return {};
        }

        juce::String host, port, database, user;

        for (auto* option = options; option->keyword != nullptr; ++option)
        {
            const auto keyword = juce::String (option->keyword);
            const auto value = juce::String::fromUTF8 (option->val != nullptr ? option->val : "");

            if (keyword == "host")          host = value;
            else if (keyword == "port")     port = value;
            else if (keyword == "dbname")   database = value;
            else if (keyword == "user")     user = value;
        }

        PQconninfoFree (options);

        auto text = juce::String ("PostgreSQL ");

        if (user.isNotEmpty())
            text << user << "@";

        text << (host.isNotEmpty() ? host : "localhost");

        if (port.isNotEmpty())
            text << ":" << port;

        if (database.isNotEmpty())
            text << "/" << database;

        return text;
    }

    class PostgresRecordStore final : public RecordStore
    {
    public:
        explicit PostgresRecordStore (const juce::String& d) : description (d) {}

        ~PostgresRecordStore() override
        {
            PQfinish (connection);
        }

        bool open (const juce::String& conninfo, juce::String& error)
        {
            // The URI's own settings win over the connect timeout given before it; the
            // encoding given after it is what this code sends and reads.
            const char* keywords[] = { "connect_timeout", "dbname", "client_encoding", nullptr };
            const char* values[] = { "10", conninfo.toRawUTF8(), "UTF8", nullptr };
            connection = PQconnectdbParams (keywords, values, 1);

            if (connection == nullptr)
                return fail (error, "out of memory");

            if (PQstatus (connection) != CONNECTION_OK)
                return fail (error, lastError());

            // The server's notices ("relation already exists, skipping") would go to stderr.
            PQsetNoticeProcessor (connection, [] (void*, const char*) {}, nullptr);
            return createSchema (error);
        }

        bool append (const DeviceRecord& record, juce::String& error) override
        {
            const std::lock_guard<std::mutex> hold (lock);

            if (! reconnect (error))
                return false;

            juce::StringArray placeholders;
            juce::Array<juce::var> values;

            for (auto& column : columns())
            {
                values.add (column.get (record));
                placeholders.add ("$" + juce::String (values.size()) + (column.kind == Kind::time ? "::timestamptz" : ""));
            }

            // One statement, so one transaction of its own.
            return run ("INSERT INTO device_records (" + columnList() + ") VALUES ("
                            + placeholders.joinIntoString (", ") + ")",
                        values, PGRES_COMMAND_OK, error) != nullptr;
        }

        juce::Array<DeviceRecord> find (const Query& query, juce::String& error) override
        {
            const std::lock_guard<std::mutex> hold (lock);

            if (! reconnect (error))
                return {};

            // The conditions are fixed texts; the values they compare with are parameters.
            juce::StringArray conditions;
            juce::Array<juce::var> values;

            if (query.macAddress.isNotEmpty())
            {
                values.add (canonicalMacAddress (query.macAddress));
                conditions.add ("mac_address = $" + juce::String (values.size()));
            }

            if (query.since != juce::Time())
            {
                values.add (timeToText (query.since));
                conditions.add ("time >= $" + juce::String (values.size()) + "::timestamptz");
            }

            if (query.failedOnly)
                conditions.add ("NOT passed");

            // The time is read back as the same ISO-8601 UTC text that was written.
            juce::StringArray selected;

            for (auto& column : columns())
                selected.add (column.kind == Kind::time
                                ? "to_char(" + juce::String (column.name)
                                      + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')"
                                : juce::String (column.name));

            auto sql = "SELECT " + selected.joinIntoString (", ") + " FROM device_records";

            if (! conditions.isEmpty())
                sql << " WHERE " << conditions.joinIntoString (" AND ");

            sql << " ORDER BY time DESC, id DESC";

            auto result = run (sql, values, PGRES_TUPLES_OK, error);

            if (result == nullptr)
                return {};

            juce::Array<DeviceRecord> records;

            for (int row = 0; row < PQntuples (result.get()); ++row)
            {
                DeviceRecord record;
                int index = 0;

                for (auto& column : columns())
                {
                    const auto text = juce::String::fromUTF8 (PQgetvalue (result.get(), row, index),
                                                              PQgetlength (result.get(), row, index));
                    column.set (record, column.kind == Kind::integer ? juce::var (text.getLargeIntValue())
                                      : column.kind == Kind::boolean ? juce::var (text == "t")
                                      : juce::var (text));
                    ++index;
                }

                records.add (record);
            }

            return records;
        }

        juce::String describe() const override
        {
            return description;
        }

    private:
        // The schema and its version in one transaction, under a lock that every copy of the
        // program takes, so that two stations starting together don't both create it.
        bool createSchema (juce::String& error)
        {
            juce::StringArray columnSql { "id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY" };

            for (auto& column : columns())
            {
                const char* type = column.kind == Kind::integer ? " BIGINT"
                                 : column.kind == Kind::boolean ? " BOOLEAN"
                                 : column.kind == Kind::time    ? " TIMESTAMPTZ"
                                                                : " TEXT";
                columnSql.add (juce::String (column.name) + type + " NOT NULL");
            }

            if (run ("BEGIN", {}, PGRES_COMMAND_OK, error) == nullptr)
                return false;

            Result version;
            const auto created =
                   run ("SELECT pg_advisory_xact_lock($1)", { schemaLockKey }, PGRES_TUPLES_OK, error) != nullptr
                && run ("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {}, PGRES_COMMAND_OK, error) != nullptr
                && (version = run ("SELECT COALESCE(MAX(version), 0) FROM schema_version", {}, PGRES_TUPLES_OK, error)) != nullptr
                && checkVersion (juce::String (PQgetvalue (version.get(), 0, 0)).getIntValue(), error)
                && run ("CREATE TABLE IF NOT EXISTS device_records (" + columnSql.joinIntoString (", ") + ")",
                        {}, PGRES_COMMAND_OK, error) != nullptr
                && run ("CREATE INDEX IF NOT EXISTS device_records_mac_address ON device_records (mac_address)",
                        {}, PGRES_COMMAND_OK, error) != nullptr
                && run ("CREATE INDEX IF NOT EXISTS device_records_time ON device_records (time)",
                        {}, PGRES_COMMAND_OK, error) != nullptr
                && run ("COMMIT", {}, PGRES_COMMAND_OK, error) != nullptr;

            if (! created)
                PQclear (PQexec (connection, "ROLLBACK"));

            return created;
        }

        bool checkVersion (int version, juce::String& error)
        {
            if (version > schemaVersion)
                return fail (error, "it holds records of a newer version (" + juce::String (version)
                                    + ") than this program knows (" + juce::String (schemaVersion)
                                    + "); use a newer USB File Utility");

            return version == schemaVersion
                || run ("INSERT INTO schema_version (version) VALUES ($1)", { schemaVersion },
                        PGRES_COMMAND_OK, error) != nullptr;
        }

        /** Runs one statement with its values as text parameters; nullptr (and the server's
            message in error) unless the result has the status expected. */
        Result run (const juce::String& sql, const juce::Array<juce::var>& values,
                    ExecStatusType expected, juce::String& error)
        {
            std::vector<std::string> texts;

            for (auto& v : values)
                texts.push_back (v.isBool() ? ((bool) v ? "true" : "false") : v.toString().toStdString());

            std::vector<const char*> pointers;

            for (auto& text : texts)
                pointers.push_back (text.c_str());

            Result result (PQexecParams (connection, sql.toRawUTF8(), (int) pointers.size(), nullptr,
                                         pointers.data(), nullptr, nullptr, 0));

            if (result == nullptr || PQresultStatus (result.get()) != expected)
            {
                const auto message = result != nullptr ? oneLine (PQresultErrorMessage (result.get())) : juce::String();
                fail (error, message.isNotEmpty() ? message : lastError());
                return nullptr;
            }

            return result;
        }

        // A connection the server dropped (a restart, a network outage) is made again once.
        bool reconnect (juce::String& error)
        {
            if (PQstatus (connection) == CONNECTION_OK)
                return true;

            PQreset (connection);
            return PQstatus (connection) == CONNECTION_OK || fail (error, lastError());
        }

        // libpq's messages may span lines ("\n\tIs the server running ...", "DETAIL: ...").
        static juce::String oneLine (const char* message)
        {
            auto lines = juce::StringArray::fromLines (juce::String::fromUTF8 (message));
            lines.trim();
            lines.removeEmptyStrings();
            return lines.joinIntoString (" ");
        }

        juce::String lastError() const
        {
            return oneLine (PQerrorMessage (connection));
        }

        bool fail (juce::String& error, const juce::String& reason) const
        {
            error = "Records server " + description + ": " + reason;
            return false;
        }

        const juce::String description;
        PGconn* connection = nullptr;
        std::mutex lock;
    };
}

std::unique_ptr<RecordStore> openPostgresRecordStore (const juce::String& conninfo, juce::String& error)
{
    juce::String parseError;
    const auto description = describeConninfo (conninfo, parseError);

    if (description.isEmpty())
    {
        error = "The records server's address can't be read: " + parseError;
        return nullptr;
    }

    auto store = std::make_unique<PostgresRecordStore> (description);

    if (! store->open (conninfo, error))
        return nullptr;

    return store;
}
