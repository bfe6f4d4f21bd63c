#pragma once

#include "device/DeviceRecord.h"

#include <memory>

/** Where device records are kept: a SQLite file on this host, or a PostgreSQL server that
    several hosts share. Every device job appends one record. */
class RecordStore
{
public:
    virtual ~RecordStore() = default;

    /** Opens the store that location names: empty -> the default SQLite file (defaultFile());
        "postgresql://..." or "postgres://..." -> a PostgreSQL server (libpq conninfo URI);
        anything else -> a SQLite file path (relative to the current folder). Connects at
        once, creates the schema when missing and checks/stores its version; nullptr with
        the reason in error when it can't (a server that can't be reached fails here, before
        any device is touched). */
    static std::unique_ptr<RecordStore> open (const juce::String& location, juce::String& error);

    /** True when location names a PostgreSQL server rather than a file. */
    static bool isServer (const juce::String& location);

    /** $XDG_DATA_HOME/usb-file-utility/records.sqlite (XDG default ~/.local/share) on Linux,
        %LOCALAPPDATA%\usb-file-utility\records.sqlite on Windows; the folder is made when missing. */
    static juce::File defaultFile();

    /** Appends one record in one transaction. May be called from several threads at once
        (a station's devices finish together). false with the reason in error. */
    virtual bool append (const DeviceRecord& record, juce::String& error) = 0;

    /** What find() looks for: records of one device (any spelling of its MAC address),
        started at or after a time, that failed. An empty address or Time() matches any. */
    struct Query { juce::String macAddress; juce::Time since; bool failedOnly = false; };
    /** The records that match, newest first. */
    virtual juce::Array<DeviceRecord> find (const Query& query, juce::String& error) = 0;

    /** Where it writes, for the log: the file, or the server's address without its password. */
    virtual juce::String describe() const = 0;
};
