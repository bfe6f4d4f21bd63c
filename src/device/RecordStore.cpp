#include "device/RecordStore.h"

#include "device/MacAddress.h"
#include "device/RecordStoreBackends.h"
#include "remotefs/HostPaths.h"

#include <ctime>
#include <type_traits>
#include <utility>

bool RecordStore::isServer (const juce::String& location)
{
    return location.startsWithIgnoreCase ("postgresql://") || location.startsWithIgnoreCase ("postgres://");
}

std::unique_ptr<RecordStore> RecordStore::open (const juce::String& location, juce::String& error)
{
    if (isServer (location))
    {
       #if USB_HAVE_POSTGRESQL
        return openPostgresRecordStore (location, error);
       #else
        error = "PostgreSQL records are not available in this build";
        return nullptr;
       #endif
    }

    return openSqliteRecordStore (location.isEmpty() ? defaultFile() : resolveLocalPath (location), error);
}

juce::File RecordStore::defaultFile()
{
   #if JUCE_WINDOWS
    const auto data = juce::File::getSpecialLocation (juce::File::windowsLocalAppData);
   #else
    // XDG: $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    auto data = juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile (".local/share");
    const auto xdg = juce::SystemStats::getEnvironmentVariable ("XDG_DATA_HOME", {});

    if (juce::File::isAbsolutePath (xdg))
        data = juce::File (xdg);
   #endif

    const auto folder = data.getChildFile ("usb-file-utility");
    folder.createDirectory();
    return folder.getChildFile ("records.sqlite");
}

namespace RecordRows
{
    /** A column that holds one field as it is: a text, a number or a flag. */
    template <auto field>
    Column plain (const char* name)
    {
        using Type = std::remove_reference_t<decltype (std::declval<DeviceRecord&>().*field)>;
        constexpr auto kind = std::is_same_v<Type, juce::String> ? Kind::text
                            : std::is_same_v<Type, bool>         ? Kind::boolean
                                                                 : Kind::integer;
        return { name, kind,
                 [] (const DeviceRecord& r)
                 {
                     if constexpr (kind == Kind::integer)
                         return juce::var ((juce::int64) (r.*field));
                     else
                         return juce::var (r.*field);
                 },
                 [] (DeviceRecord& r, const juce::var& v)
                 {
                     if constexpr (kind == Kind::text)
                         r.*field = v.toString();
                     else
                         r.*field = static_cast<Type> (v);
                 } };
    }

    const std::vector<Column>& columns()
    {
        using R = DeviceRecord;
        static const std::vector<Column> list {
            { "time", Kind::time,
              [] (const R& r) { return juce::var (timeToText (r.time)); },
              [] (R& r, const juce::var& v) { r.time = timeFromText (v.toString()); } },
            plain<&R::host> ("host"),
            plain<&R::user> ("user_name"),
            plain<&R::toolVersion> ("tool_version"),
            plain<&R::job> ("job"),
            plain<&R::slot> ("slot"),
            plain<&R::port> ("port"),
            plain<&R::usbSerial> ("usb_serial"),
            plain<&R::identified> ("identified"),
            plain<&R::familyId> ("family_id"),
            plain<&R::deviceId> ("device_id"),
            plain<&R::protocolVersion> ("protocol_version"),
            plain<&R::firmwareVersion> ("firmware_version"),
            plain<&R::firstText> ("first_text"),
            plain<&R::secondText> ("second_text"),
            plain<&R::macAddress> ("mac_address"),
            plain<&R::imageName> ("image_name"),
            plain<&R::imageSize> ("image_size"),
            plain<&R::imageSha256> ("image_sha256"),
            plain<&R::verified> ("verified"),
            { "steps", Kind::text,
              [] (const R& r) { return juce::var (stepsToJson (r.steps)); },
              [] (R& r, const juce::var& v) { r.steps = stepsFromJson (v.toString()); } },
            plain<&R::passed> ("passed"),
            plain<&R::error> ("error"),
        };
        return list;
    }

    juce::String columnList()
    {
        juce::StringArray names;

        for (auto& column : columns())
            names.add (column.name);

        return names.joinIntoString (", ");
    }

    juce::String canonicalMacAddress (const juce::String& text)
    {
        const auto address = MacAddress::find (text);
        return address.isNotEmpty() ? address : text;
    }

    juce::String timeToText (juce::Time time)
    {
        const auto milliseconds = time.toMilliseconds();
        auto seconds = (std::time_t) (milliseconds / 1000);
        auto fraction = (int) (milliseconds % 1000);

        if (fraction < 0)
        {
            fraction += 1000;
            --seconds;
        }

        std::tm utc {};
       #if JUCE_WINDOWS
        gmtime_s (&utc, &seconds);
       #else
        gmtime_r (&seconds, &utc);
       #endif
        return juce::String::formatted ("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                                         utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                                         utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    }

    juce::Time timeFromText (const juce::String& text)
    {
        return juce::Time::fromISO8601 (text);
    }

    juce::String stepsToJson (const juce::Array<JobStep>& steps)
    {
        juce::Array<juce::var> list;

        for (auto& step : steps)
        {
            auto object = std::make_unique<juce::DynamicObject>();
            object->setProperty ("name", step.name);
            object->setProperty ("passed", step.passed);
            object->setProperty ("seconds", step.seconds);
            object->setProperty ("detail", step.detail);
            list.add (juce::var (object.release()));
        }

        return juce::JSON::toString (juce::var (list), true);
    }

    juce::Array<JobStep> stepsFromJson (const juce::String& json)
    {
        juce::Array<JobStep> steps;
        const auto parsed = juce::JSON::parse (json);

        if (auto* list = parsed.getArray())
        {
            for (auto& item : *list)
            {
                JobStep step;
                step.name = item["name"].toString();
                step.passed = item["passed"];
                step.seconds = item["seconds"];
                step.detail = item["detail"].toString();
                steps.add (step);
            }
        }

        return steps;
    }
}
