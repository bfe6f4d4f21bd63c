// Throughput of file transfers through the client, against the device simulator over a
// pseudo-terminal with no device delay, compared with a minimal stop-and-wait loop that
// sends the same frames straight on the same pty (the ceiling of the link). Also the time
// per entry of listing a folder with the entries' information.
//
//   transfer_benchmark [--mib N] [--entries N]     (defaults: 64 MiB, 1000 entries)

#include "app/ILogger.h"
#include "protocol/FrameCutter.h"
#include "protocol/VeltraneClient.h"
#include "support/SimulatorProcess.h"
#include "transport/SerialPort.h"

#include <cstdio>
#include <sys/resource.h>
#include <termios.h>

namespace
{
/** The client's log lines go to standard error, so that a failure says why. */
struct StandardErrorLogger : ILogger
{
    void log (juce::String text) override { std::fprintf (stderr, "%s\n", text.toRawUTF8()); }
};

struct Measurement
{
    double seconds = 0, cpuSeconds = 0;
};

double cpuSecondsUsed()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    return (double) usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6
         + (double) usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

long peakResidentKiB()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

template <typename Work>
Measurement measure (Work&& work)
{
    const auto cpu = cpuSecondsUsed();
    const auto start = juce::Time::getMillisecondCounterHiRes();

    if (! work())
    {
        std::fprintf (stderr, "transfer failed\n");
        std::exit (1);
    }

    return { (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0, cpuSecondsUsed() - cpu };
}

/** The stop-and-wait ceiling: each frame is written straight to the pty and its answer
    read back with poll and read, no threads, no queues. */
class RawLink
{
public:
    explicit RawLink (const juce::String& path)
    {
        fd = ::open (path.toRawUTF8(), O_RDWR | O_NOCTTY);
        termios settings {};
        ::tcgetattr (fd, &settings);
        ::cfmakeraw (&settings);
        ::tcsetattr (fd, TCSANOW, &settings);
    }

    ~RawLink() { ::close (fd); }

    std::unique_ptr<VeltraneClientResponse> exchange (VeltraneClientRequest& request)
    {
        frame.reset();
        request.write (frame);
        auto* bytes = static_cast<const char*> (frame.getData());
        auto remaining = frame.getDataSize();

        while (remaining > 0)
        {
            const auto n = ::write (fd, bytes, remaining);
            if (n <= 0)
                return nullptr;
            bytes += n;
            remaining -= (size_t) n;
        }

        std::unique_ptr<ReceivedMessage> answer;

        while (answer == nullptr)
        {
            if (! waitForAnswer())
                return nullptr;

            const auto n = ::read (fd, buffer, sizeof (buffer));
            if (n <= 0)
                return nullptr;

            cutter.cut (buffer, (size_t) n, [&] (std::unique_ptr<ReceivedMessage> m) { answer = std::move (m); });
        }

        const auto id = answer->readShort();
        answer->readInt();
        return createResponse (id, std::move (answer));
    }

    bool sendFile (const juce::File& local, const juce::String& remote)
    {
        FileOpenRequest open (remote, 0);
        auto opened = exchange (open);
        auto* handle = dynamic_cast<FileOpenResponse*> (opened.get());
        if (handle == nullptr)
            return false;

        juce::FileInputStream input (local);
        FileWriteRequest write (handle->getHandle(), input);

        while (input.getPosition() < input.getTotalLength())
        {
            if (exchange (write) == nullptr)
                return false;
            write.takeNextSerialNumber();
        }

        FileCloseRequest close (handle->getHandle());
        return exchange (close) != nullptr;
    }

    bool getFile (const juce::String& remote, const juce::File& local)
    {
        FileOpenRequest open (remote, 1);
        auto opened = exchange (open);
        auto* handle = dynamic_cast<FileOpenResponse*> (opened.get());
        if (handle == nullptr)
            return false;

        local.deleteFile();
        juce::FileOutputStream output (local, 0x8000);
        FileReadRequest read (handle->getHandle(), maxFileBlockSize);

        while (output.getPosition() < handle->getSize())
        {
            auto answer = exchange (read);
            auto* block = dynamic_cast<FileReadResponse*> (answer.get());
            if (block == nullptr || block->getCount() <= 0)
                return false;
            output.write (block->getData(), (size_t) block->getCount());
            read.takeNextSerialNumber();
        }

        FileCloseRequest close (handle->getHandle());
        return exchange (close) != nullptr;
    }

private:
    bool waitForAnswer()
    {
        pollfd readable { fd, POLLIN, 0 };
        return ::poll (&readable, 1, 5000) > 0;
    }

    int fd = -1;
    juce::MemoryOutputStream frame;
    FrameCutter cutter;
    char buffer[16384];
};

void writePattern (const juce::File& file, juce::int64 size)
{
    juce::FileOutputStream out (file);
    out.setPosition (0);
    out.truncate();
    juce::HeapBlock<char> chunk (1 << 20);
    juce::Random random (7);

    for (juce::int64 written = 0; written < size; written += 1 << 20)
    {
        for (int i = 0; i < (1 << 20); ++i)
            chunk[i] = (char) random.nextInt (256);
        out.write (chunk, (size_t) juce::jmin ((juce::int64) 1 << 20, size - written));
    }
}

void report (const char* what, const Measurement& client, const Measurement& raw, double mib)
{
    const auto clientRate = mib / client.seconds, rawRate = mib / raw.seconds;
    std::printf ("%-4s client %8.2f MiB/s   raw loop %8.2f MiB/s   ratio %.3f   client CPU %.4f s/MiB   raw CPU %.4f s/MiB\n",
                 what, clientRate, rawRate, clientRate / rawRate, client.cpuSeconds / mib, raw.cpuSeconds / mib);
}
} // namespace

int main (int argc, char** argv)
{
    StandardErrorLogger logger;
    ILogger::install (&logger);
    // "--mib N" or "--mib=N"
    const auto option = [&] (const char* name, int fallback)
    {
        for (int i = 1; i < argc; ++i)
        {
            const juce::String argument (argv[i]);

            if (argument == name && i + 1 < argc)
                return juce::String (argv[i + 1]).getIntValue();

            if (argument.startsWith (juce::String (name) + "="))
                return argument.fromFirstOccurrenceOf ("=", false, false).getIntValue();
        }

        return fallback;
    };

    const auto mib = juce::jmax (1, option ("--mib", 64));
    const auto entries = juce::jmax (1, option ("--entries", 1000));

    const auto work = juce::File::createTempFile ("transfer-benchmark");
    const auto root = work.getChildFile ("device");
    root.getChildFile ("mnt/nandfs/bench").createDirectory();
    const auto local = work.getChildFile ("local.bin");
    writePattern (local, (juce::int64) mib << 20);

    SimulatorProcess simulator;
    if (! simulator.start ({ "--root", root.getFullPathName() }))
    {
        std::fprintf (stderr, "the simulator did not start\n");
        return 1;
    }

    std::printf ("%d MiB in %u-byte blocks over %s\n", mib, (unsigned) maxFileBlockSize, simulator.getPtyPath().toRawUTF8());

    Measurement clientSend, clientGet, rawSend, rawGet;
    {
        VeltraneClient client;
        SerialPort port (simulator.getPtyPath(), SerialPortSettings {});
        client.attachPort (&port);
        clientSend = measure ([&] { return client.sendFile (local.getFullPathName(), "/mnt/nandfs/bench/client.bin") == 0; });
        clientGet = measure ([&] { return client.getFile ("/mnt/nandfs/bench/client.bin", work.getChildFile ("client.bin").getFullPathName()) == 0; });
        client.detachPort();
    }
    {
        RawLink raw (simulator.getPtyPath());
        rawSend = measure ([&] { return raw.sendFile (local, "/mnt/nandfs/bench/raw.bin"); });
        rawGet = measure ([&] { return raw.getFile ("/mnt/nandfs/bench/raw.bin", work.getChildFile ("raw.bin")); });
    }

    report ("send", clientSend, rawSend, mib);
    report ("get", clientGet, rawGet, mib);

    if (work.getChildFile ("client.bin").getSize() != local.getSize())
        std::printf ("WARNING: the fetched file differs in size\n");

    const auto folder = root.getChildFile ("mnt/nandfs/bench/many");
    folder.createDirectory();
    for (int i = 0; i < entries; ++i)
        folder.getChildFile ("e" + juce::String (i).paddedLeft ('0', 3)).replaceWithText ("x");   // short: 1000 names fit one listing

    {
        VeltraneClient client;
        SerialPort port (simulator.getPtyPath(), SerialPortSettings {});
        client.attachPort (&port);
        juce::StringArray names;
        const auto listing = measure ([&]
        {
            if (client.getFolderContents ("/mnt/nandfs/bench/many", &names, nullptr) != 0)
                return false;
            for (auto& name : names)
            {
                FileSystemEntryInfo info;
                if (client.getRemoteEntryInfo ("/mnt/nandfs/bench/many/" + name, false, info) != 0)
                    return false;
            }
            return true;
        });
        client.detachPort();
        std::printf ("list %d entries with their information: %.1f ms, %.1f us per entry\n",
                     names.size(), listing.seconds * 1000.0, listing.seconds * 1e6 / juce::jmax (1, names.size()));
    }

    std::printf ("peak RSS %ld KiB\n", peakResidentKiB());
    simulator.stop();
    work.deleteRecursively();
    ILogger::uninstall (&logger);
    return 0;
}
