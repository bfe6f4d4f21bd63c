// The cost of keeping one device's record in a SQLite file: 1,000 records appended one
// after another, each in its own transaction (as a station appends them), timed one by one.
// Prints the median and the range, and the file's size.
//   record_benchmark [COUNT]
#include "device/RecordStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main (int argc, char** argv)
{
    const int count = argc > 1 ? juce::jmax (1, juce::String (argv[1]).getIntValue()) : 1000;
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getNonexistentChildFile ("usb-record-benchmark", {}, false);
    folder.createDirectory();
    const auto file = folder.getChildFile ("records.sqlite");

    juce::String error;
    auto store = RecordStore::open (file.getFullPathName(), error);

    if (store == nullptr)
    {
        std::fprintf (stderr, "can't open %s: %s\n", file.getFullPathName().toRawUTF8(), error.toRawUTF8());
        return 1;
    }

    // A record as a station writes it: four steps, an image, an identification.
    DeviceRecord record;
    record.host = juce::SystemStats::getComputerName();
    record.user = juce::SystemStats::getLogonName();
    record.toolVersion = "1.0.0";
    record.job = "station";
    record.port = "/dev/ttyACM0";
    record.identified = true;
    record.familyId = 0x12;
    record.deviceId = 3;
    record.firstText = "Device simulator";
    record.secondText = "serial 00000001";
    record.imageName = "KX9image.bin";
    record.imageSize = 2 << 20;
    record.imageSha256 = juce::String::repeatedString ("0123456789abcdef", 4);
    record.verified = true;
    record.steps.add ({ "open", true, 0.01, {} });
    record.steps.add ({ "identify", true, 0.002, {} });
    record.steps.add ({ "getmac", true, 0.004, {} });
    record.steps.add ({ "update", true, 2.3, "installed" });
    record.passed = true;

    std::vector<double> ms;

    for (int i = 0; i < count; ++i)
    {
        record.time = juce::Time::getCurrentTime();
        record.slot = "1-1." + juce::String (i % 16);
        record.macAddress = juce::String::formatted ("00-1A-2B-3C-%02X-%02X", (i >> 8) & 255, i & 255);

        const auto start = std::chrono::steady_clock::now();

        if (! store->append (record, error))
        {
            std::fprintf (stderr, "append %d failed: %s\n", i, error.toRawUTF8());
            return 1;
        }

        ms.push_back (std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count());
    }

    std::sort (ms.begin(), ms.end());
    std::printf ("%d records appended to %s, one transaction each: median %.3f ms (%.3f - %.3f), "
                 "90th percentile %.3f ms; file %lld bytes\n",
                 count, store->describe().toRawUTF8(), ms[ms.size() / 2], ms.front(), ms.back(),
                 ms[ms.size() * 9 / 10], (long long) file.getSize());
    store.reset();
    folder.deleteRecursively();
    return 0;
}
