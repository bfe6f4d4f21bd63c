// Throughput and CPU cost of file transfers through the client, against the device
// simulator over a pseudo-terminal with no device delay, side by side with a ceiling: a
// minimal stop-and-wait loop over a pty pair against a minimal peer process that does no
// file I/O, with the same frames (8191-byte frames, a 10-byte acknowledgement, a 22-byte
// read request). A third path puts the client's own request exchange (its threads, queues
// and decoding, but no files) over the ceiling's peer, which tells the client's share of a
// gap from the simulator's. Rounds rotate the three paths, first on a quiet machine, then
// with one core kept busy by a separate process; medians and ranges are reported. Each
// path's CPU includes its far end's: the simulator's or the peer's. Last, the time per
// entry of listing folders with each entry's information.
//
//   transfer_benchmark [--mib N] [--rounds N] [--entries N,N...] [--no-load]
//   (defaults: 32 MiB, 7 rounds, 1000,10000 entries)

#include "base/ILogger.h"
#include "protocol/VeltraneClient.h"
#include "remotefs/FileTransfer.h"
#include "protocol/VeltraneRequests.h"
#include "support/SimulatorProcess.h"
#include "transport/SerialPort.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{
/** The client's log lines go to standard error, so that a failure says why. */
struct StandardErrorLogger : ILogger
{
    void log (juce::String text) override
    {
        // The transfers' own progress and completion lines would only drown the figures.
        if (! text.startsWith ("Block ") && ! text.startsWith ("File transfer completed") && ! text.startsWith ("Getting remote"))
            std::fprintf (stderr, "%s\n", text.toRawUTF8());
    }
};

constexpr int frameSize = 8191, blockSize = 8169;

double secondsNow()
{
    timespec t {};
    clock_gettime (CLOCK_MONOTONIC, &t);
    return (double) t.tv_sec + t.tv_nsec / 1e9;
}

double ownCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double) t.tv_sec + t.tv_nsec / 1e9;
}

/** The CPU time of another process, all its threads, from the scheduler's accounting. */
double cpuSecondsOf (pid_t pid)
{
    double total = 0;

    for (auto& task : juce::File ("/proc/" + juce::String (pid) + "/task").findChildFiles (juce::File::findDirectories, false))
        total += task.getChildFile ("schedstat").loadFileAsString().upToFirstOccurrenceOf (" ", false, false).getLargeIntValue() / 1e9;

    return total;
}

struct Sample
{
    double mibPerSecond = 0, cpuPerMib = 0, otherShare = 0;   // otherShare: the far end's part of the CPU
};

/** Runs work (true when it succeeded) and measures it, counting the CPU of other as well. */
template <typename Work>
Sample measure (double mib, pid_t other, Work&& work)
{
    const auto own = ownCpuSeconds();
    const auto others = cpuSecondsOf (other);
    const auto start = secondsNow();

    if (! work())
    {
        std::fprintf (stderr, "a transfer failed\n");
        std::exit (1);
    }

    const auto seconds = secondsNow() - start;
    const auto ownUsed = ownCpuSeconds() - own, otherUsed = cpuSecondsOf (other) - others;
    return { mib / seconds, (ownUsed + otherUsed) / mib, otherUsed / juce::jmax (1e-9, ownUsed + otherUsed) };
}

//==============================================================================
bool readExactly (int fd, void* data, size_t count)
{
    auto* bytes = static_cast<char*> (data);

    while (count > 0)
    {
        const auto n = ::read (fd, bytes, count);

        if (n <= 0)
        {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }

        bytes += n;
        count -= (size_t) n;
    }

    return true;
}

bool writeExactly (int fd, const void* data, size_t count)
{
    auto* bytes = static_cast<const char*> (data);

    while (count > 0)
    {
        const auto n = ::write (fd, bytes, count);

        if (n <= 0)
        {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }

        bytes += n;
        count -= (size_t) n;
    }

    return true;
}

