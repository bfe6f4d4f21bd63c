// Records in a SQLite file. WAL mode lets readers work beside a writer and keeps every
// committed record when a process is killed; the busy timeout makes a second writer (another
// station on this host) wait for the lock rather than fail. Every record is one
// BEGIN IMMEDIATE ... COMMIT, so it is either wholly in the file or not at all.

#include "device/RecordStoreBackends.h"

#include <sqlite3.h>

#include <mutex>

namespace
{
    using namespace RecordRows;

    // How long a writer waits for another process's transaction before it gives up.
    constexpr int busyTimeoutMilliseconds = 15000;

    struct Statement
    {
        Statement() = default;
        Statement (const Statement&) = delete;
        Statement& operator= (const Statement&) = delete;
        ~Statement() { sqlite3_finalize (handle); }

        sqlite3_stmt* handle = nullptr;
    };

    class SqliteRecordStore final : public RecordStore
    {
    public:
        explicit SqliteRecordStore (const juce::File& f) : file (f) {}

        ~SqliteRecordStore() override
        {
            sqlite3_finalize (insert.handle);
            insert.handle = nullptr;
            sqlite3_close_v2 (db);
        }

        bool open (juce::String& error)
        {
            const auto path = file.getFullPathName();

            if (! file.getParentDirectory().isDirectory())
                return fail (error, "the folder " + file.getParentDirectory().getFullPathName() + " does not exist");

            // Our lock keeps a transaction to one thread; SQLite's serialised mode guards the rest.
            if (sqlite3_open_v2 (path.toRawUTF8(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK)
                return failed (error);

            sqlite3_busy_timeout (db, busyTimeoutMilliseconds);

            // Two processes opening a new file together both switch it to WAL; SQLite answers
            // the one that would have to wait for the other "busy" at once rather than waiting
            // (each holds a lock the other needs), so that one sets up again a moment later.
            const auto giveUp = juce::Time::getMillisecondCounterHiRes() + busyTimeoutMilliseconds;

            for (;;)
            {
                if (setUp (error))
                    return true;

                if (! busy || juce::Time::getMillisecondCounterHiRes() > giveUp)
                    return false;

                juce::Thread::sleep (20);
            }
        }

        bool setUp (juce::String& error)
        {
            busy = false;

            // Once switched, the file stays in WAL mode for every connection.
            juce::String mode;

            if (! queryText ("PRAGMA journal_mode=WAL", mode, error))
                return false;

            if (! mode.equalsIgnoreCase ("wal"))
                return fail (error, "the file can't be put in WAL mode (it is in " + mode + " mode)");

            // In WAL mode FULL syncs the log at every commit: a record that was committed
            // survives a power cut as well.
            return execute ("PRAGMA synchronous=FULL", error)
                && createSchema (error)
                && prepare (insertSql(), insert, error);
        }

        bool append (const DeviceRecord& record, juce::String& error) override
        {
            const std::lock_guard<std::mutex> hold (lock);

            if (! execute ("BEGIN IMMEDIATE", error))
                return false;

            sqlite3_reset (insert.handle);
            sqlite3_clear_bindings (insert.handle);
            int index = 1;

            for (auto& column : columns())
                bind (insert.handle, index++, column.get (record));

            if (sqlite3_step (insert.handle) != SQLITE_DONE)
            {
                failed (error);
                sqlite3_reset (insert.handle);
                rollBack();
                return false;
            }

            sqlite3_reset (insert.handle);

            if (! execute ("COMMIT", error))
            {
                rollBack();
                return false;
            }

            return true;
        }

        juce::Array<DeviceRecord> find (const Query& query, juce::String& error) override
        {
            const std::lock_guard<std::mutex> hold (lock);

            // The conditions are fixed texts; the values they compare with are bound.
            juce::StringArray conditions;

            if (query.macAddress.isNotEmpty())
                conditions.add ("mac_address = ?1");

            if (query.since != juce::Time())
                conditions.add ("time >= ?2");

            if (query.failedOnly)
                conditions.add ("passed = 0");

            auto sql = "SELECT " + columnList() + " FROM device_records";

            if (! conditions.isEmpty())
                sql << " WHERE " << conditions.joinIntoString (" AND ");

            sql << " ORDER BY time DESC, id DESC";

            Statement select;

            if (! prepare (sql, select, error))
                return {};

            if (query.macAddress.isNotEmpty())
                bind (select.handle, 1, canonicalMacAddress (query.macAddress));

            if (query.since != juce::Time())
                bind (select.handle, 2, timeToText (query.since));

            juce::Array<DeviceRecord> records;
            int result;

            while ((result = sqlite3_step (select.handle)) == SQLITE_ROW)
            {
                DeviceRecord record;
                int index = 0;

                for (auto& column : columns())
                {
                    column.set (record, value (select.handle, index, column.kind));
                    ++index;
                }

                records.add (record);
            }

            if (result != SQLITE_DONE)
            {
                failed (error);
                return {};
            }

            return records;
        }

        juce::String describe() const override
        {
            return file.getFullPathName();
        }

    private:
        static juce::String insertSql()
        {
            juce::StringArray placeholders;

            for (size_t i = 1; i <= columns().size(); ++i)
                placeholders.add ("?" + juce::String ((int) i));

            return "INSERT INTO device_records (" + columnList() + ") VALUES ("
                 + placeholders.joinIntoString (", ") + ")";
        }

        // The schema and its version, in one transaction so that two processes opening a new
        // file at once don't both create it.
        bool createSchema (juce::String& error)
        {
            juce::StringArray columnSql { "id INTEGER PRIMARY KEY AUTOINCREMENT" };

            for (auto& column : columns())
                columnSql.add (juce::String (column.name)
                               + (column.kind == Kind::integer || column.kind == Kind::boolean ? " INTEGER" : " TEXT")
                               + " NOT NULL");

            if (! execute ("BEGIN IMMEDIATE", error))
                return false;

            juce::String version;
            const auto created =
                   execute ("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", error)
                && queryText ("SELECT COALESCE(MAX(version), 0) FROM schema_version", version, error)
                && (version.getIntValue() <= schemaVersion
                    || fail (error, "it holds records of a newer version (" + version + ") than this program knows ("
                                    + juce::String (schemaVersion) + "); use a newer USB File Utility"))
                && (version.getIntValue() == schemaVersion
                    || run ("INSERT INTO schema_version (version) VALUES (?1)", { (juce::int64) schemaVersion }, error))
                && execute ("CREATE TABLE IF NOT EXISTS device_records (" + columnSql.joinIntoString (", ") + ")", error)
                && execute ("CREATE INDEX IF NOT EXISTS device_records_mac_address ON device_records (mac_address)", error)
                && execute ("CREATE INDEX IF NOT EXISTS device_records_time ON device_records (time)", error)
                && execute ("COMMIT", error);

            if (! created)
                rollBack();

            return created;
        }

        bool prepare (const juce::String& sql, Statement& statement, juce::String& error)
        {
            if (sqlite3_prepare_v2 (db, sql.toRawUTF8(), -1, &statement.handle, nullptr) == SQLITE_OK)
                return true;

            return failed (error);
        }

        bool execute (const juce::String& sql, juce::String& error)
        {
            if (sqlite3_exec (db, sql.toRawUTF8(), nullptr, nullptr, nullptr) == SQLITE_OK)
                return true;

            return failed (error);
        }

        bool run (const juce::String& sql, const juce::Array<juce::var>& values, juce::String& error)
        {
            Statement statement;

            if (! prepare (sql, statement, error))
                return false;

            for (int i = 0; i < values.size(); ++i)
                bind (statement.handle, i + 1, values[i]);

            return sqlite3_step (statement.handle) == SQLITE_DONE || failed (error);
        }

        bool queryText (const juce::String& sql, juce::String& text, juce::String& error)
        {
            Statement statement;

            if (! prepare (sql, statement, error))
                return false;

            if (sqlite3_step (statement.handle) != SQLITE_ROW)
                return failed (error);

            text = readText (statement.handle, 0);
            return true;
        }

        void rollBack()
        {
            if (! sqlite3_get_autocommit (db))
                sqlite3_exec (db, "ROLLBACK", nullptr, nullptr, nullptr);
        }

        static void bind (sqlite3_stmt* statement, int index, const juce::var& v)
        {
            if (v.isBool())
                sqlite3_bind_int (statement, index, (bool) v ? 1 : 0);
            else if (v.isInt() || v.isInt64())
                sqlite3_bind_int64 (statement, index, (juce::int64) v);
            else
                sqlite3_bind_text (statement, index, v.toString().toRawUTF8(), -1, SQLITE_TRANSIENT);
        }

        static juce::String readText (sqlite3_stmt* statement, int index)
        {
            const auto* text = reinterpret_cast<const char*> (sqlite3_column_text (statement, index));
            return juce::String::fromUTF8 (text, sqlite3_column_bytes (statement, index));
        }

        static juce::var value (sqlite3_stmt* statement, int index, Kind kind)
        {
            switch (kind)
            {
                case Kind::integer: return (juce::int64) sqlite3_column_int64 (statement, index);
                case Kind::boolean: return sqlite3_column_int (statement, index) != 0;
                case Kind::text:
                case Kind::time:    break;
            }

            return readText (statement, index);
        }

        juce::String lastError() const
        {
            return juce::String::fromUTF8 (db != nullptr ? sqlite3_errmsg (db) : "out of memory");
        }

        bool failed (juce::String& error)
        {
            const auto code = sqlite3_errcode (db) & 0xff;
            busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
            return fail (error, lastError());
        }

        bool fail (juce::String& error, const juce::String& reason) const
        {
            error = "Records file " + file.getFullPathName() + ": " + reason;
            return false;
        }

        const juce::File file;
        sqlite3* db = nullptr;
        Statement insert;
        std::mutex lock;
        bool busy = false;   // the last failure was another connection's lock
    };
}

std::unique_ptr<RecordStore> openSqliteRecordStore (const juce::File& file, juce::String& error)
{
    auto store = std::make_unique<SqliteRecordStore> (file);

    if (! store->open (error))
        return nullptr;

    return store;
}
