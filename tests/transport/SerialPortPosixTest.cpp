// The POSIX side of the port: terminal settings, the descriptor's life, other programs that
// hold the port, and the writer's calls as the driver sees them.
#include "support/CapturingLogger.h"
#include "transport/PortHolders.h"
#include "transport/SerialPortDiscovery.h"
#include "transport/SerialPortPeer.h"
#include "transport/SerialPortPosix.h"
#include "transport/SerialPortStreams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
termios mapped (int parity, int stopBits, int flowControl)
{
    SerialPortSettings settings;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.flowControl = flowControl;

    termios t {};
    EXPECT_TRUE (serial::applyLineSettings (t, serial::decodeSettings (settings)));
    return t;
}

bool has (tcflag_t flags, tcflag_t wanted)  { return (flags & wanted) == wanted; }
bool hasNone (tcflag_t flags, tcflag_t unwanted)  { return (flags & unwanted) == 0; }
} // namespace

TEST (TerminalSettings, TheProgramsSettingsGiveARawLineWithRtsCts)
{
    termios t {};
    t.c_lflag = ECHO | ICANON | ISIG;
    t.c_oflag = OPOST;
    t.c_iflag = ICRNL | IXON;
    ASSERT_TRUE (serial::applyLineSettings (t, serial::decodeSettings (SerialPortSettings())));

    EXPECT_EQ (cfgetospeed (&t), (speed_t) B115200);
    EXPECT_EQ (cfgetispeed (&t), (speed_t) B115200);
    EXPECT_EQ (t.c_cflag & CSIZE, (tcflag_t) CS8);
    EXPECT_TRUE (has (t.c_cflag, CRTSCTS | CREAD | CLOCAL));
    EXPECT_TRUE (hasNone (t.c_cflag, PARENB | CSTOPB | CMSPAR));
    EXPECT_TRUE (hasNone (t.c_lflag, ECHO | ICANON | ISIG));
    EXPECT_TRUE (hasNone (t.c_oflag, OPOST));
    EXPECT_TRUE (hasNone (t.c_iflag, ICRNL | IXON | IXOFF));
    EXPECT_EQ (t.c_cc[VMIN], 0);
    EXPECT_EQ (t.c_cc[VTIME], 0);
}

TEST (TerminalSettings, ParityStopBitsAndFlowControl)
{
    EXPECT_TRUE (has (mapped (1, 0, 0).c_cflag, PARENB | PARODD));
    EXPECT_TRUE (hasNone (mapped (1, 0, 0).c_cflag, CMSPAR));
    EXPECT_TRUE (has (mapped (2, 0, 0).c_cflag, PARENB));
    EXPECT_TRUE (hasNone (mapped (2, 0, 0).c_cflag, PARODD | CMSPAR));
    EXPECT_TRUE (has (mapped (3, 0, 0).c_cflag, PARENB | CMSPAR));    // space: the parity bit is always 0
    EXPECT_TRUE (hasNone (mapped (3, 0, 0).c_cflag, PARODD));
    EXPECT_TRUE (has (mapped (4, 0, 0).c_cflag, PARENB | CMSPAR | PARODD));   // mark: always 1
    EXPECT_TRUE (hasNone (mapped (7, 0, 0).c_cflag, PARENB | CMSPAR));

    EXPECT_TRUE (has (mapped (0, 1, 0).c_cflag, CSTOPB));   // one and a half: two, never shorter
    EXPECT_TRUE (has (mapped (0, 2, 0).c_cflag, CSTOPB));
    EXPECT_TRUE (hasNone (mapped (0, 5, 0).c_cflag, CSTOPB));

    const auto xonXoff = mapped (0, 0, 2);
    EXPECT_TRUE (has (xonXoff.c_iflag, IXON | IXOFF));
    EXPECT_TRUE (hasNone (xonXoff.c_cflag, CRTSCTS));
    EXPECT_EQ (xonXoff.c_cc[VSTART], 0x11);
    EXPECT_EQ (xonXoff.c_cc[VSTOP], 0x13);

    const auto none = mapped (0, 0, 0);
    EXPECT_TRUE (hasNone (none.c_iflag, IXON | IXOFF));
    EXPECT_TRUE (hasNone (none.c_cflag, CRTSCTS));
}