void putHeader (char* frame, int id, juce::uint32 payloadLength, juce::int32 serial)
{
    frame[0] = (char) id;
    frame[1] = (char) (id >> 8);
    for (int i = 0; i < 4; ++i)
        frame[2 + i] = (char) (payloadLength >> (8 * i));
    for (int i = 0; i < 4; ++i)
        frame[6 + i] = (char) ((juce::uint32) serial >> (8 * i));
}

/** The ceiling's device: answers a write request (id 0x000E) with a 10-byte
    acknowledgement and a read request (0x000C) with an 8191-byte block, from memory. */
[[noreturn]] void runPeer (int fd)
{
    std::vector<char> request ((size_t) frameSize), block ((size_t) frameSize, 'x'), ack (10);

    for (;;)
    {
        if (! readExactly (fd, request.data(), 6))
            ::_exit (0);

        const auto id = (int) juce::ByteOrder::littleEndianShort (request.data());
        const auto length = juce::ByteOrder::littleEndianInt (request.data() + 2);

        if (length > (juce::uint32) frameSize - 6 || ! readExactly (fd, request.data() + 6, length))
            ::_exit (1);

        const auto serial = (juce::int32) juce::ByteOrder::littleEndianInt (request.data() + 6);

        if (id == 0x000C)
        {
            // Serial number, an unused 64-bit value, the byte count, the bytes.
            putHeader (block.data(), 0x000D, frameSize - 6, serial);
            std::fill (block.begin() + 10, block.begin() + 18, 0);
            for (int i = 0; i < 4; ++i)
                block[(size_t) (18 + i)] = (char) (blockSize >> (8 * i));
            if (! writeExactly (fd, block.data(), block.size()))
                ::_exit (1);
        }
        else
        {
            putHeader (ack.data(), 0x0002, 4, serial);
            if (! writeExactly (fd, ack.data(), ack.size()))
                ::_exit (1);
        }
    }
}

/** The ceiling: one process writes each request and blocks reading its answer. */
class Ceiling
{
public:
    bool start()
    {
        termios raw {};
        cfmakeraw (&raw);
        int master = -1;

        if (openpty (&master, &fd, nullptr, &raw, nullptr) != 0)
            return false;

        peer = ::fork();

        if (peer == 0)
        {
            ::close (fd);
            runPeer (master);
        }

        ::close (master);
        ::fcntl (fd, F_SETFD, FD_CLOEXEC);   // the simulator, started later, must not hold it
        slavePath = ::ttyname (fd);
        return peer > 0;
    }

    ~Ceiling()
    {
        if (fd >= 0)
            ::close (fd);

        if (peer > 0)
            ::waitpid (peer, nullptr, 0);
    }

    /** Raw mode with reads that block for a byte again: the client's port settings, made
        on the same terminal, leave reads that return at once. */
    void restoreLine()
    {
        termios raw {};
        cfmakeraw (&raw);
        ::tcsetattr (fd, TCSANOW, &raw);
    }

    bool send (int blocks)
    {
        std::vector<char> frame ((size_t) frameSize, 'y');
        char ack[10];

        for (int i = 0; i < blocks; ++i)
        {
            putHeader (frame.data(), 0x000E, frameSize - 6, serial++);
            if (! writeExactly (fd, frame.data(), frame.size()) || ! readExactly (fd, ack, sizeof (ack)))
                return false;
        }

        return true;
    }

    bool get (int blocks)
    {
        std::vector<char> answer ((size_t) frameSize);
        char request[22] = {};

        for (int i = 0; i < blocks; ++i)
        {
            putHeader (request, 0x000C, 16, serial++);
            request[18] = (char) (blockSize & 0xff);
            request[19] = (char) (blockSize >> 8);

            if (! writeExactly (fd, request, sizeof (request)) || ! readExactly (fd, answer.data(), 6))
                return false;

            const auto length = juce::ByteOrder::littleEndianInt (answer.data() + 2);

            if (length > (juce::uint32) frameSize - 6 || ! readExactly (fd, answer.data() + 6, length))
                return false;
        }

        return true;
    }

