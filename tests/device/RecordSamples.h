#pragma once

#include "device/RecordStore.h"
#include "support/JucePrinters.h"

#include <gtest/gtest.h>

/** A new folder under the temporary folder, removed with everything in it at the end. */
struct TempFolder
{
    TempFolder() { folder.createDirectory(); }
    ~TempFolder() { folder.deleteRecursively(); }

    const juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                  .getNonexistentChildFile ("usb-records-test", {}, false);
};

/** Record n of a series: every field set and different from its neighbours', so that a field
    read back from the wrong column or the wrong row shows. The slot is "SERIES-n". */
inline DeviceRecord sampleRecord (const juce::String& series, int n)
{
    DeviceRecord r;
    r.time = juce::Time (1714566615123LL + n * 1000LL);
    r.host = "line-2-pc";  r.user = "operator";  r.toolVersion = "1.0.0";  r.job = "station";
    r.slot = series + "-" + juce::String (n);
    r.port = "/dev/ttyACM" + juce::String (n % 4);
    r.usbSerial = "SN" + juce::String (9000 + n);
    r.identified = n % 5 != 0;
    r.familyId = 7;  r.deviceId = 100000 + n;  r.protocolVersion = 3;  r.firmwareVersion = 0x010203 + n;
    r.firstText = "first " + juce::String (n);  r.secondText = "second";
    r.macAddress = juce::String::formatted ("00-1A-2B-%02X-%02X-%02X", (n >> 16) & 255, (n >> 8) & 255, n & 255);
    r.imageName = "firmware.img";
    r.imageSize = 5000000000LL + n;   // more than 32 bits hold
    r.imageSha256 = juce::String::repeatedString ("0123456789abcdef", 4);
    r.verified = n % 2 == 0;
    r.steps.add ({ "open", true, 0.25, {} });
    r.steps.add ({ "put /mnt/nandfs/a b.txt", n % 3 != 0, 1.5 + n / 7.0, "read back" });
    r.passed = n % 3 != 0;
    r.error = r.passed ? juce::String() : "put /mnt/nandfs/a b.txt failed";
    return r;
}

/** n of a record made by sampleRecord, and its series. */
inline int sampleNumber (const DeviceRecord& r)       { return r.slot.fromLastOccurrenceOf ("-", false, false).getIntValue(); }
inline juce::String sampleSeries (const DeviceRecord& r) { return r.slot.upToLastOccurrenceOf ("-", false, false); }

/** Every field of a record as text, the steps' seconds to the microsecond. */
inline juce::StringArray fieldsOf (const DeviceRecord& r)
{
    juce::StringArray fields { juce::String (r.time.toMilliseconds()), r.host, r.user, r.toolVersion, r.job, r.slot,
                               r.port, r.usbSerial, juce::String ((int) r.identified), juce::String (r.familyId),
                               juce::String (r.deviceId), juce::String (r.protocolVersion), juce::String (r.firmwareVersion),
                               r.firstText, r.secondText, r.macAddress, r.imageName, juce::String (r.imageSize),
                               r.imageSha256, juce::String ((int) r.verified), juce::String ((int) r.passed), r.error };

    for (auto& step : r.steps)
        fields.add (step.name + " | " + juce::String ((int) step.passed) + " | "
                    + juce::String (step.seconds, 6) + " | " + step.detail);

    return fields;
}

inline void expectSameRecord (const DeviceRecord& found, const DeviceRecord& expected)
{
    EXPECT_EQ (fieldsOf (found), fieldsOf (expected));
}

/** The slots of records, in their order. */
inline juce::StringArray slotsOf (const juce::Array<DeviceRecord>& records)
{
    juce::StringArray slots;

    for (auto& r : records)
        slots.add (r.slot);

    return slots;
}

/** What both kinds of store must do: records appended out of time order come back whole,
    newest first, found by MAC address (however it is written), by time and by failure. */
inline void expectAppendAndFind (RecordStore& store)
{
    auto first = sampleRecord ("r", 1);        // passed, MAC 00-1A-2B-00-00-01
    auto second = sampleRecord ("r", 2);       // failed, another device, an hour later
    auto third = sampleRecord ("r", 3);        // failed, the first device again, two hours later
    second.time = first.time + juce::RelativeTime::hours (1);
    third.time = first.time + juce::RelativeTime::hours (2);
    third.macAddress = first.macAddress;
    second.firstText = juce::String::fromUTF8 ("Ger\xc3\xa4t \"Nr. 1\" it's \xe6\x97\xa5\xe6\x9c\xac");
    second.error = juce::String::fromUTF8 ("'); DROP TABLE device_records; -- \\ \xe2\x80\x93 %s ?1 $1");
    second.steps.getReference (1).detail = juce::String::fromUTF8 ("\"quoted\"\n\xc3\xbc" "ber \\ it's");
    second.passed = false;
    second.steps.getReference (1).passed = false;

    juce::String error;

    for (auto* r : { &first, &third, &second })
        ASSERT_TRUE (store.append (*r, error)) << error;

    const auto all = store.find ({}, error);
    ASSERT_EQ (slotsOf (all), juce::StringArray ({ "r-3", "r-2", "r-1" })) << error;
    expectSameRecord (all[0], third);
    expectSameRecord (all[1], second);
    expectSameRecord (all[2], first);

    EXPECT_EQ (slotsOf (store.find ({ "00:1a:2b:00:00:01", {}, false }, error)), juce::StringArray ({ "r-3", "r-1" }));
    EXPECT_EQ (slotsOf (store.find ({ {}, second.time, false }, error)), juce::StringArray ({ "r-3", "r-2" }));
    EXPECT_EQ (slotsOf (store.find ({ {}, {}, true }, error)), juce::StringArray ({ "r-3", "r-2" }));
    EXPECT_EQ (slotsOf (store.find ({ first.macAddress, first.time, true }, error)), juce::StringArray ({ "r-3" }));
    EXPECT_TRUE (store.find ({ "00-00-00-00-00-00", {}, false }, error).isEmpty());
    EXPECT_TRUE (error.isEmpty()) << error;
}