TEST (TerminalSettings, RatesAndSizesWithoutACodeAreRefused)
{
    termios t {};
    serial::LineSettings line;

    line.baudRate = 12345;
    EXPECT_FALSE (serial::applyLineSettings (t, line));

    line.baudRate = 9600;
    line.dataBits = 9;
    EXPECT_FALSE (serial::applyLineSettings (t, line));

    line.dataBits = 5;
    ASSERT_TRUE (serial::applyLineSettings (t, line));
    EXPECT_EQ (cfgetospeed (&t), (speed_t) B9600);
    EXPECT_EQ (t.c_cflag & CSIZE, (tcflag_t) CS5);
}

//==============================================================================
class PosixPortTest : public ::testing::Test
{
protected:
    void SetUp() override  { ASSERT_TRUE (peer.isReady()); }

    SerialPortPeer peer;
    const SerialPortSettings settings;
};

TEST_F (PosixPortTest, ConfigureReachesTheTerminal)
{
    SerialPort port (peer.getPortName(), settings);
    ASSERT_TRUE (port.isOpen());
    EXPECT_EQ (port.getDevicePath(), peer.getPortName());

    termios t {};
    ASSERT_EQ (tcgetattr (port.getHandle(), &t), 0);
    EXPECT_EQ (cfgetospeed (&t), (speed_t) B115200);
    EXPECT_TRUE (has (t.c_cflag, CRTSCTS | CS8));
    EXPECT_TRUE (hasNone (t.c_lflag, ICANON | ECHO));

    SerialPortSettings refused;
    refused.baudRate = 12345;
    EXPECT_FALSE (port.configure (refused));
    EXPECT_TRUE (port.isOpen());
}

TEST_F (PosixPortTest, AFileThatIsNotATerminalIsNotAPort)
{
    SerialPort port ("/dev/null", settings);
    EXPECT_FALSE (port.isOpen());
    EXPECT_EQ (port.getHandle(), -1);
}

TEST_F (PosixPortTest, TheClosedDescriptorStaysReservedUntilThePortIsDestroyed)
{
    auto port = std::make_unique<SerialPort> (peer.getPortName(), settings);
    const int number = port->getHandle();
    ASSERT_GE (number, 0);

    port->close();
    EXPECT_EQ (port->getHandle(), -1);

    // The number now refers to /dev/null, so a thread still holding it touches nothing.
    struct stat reserved {}, devNull {};
    ASSERT_EQ (fstat (number, &reserved), 0);
    ASSERT_EQ (stat ("/dev/null", &devNull), 0);
    EXPECT_EQ (reserved.st_rdev, devNull.st_rdev);

    const int unrelated = ::open ("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_NE (unrelated, number);
    ::close (unrelated);

    port.reset();
    EXPECT_EQ (fcntl (number, F_GETFD), -1);
}

//==============================================================================
namespace
{
/** A separate process that holds a terminal open the way a terminal program does: no
    flock, no TIOCEXCL. It inherits none of the test's descriptors (the peer's pty master
    among them), so it is not the pty's owner. */
class TerminalHolder
{
public:
    explicit TerminalHolder (const juce::String& path)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_addclosefrom_np (&actions, 3);
        posix_spawn_file_actions_addopen (&actions, 3, path.toRawUTF8(), O_RDWR | O_NOCTTY, 0);

        char* argv[] = { const_cast<char*> ("sleep"), const_cast<char*> ("30"), nullptr };

        if (posix_spawnp (&processId, "sleep", &actions, nullptr, argv, environ) != 0)
            processId = -1;

        posix_spawn_file_actions_destroy (&actions);
    }

    ~TerminalHolder()
    {
        if (processId > 0)
        {
            ::kill (processId, SIGKILL);
            ::waitpid (processId, nullptr, 0);
        }
    }

    /** True once the child runs sleep, which it does only after opening the terminal. */
    bool isHolding() const
    {
        return processId > 0
                && juce::File ("/proc/" + juce::String (processId) + "/comm").loadFileAsString().trim() == "sleep";
    }

    pid_t processId = -1;
};
} // namespace