    pid_t getPeer() const noexcept { return peer; }

    /** The pty the ceiling talks through, for the client to open while the ceiling rests. */
    const juce::String& getSlavePath() const noexcept { return slavePath; }

private:
    juce::String slavePath;
    int fd = -1;
    pid_t peer = -1;
    juce::int32 serial = 0;
};

//==============================================================================
/** A separate process that keeps one core busy until it is destroyed. */
class BusyCore
{
public:
    BusyCore()
    {
        pid = ::fork();

        if (pid == 0)
        {
            // It holds none of the benchmark's terminals and ends with the benchmark, even
            // one that fails half-way.
            ::closefrom (3);
            ::prctl (PR_SET_PDEATHSIG, SIGKILL);

            for (volatile unsigned spin = 0;; spin = spin + 1) {}
        }
    }

    ~BusyCore()
    {
        if (pid > 0)
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }
    }

private:
    pid_t pid = -1;
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

struct Spread
{
    double median = 0, low = 0, high = 0;
};

Spread spreadOf (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    const auto n = values.size();
    const auto median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return { median, values.front(), values.back() };
}

/** The samples of one path in one direction, under one condition. */
struct Series
{
    std::vector<double> rate, rateRatio, cpu, cpuRatio, farShare;

    void add (const Sample& sample, const Sample& ceiling)
    {
        rate.push_back (sample.mibPerSecond);
        rateRatio.push_back (sample.mibPerSecond / ceiling.mibPerSecond);
        cpu.push_back (sample.cpuPerMib);
        cpuRatio.push_back (sample.cpuPerMib / ceiling.cpuPerMib);
        farShare.push_back (sample.otherShare);
    }
};

/** Ceiling, the client over the ceiling's peer, and the client with the simulator. */
struct Direction
{
    Series ceiling, overPeer, client;
};

void printRow (const char* condition, const char* what, const char* path, const Series& series)
{
    const auto column = [] (const std::vector<double>& v, const char* format)
    {
        const auto s = spreadOf (v);
        std::printf (format, s.median, s.low, s.high);
    };

    std::printf ("| %-5s | %-4s | %-22s ", condition, what, path);
    column (series.rate, "| %6.1f (%5.1f-%5.1f) ");
    column (series.rateRatio, "| %4.2f (%4.2f-%4.2f) ");
    column (series.cpu, "| %6.4f (%6.4f-%6.4f) ");
    column (series.cpuRatio, "| %4.2f (%4.2f-%4.2f) ");
    std::printf ("| %2.0f %% |\n", spreadOf (series.farShare).median * 100);
}

void printRows (const char* condition, const char* what, const Direction& d)
{
    printRow (condition, what, "ceiling", d.ceiling);
    printRow (condition, what, "client, minimal peer", d.overPeer);
    printRow (condition, what, "client, simulator", d.client);
}

struct Setup
{
    SimulatorProcess& simulator;
    Ceiling& ceiling;
    juce::File local, work;
    int mib = 32, rounds = 7;
};

/** The client's request exchange over the ceiling's peer: the same frames as the ceiling
    sends, sent and awaited the way the client's transfers do, with no file at either end. */
struct ExchangeOverPeer
{
    bool send (VeltraneClient& client, int blocks)
    {
        juce::MemoryInputStream source (payload.getData(), payload.getSize(), false);
        FileWriteRequest request (1, source);

        for (int i = 0; i < blocks; ++i, request.takeNextSerialNumber())
            if (client.sendRequestAndWait (request, 5000) == nullptr)
                return false;

        return true;
    }

    bool get (VeltraneClient& client, int blocks)
    {
        FileReadRequest request (1, blockSize);

        for (int i = 0; i < blocks; ++i, request.takeNextSerialNumber())
            if (client.sendRequestAndWait (request, 1000) == nullptr)
                return false;

        return true;
    }

