#pragma once

// What the SQLite and PostgreSQL record stores share: the table's columns, how a record
// becomes a row and back, and the functions that open each kind of store.

#include "device/RecordStore.h"

#include <vector>

namespace RecordRows
{
    /** The schema this code writes; a store holding a newer one is refused. */
    constexpr int schemaVersion = 1;

    /** How a column is stored. A row's values are juce::var: a String for text and time
        (ISO-8601 UTC with milliseconds, "2024-05-01T12:34:56.789Z", which sorts as text),
        an int64 for integer, a bool for boolean. */
    enum class Kind { text, integer, boolean, time };

    struct Column
    {
        const char* name;
        Kind kind;
        juce::var (*get) (const DeviceRecord&);
        void (*set) (DeviceRecord&, const juce::var&);
    };

    /** The columns of device_records after its id, in order: one per field of
        DeviceRecord, the steps as a JSON array. */
    const std::vector<Column>& columns();

    /** "time, host, user_name, ..." */
    juce::String columnList();

    /** A MAC address as the records hold it ("00-1A-2B-3C-4D-5E") whatever way it was
        written; other texts as they are. */
    juce::String canonicalMacAddress (const juce::String& text);

    juce::String timeToText (juce::Time time);
    juce::Time timeFromText (const juce::String& text);

    /** [{"name":…,"passed":…,"seconds":…,"detail":…}, …] */
    juce::String stepsToJson (const juce::Array<JobStep>& steps);
    juce::Array<JobStep> stepsFromJson (const juce::String& json);
}

std::unique_ptr<RecordStore> openSqliteRecordStore (const juce::File& file, juce::String& error);

#if USB_HAVE_POSTGRESQL
std::unique_ptr<RecordStore> openPostgresRecordStore (const juce::String& conninfo, juce::String& error);
#endif