TEST_F (PosixPortTest, APortAnotherProgramHoldsIsRefusedAndTheHolderNamed)
{
    CapturingLogger logger;

    {
        TerminalHolder holder (peer.getPortName());
        ASSERT_TRUE (waitUntil ([&] { return holder.isHolding(); }));

        SerialPort port (peer.getPortName(), settings);
        EXPECT_FALSE (port.isOpen());
        EXPECT_EQ (logger.getLines(), juce::StringArray ("Port " + peer.getPortName() + " is in use by process "
                                                          + juce::String (holder.processId) + " (sleep)."));
    }

    // Once it has let go, the port opens; the peer's own descriptors, in this process, never count.
    logger.clear();
    SerialPort port (peer.getPortName(), settings);
    EXPECT_TRUE (port.isOpen());
    EXPECT_TRUE (logger.getLines().isEmpty());
}

TEST_F (PosixPortTest, HoldersAreFoundThroughLinksButNotThePtysOwnerNorThisProcess)
{
    const auto procRoot = juce::File::createTempFile ("fake-proc");
    const auto portLink = juce::File::createTempFile ("port-link");
    ASSERT_TRUE (juce::File (peer.getPortName()).createSymbolicLink (portLink, false));

    struct stat portInfo {};
    ASSERT_EQ (stat (peer.getPortName().toRawUTF8(), &portInfo), 0);
    const auto ptyIndex = (int) minor (portInfo.st_rdev);

    // fds: descriptor number -> what it points at; fdinfo: the pty index a master shows.
    const auto addProcess = [&] (int processId, const juce::String& name, const juce::StringPairArray& fds,
                                 const juce::StringPairArray& fdinfo = {})
    {
        const auto folder = procRoot.getChildFile (juce::String (processId));
        ASSERT_TRUE (folder.getChildFile ("fd").createDirectory());
        ASSERT_TRUE (folder.getChildFile ("fdinfo").createDirectory());
        ASSERT_TRUE (folder.getChildFile ("comm").replaceWithText (name + "\n"));

        for (const auto& number : fds.getAllKeys())
            ASSERT_EQ (symlink (fds[number].toRawUTF8(), folder.getChildFile ("fd/" + number).getFullPathName().toRawUTF8()), 0);

        for (const auto& number : fdinfo.getAllKeys())
            ASSERT_TRUE (folder.getChildFile ("fdinfo/" + number).replaceWithText ("pos:\t0\ntty-index:\t" + fdinfo[number] + "\n"));
    };

    const auto table = [] (std::initializer_list<std::pair<const char*, juce::String>> entries)
    {
        juce::StringPairArray result;

        for (const auto& entry : entries)
            result.set (entry.first, entry.second);

        return result;
    };

    const auto port = peer.getPortName();
    addProcess (4001, "minicom", table ({ { "0", "/dev/null" }, { "1", "socket:[4242]" }, { "3", port } }));
    addProcess (4002, "device-simulator", table ({ { "3", "/dev/ptmx" }, { "4", port } }),
                table ({ { "3", juce::String (ptyIndex) } }));
    addProcess (4003, "bridge", table ({ { "3", "/dev/ptmx" }, { "4", port } }),     // owns another pty only
                table ({ { "3", juce::String (ptyIndex + 1) } }));
    addProcess (4004, "old-kernel-sim", table ({ { "3", "/dev/ptmx" }, { "4", port } }));   // no tty-index shown
    addProcess (4005, "cat", table ({ { "0", "/dev/null" } }));
    addProcess ((int) getpid(), "core_tests", table ({ { "5", port } }));
    ASSERT_TRUE (procRoot.getChildFile ("self").createDirectory());

    for (const auto& path : { port, portLink.getFullPathName() })
    {
        const auto holders = serial::findPortHolders (procRoot, path);
        ASSERT_EQ (holders.size(), 2u) << path;
        EXPECT_EQ (holders[0].processId, 4001);
        EXPECT_EQ (holders[0].processName, "minicom");
        EXPECT_EQ (holders[1].processId, 4003);
        EXPECT_EQ (holders[1].processName, "bridge");
    }

    portLink.deleteFile();
    procRoot.deleteRecursively();
}

//==============================================================================
namespace
{
/** Stands in for ::write on the port: records each call and answers as configured. */
struct PortWriteRecorder
{
    PortWriteRecorder()   { current = this; previous = serial::setPortWriteFunction (&record); }
    ~PortWriteRecorder()  { serial::setPortWriteFunction (previous); current = nullptr; }

    static ssize_t record (int, const void* data, size_t count)
    {
        const std::lock_guard<std::mutex> guard (current->mutex);
        current->callSizes.push_back (count);
        current->onWriterThread.push_back (juce::Thread::getCurrentThread() != nullptr);

        if (current->failuresLeft > 0)
        {
            --current->failuresLeft;
            errno = EIO;
            return -1;
        }

        const auto taken = std::min (count, current->mostPerCall);
        current->written.append (data, taken);
        return (ssize_t) taken;
    }