    juce::MemoryBlock payload;
};

/** Rounds of the three paths, each sending and getting the same amount; each round starts
    with another path, so that none always runs first. */
void compare (Setup& setup, const char* condition, Direction& send, Direction& get)
{
    const auto blocks = (int) (((juce::int64) setup.mib << 20) / blockSize) + 1;
    const auto mib = (double) setup.mib;
    const auto simulatorPid = setup.simulator.getProcessId(), peerPid = setup.ceiling.getPeer();
    ExchangeOverPeer exchange { juce::MemoryBlock ((size_t) blocks * blockSize, true) };

    for (int round = 0; round < setup.rounds; ++round)
    {
        Sample clientSend, clientGet, ceilingSend, ceilingGet, peerSend, peerGet;

        const auto runClient = [&]
        {
            VeltraneClient client;
            FileTransfer transfer { client };
            SerialPort port (setup.simulator.getPtyPath(), SerialPortSettings {});
            client.attachPort (&port);
            const auto remote = "/mnt/nandfs/bench/client.bin";
            const auto fetched = setup.work.getChildFile ("fetched.bin");
            clientSend = measure (mib, simulatorPid, [&] { return transfer.sendFile (setup.local.getFullPathName(), remote) == 0; });
            clientGet = measure (mib, simulatorPid, [&] { return transfer.getFile (remote, fetched.getFullPathName()) == 0; });
            client.detachPort();

            if (fetched.getSize() != setup.local.getSize())
            {
                std::fprintf (stderr, "the fetched file differs in size\n");
                std::exit (1);
            }
        };

        const auto runCeiling = [&]
        {
            setup.ceiling.restoreLine();
            ceilingSend = measure (mib, peerPid, [&] { return setup.ceiling.send (blocks); });
            ceilingGet = measure (mib, peerPid, [&] { return setup.ceiling.get (blocks); });
        };

        const auto runOverPeer = [&]
        {
            VeltraneClient client;
            SerialPort port (setup.ceiling.getSlavePath(), SerialPortSettings {});
            client.attachPort (&port);
            peerSend = measure (mib, peerPid, [&] { return exchange.send (client, blocks); });
            peerGet = measure (mib, peerPid, [&] { return exchange.get (client, blocks); });
            client.detachPort();
        };

        const std::function<void()> paths[] = { runClient, runCeiling, runOverPeer };

        for (int i = 0; i < 3; ++i)
            paths[(round + i) % 3]();

        send.ceiling.add (ceilingSend, ceilingSend);
        send.overPeer.add (peerSend, ceilingSend);
        send.client.add (clientSend, ceilingSend);
        get.ceiling.add (ceilingGet, ceilingGet);
        get.overPeer.add (peerGet, ceilingGet);
        get.client.add (clientGet, ceilingGet);
        std::fprintf (stderr, "%s round %d: send %.1f / %.1f / %.1f MiB/s, get %.1f / %.1f / %.1f MiB/s (client, client over peer, ceiling)\n",
                      condition, round + 1, clientSend.mibPerSecond, peerSend.mibPerSecond, ceilingSend.mibPerSecond,
                      clientGet.mibPerSecond, peerGet.mibPerSecond, ceilingGet.mibPerSecond);
    }
}

/** Lists folders holding entries names in all (at most 500 a folder, which fit one listing
    frame) and asks for every listed entry's information. Prints the time per entry. */
void listEntries (SimulatorProcess& simulator, const juce::File& root, int entries)
{
    constexpr int perFolder = 500;
    const auto base = root.getChildFile ("mnt/nandfs/bench/list" + juce::String (entries));
    juce::StringArray folders;

    for (int i = 0; i < entries; ++i)
    {
        const auto folder = "f" + juce::String (i / perFolder);
        if (i % perFolder == 0)
        {
            base.getChildFile (folder).createDirectory();
            folders.add (folder);
        }
        base.getChildFile (folder).getChildFile ("e" + juce::String (i % perFolder).paddedLeft ('0', 3)).replaceWithText ("x");
    }

    VeltraneClient client;
    RemoteFileSystem files { client };
    SerialPort port (simulator.getPtyPath(), SerialPortSettings {});
    client.attachPort (&port);
    const auto remoteBase = "/mnt/nandfs/bench/list" + juce::String (entries) + "/";
    int listed = 0;
    const auto start = secondsNow();

    for (auto& folder : folders)
    {
        juce::StringArray names;

        if (files.getFolderContents (remoteBase + folder, &names, nullptr) != 0)
            std::exit (1);

        for (auto& name : names)
        {
            FileSystemEntryInfo info;
            if (files.getRemoteEntryInfo (remoteBase + folder + "/" + name, false, info) != 0)
                std::exit (1);
            ++listed;
        }
    }

    const auto seconds = secondsNow() - start;
    client.detachPort();
    std::printf ("listing: %d entries listed in %d folders, with their information: %.1f ms, %.1f us per entry\n",
                 listed, folders.size(), seconds * 1000.0, seconds * 1e6 / juce::jmax (1, listed));
}

int option (int argc, char** argv, const char* name, int fallback)
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
}

juce::String textOption (int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 1; i < argc; ++i)
    {
        const juce::String argument (argv[i]);

        if (argument == name && i + 1 < argc)
            return argv[i + 1];

        if (argument.startsWith (juce::String (name) + "="))
            return argument.fromFirstOccurrenceOf ("=", false, false);
    }

    return fallback;
}
} // namespace

int main (int argc, char** argv)
{
    // Forked first, before anything else runs: the ceiling's peer process.
    Ceiling ceiling;

    if (! ceiling.start())
    {
        std::fprintf (stderr, "the ceiling's pty could not be made\n");
        return 1;
    }

    StandardErrorLogger logger;
    ILogger::install (&logger);

    bool withLoad = true;
    for (int i = 1; i < argc; ++i)
        if (juce::String (argv[i]) == "--no-load")
            withLoad = false;

    const auto work = juce::File::createTempFile ("transfer-benchmark");
    const auto root = work.getChildFile ("device");
    root.getChildFile ("mnt/nandfs/bench").createDirectory();

    SimulatorProcess simulator;
    if (! simulator.start ({ "--root", root.getFullPathName() }))
    {
        std::fprintf (stderr, "the simulator did not start\n");
        return 1;
    }

    Setup setup { simulator, ceiling, work.getChildFile ("local.bin"), work,
                  juce::jmax (1, option (argc, argv, "--mib", 32)), juce::jmax (1, option (argc, argv, "--rounds", 7)) };
    writePattern (setup.local, (juce::int64) setup.mib << 20);

    Direction quietSend, quietGet, loadedSend, loadedGet;
    compare (setup, "quiet", quietSend, quietGet);

    if (withLoad)
    {
        BusyCore busy;
        compare (setup, "load", loadedSend, loadedGet);
    }

    std::printf ("\n%d MiB each way, %d-byte blocks, %d rounds; medians (min-max)\n\n", setup.mib, blockSize, setup.rounds);
    std::printf ("| cond. | dir. | path                   | MiB/s               | of ceiling       | CPU s/MiB               | CPU of ceiling   | far end's CPU |\n");
    std::printf ("|---|---|---|---|---|---|---|---|\n");
    printRows ("quiet", "send", quietSend);
    printRows ("quiet", "get", quietGet);

    if (withLoad)
    {
        printRows ("load", "send", loadedSend);
        printRows ("load", "get", loadedGet);
    }

    std::printf ("\n");

    for (auto& count : juce::StringArray::fromTokens (textOption (argc, argv, "--entries", "1000,10000"), ",", ""))
        if (count.getIntValue() > 0)
            listEntries (simulator, root, count.getIntValue());

    simulator.stop();
    work.deleteRecursively();
    ILogger::uninstall (&logger);
    return 0;
}