    std::vector<size_t> getCallSizes()  { const std::lock_guard<std::mutex> guard (mutex); return callSizes; }
    juce::MemoryBlock getWritten()      { const std::lock_guard<std::mutex> guard (mutex); return written; }
    std::vector<bool> getOnWriterThread() { const std::lock_guard<std::mutex> guard (mutex); return onWriterThread; }

    std::mutex mutex;
    std::vector<size_t> callSizes;
    std::vector<bool> onWriterThread;   // false: made by the thread that flushed
    juce::MemoryBlock written;
    size_t mostPerCall = std::numeric_limits<size_t>::max();
    int failuresLeft = 0;

    serial::PortWriteFunction previous = nullptr;
    static inline PortWriteRecorder* current = nullptr;
};

juce::MemoryBlock pattern (size_t size)
{
    juce::MemoryBlock block (size);

    for (size_t i = 0; i < size; ++i)
        block[i] = (char) (i * 31 + i / 256);

    return block;
}
} // namespace

TEST_F (PosixPortTest, AWriteOf20000BytesLeavesIn8192ByteBlocks)
{
    PortWriteRecorder recorder;
    SerialPort port (peer.getPortName(), settings);
    SerialPortOutputStream output (&port);

    const auto sent = pattern (20000);
    output.write (sent.getData(), sent.getSize());
    output.flush();

    ASSERT_TRUE (waitUntil ([&] { return output.getPendingCount() == 0; }));
    EXPECT_EQ (recorder.getCallSizes(), (std::vector<size_t> { 8192, 8192, 3616 }));
    EXPECT_EQ (recorder.getWritten(), sent);

}

TEST_F (PosixPortTest, PartlyTakenAndRefusedWritesLeaveTheRestQueued)
{
    PortWriteRecorder recorder;
    recorder.mostPerCall = 5000;
    recorder.failuresLeft = 2;

    SerialPort port (peer.getPortName(), settings);
    SerialPortOutputStream output (&port);

    const auto sent = pattern (12000);
    output.write (sent.getData(), sent.getSize());
    output.flush();

    ASSERT_TRUE (waitUntil ([&] { return output.getPendingCount() == 0; }));
    EXPECT_EQ (recorder.getWritten(), sent);
    EXPECT_EQ (recorder.getCallSizes(), (std::vector<size_t> { 8192, 8192, 8192, 7000, 2000 }));

    // Once the port has refused, the rest is the writer thread's to retry.
    const auto onWriter = recorder.getOnWriterThread();
    EXPECT_TRUE (std::all_of (onWriter.begin() + 1, onWriter.end(), [] (bool b) { return b; }));
}

TEST_F (PosixPortTest, AFlushSendsOnTheFlushingThreadWhatThePortTakesAtOnce)
{
    PortWriteRecorder recorder;
    SerialPort port (peer.getPortName(), settings);
    SerialPortOutputStream output (&port);

    // The writer thread also sends, unflushed, what it finds queued when it wakes; a few
    // tries rule out its waking between the write and the flush.
    bool sentByFlush = false;

    for (int attempt = 0; attempt < 3 && ! sentByFlush; ++attempt)
    {
        output.write ("request", 7);
        output.flush();
        ASSERT_TRUE (waitUntil ([&] { return output.getPendingCount() == 0; }));
        sentByFlush = ! recorder.getOnWriterThread().back();
    }

    EXPECT_TRUE (sentByFlush);
}

TEST (PortDiscovery, PortsFromTheEnvironmentFollowTheDiscoveredOnes)
{
    ASSERT_EQ (setenv ("USB_FILE_UTILITY_PORTS", "/dev/pts/7;/dev/ttyS4", 1), 0);
    const auto ports = findSerialPorts (1);
    unsetenv ("USB_FILE_UTILITY_PORTS");

    const auto names = ports.getAllKeys();
    ASSERT_GE (names.size(), 2);
    EXPECT_EQ (names[names.size() - 2], "/dev/pts/7");
    EXPECT_EQ (names[names.size() - 1], "/dev/ttyS4");
    EXPECT_EQ (ports["/dev/ttyS4"], "/dev/ttyS4");
}
