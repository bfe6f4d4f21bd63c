#include "SimulatorTestSupport.h"

#include "protocol/FrameBuilder.h"

#include <sys/file.h>
#include <sys/ioctl.h>

namespace
{
/** Waits until the simulator has noticed that the host closed the pty: it lifts the
    exclusive use that the host had set, which a probe can see. */
bool waitForSimulatorToSeeTheClose (const juce::String& ptyPath, int timeoutMs = 5000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (juce::Time::getMillisecondCounter() < end)
    {
        const int probe = ::open (ptyPath.toRawUTF8(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        int exclusive = 1;

        if (probe >= 0)
        {
            ::ioctl (probe, TIOCGEXCL, &exclusive);
            ::close (probe);
        }

        if (probe >= 0 && exclusive == 0)
            return true;

        juce::Thread::sleep (20);
    }

    return false;
}

juce::StringArray readLines (const juce::File& file)
{
    juce::StringArray lines;
    lines.addLines (file.loadFileAsString());
    lines.removeEmptyStrings();
    return lines;
}
} // namespace

using SimulatorSession = SimulatorTest;

TEST_F (SimulatorSession, LogsEveryRequestWithItsFields)
{
    auto logFile = root.getSiblingFile (root.getFileName() + ".log");
    ASSERT_TRUE (hostFile ("/mnt/nandfs/usr").createDirectory());
    ASSERT_EQ (::mkdir (hostPath ("/mnt/nandfs/caf\xe9").c_str(), 0777), 0);
    start ({ "--log", logFile.getFullPathName() });

    WhoAmIRequest whoAmI;
    FolderContentsRequest list ("/mnt/nandfs/usr");
    FileSystemEntryInfoRequest info ("/mnt/nandfs/a b", true);
    FileSystemEntryCreateRequest create ("/mnt/nandfs/new");
    FileSystemEntryMoveRequest move ("/mnt/nandfs/new", "/mnt/nandfs/old", true);
    FileSystemEntryDeleteRequest remove ("/mnt/nandfs/old");
    GetPropertyRequest property ({ 1, 2 }, 0x8001);
    EXPECT_NE (connection.exchange<WhoAmIResponse> (whoAmI), nullptr);
    EXPECT_NE (connection.exchange<FolderContentsResponse> (list), nullptr);
    EXPECT_NE (connection.exchange<FileSystemEntryInfoResponse> (info), nullptr);
    EXPECT_NE (connection.exchange<SuccessResponse> (create), nullptr);
    EXPECT_NE (connection.exchange<SuccessResponse> (move), nullptr);
    EXPECT_NE (connection.exchange<SuccessResponse> (remove), nullptr);
    EXPECT_NE (connection.exchange<GetPropertyResponse> (property), nullptr);

    const auto openSerial = VeltraneClientRequest::peekSerialNumber();
    const auto handle = openFile ("/mnt/nandfs/f.bin", 0);
    juce::MemoryInputStream source ("abc", 3, false);
    FileWriteRequest write (handle, source);
    FileSeekRequest seek (handle, 1, 0);
    FileReadRequest read (handle, 10000);
    FileCloseRequest close (handle);
    EXPECT_NE (connection.exchange<SuccessResponse> (write), nullptr);
    EXPECT_NE (connection.exchange<SuccessResponse> (seek), nullptr);
    EXPECT_NE (connection.exchange<FileReadResponse> (read), nullptr);
    EXPECT_NE (connection.exchange<SuccessResponse> (close), nullptr);

    // A name the host has only as bytes is logged with escapes.
    FolderContentsRequest listLatin1 ("/");
    ASSERT_TRUE (connection.sendBytes (FrameBuilder (0x0011).int32 (listLatin1.getSerialNumber())
                                           .rawText ("/mnt/nandfs/caf\xe9", 16).getFrame()));
    EXPECT_NE (connection.receiveResponse(), nullptr);

    auto serial = [] (const VeltraneClientRequest& r) { return "serial=" + juce::String (r.getSerialNumber()); };
    const auto h = "handle=" + juce::String (handle);

    EXPECT_EQ (readLines (logFile), juce::StringArray (juce::Array<juce::String> {
        "WhoAmIRequest " + serial (whoAmI),
        "FolderContentsRequest " + serial (list) + " path=/mnt/nandfs/usr",
        "FileSystemEntryInfoRequest " + serial (info) + " isFolder=1 path=\"/mnt/nandfs/a b\"",
        "FileSystemEntryCreateRequest " + serial (create) + " path=/mnt/nandfs/new flags=1,1",
        "FileSystemEntryMoveRequest " + serial (move) + " isFolder=1 from=/mnt/nandfs/new to=/mnt/nandfs/old flags=0,1",
        "FileSystemEntryDeleteRequest " + serial (remove) + " path=/mnt/nandfs/old flags=1,1,0",
        "GetPropertyRequest " + serial (property) + " propertyPath=1,2 id=0x8001",
        "FileOpenRequest serial=" + juce::String (openSerial) + " path=/mnt/nandfs/f.bin access=2 mode=0",
        "FileWriteRequest " + serial (write) + " " + h + " count=3",
        "FileSeekRequest " + serial (seek) + " " + h + " position=1 mode=0",
        "FileReadRequest " + serial (read) + " " + h + " count=8169",
        "FileCloseRequest " + serial (close) + " " + h,
        "FolderContentsRequest " + serial (listLatin1) + " path=\"/mnt/nandfs/caf\\xe9\"" }));

    logFile.deleteFile();
}

TEST_F (SimulatorSession, SurvivesGarbageAndDropsBadHeadersSixBytesAtATime)
{
    start();

    // Bytes from 0x81 up make an invalid id at every offset, so all of them are dropped.
    juce::Random random (7);
    juce::MemoryBlock badHeaders (6 * 500);

    for (size_t i = 0; i < badHeaders.getSize(); ++i)
        badHeaders[i] = (char) (0x81 + random.nextInt (0x7F));

    ASSERT_TRUE (connection.sendBytes (badHeaders));
    WhoAmIRequest afterBadHeaders;
    EXPECT_NE (connection.exchange<WhoAmIResponse> (afterBadHeaders), nullptr);

    // A request that dribbles in byte by byte is put together and answered.
    FolderContentsRequest dribbled ("/mnt/nandfs");
    juce::MemoryOutputStream frame;
    ASSERT_TRUE (dribbled.write (frame));

    for (size_t i = 0; i < frame.getDataSize(); ++i)
    {
        ASSERT_TRUE (connection.sendBytes (static_cast<const char*> (frame.getData()) + i, 1));
        juce::Thread::sleep (2);
    }

    auto listing = connection.receiveResponse();
    ASSERT_NE (dynamic_cast<FolderContentsResponse*> (listing.get()), nullptr);
    EXPECT_EQ (listing->getSerialNumber(), dribbled.getSerialNumber());

    // Frames with valid headers and random payloads, for every request id: each is answered
    // with its serial number, or refused, and the simulator lives on.
    for (int i = 0; i < 300; ++i)
    {
        static const int ids[] = { 0x00, 0x04, 0x07, 0x08, 0x09, 0x0A, 0x0C, 0x0E, 0x0F, 0x10, 0x11, 0x13, 0x1A, 0x30 };
        const auto id = ids[random.nextInt ((int) std::size (ids))];
        const auto serial = 1000 + i;
        FrameBuilder frame ((juce::uint16) id);
        frame.int32 (serial);

        for (int k = random.nextInt (40); --k >= 0;)
            frame.byte (random.nextInt (256));

        ASSERT_TRUE (connection.sendBytes (frame.getFrame()));
        auto answer = connection.receiveResponse();
        ASSERT_NE (answer, nullptr) << "id " << id;
        EXPECT_EQ (answer->getSerialNumber(), serial);
    }

    EXPECT_TRUE (simulator.isRunning());
}

TEST_F (SimulatorSession, HostCanCloseAndReopenAndFindsNothingLeftOfTheLastSession)
{
    start ({ "--rule", "FolderContentsRequest#1 delay 800" });

    // The simulator takes no lock: the host can have the port to itself.
    EXPECT_EQ (::flock (connection.getFd(), LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ (::ioctl (connection.getFd(), TIOCEXCL), 0);

    WhoAmIRequest before;
    EXPECT_NE (connection.exchange<WhoAmIResponse> (before), nullptr);

    // A request whose answer is still on its way and half a frame, then the host goes.
    FolderContentsRequest pending ("/mnt/nandfs");
    ASSERT_TRUE (connection.send (pending));
    WhoAmIRequest halfSent;
    juce::MemoryOutputStream half;
    halfSent.write (half);
    ASSERT_TRUE (connection.sendBytes (half.getData(), 4));
    connection.close();

    ASSERT_TRUE (waitForSimulatorToSeeTheClose (simulator.getPtyPath()));
    ASSERT_TRUE (connection.open (simulator.getPtyPath()));
    juce::Thread::sleep (1200);   // past the time the pending answer was due

    WhoAmIRequest after;
    EXPECT_NE (connection.exchange<WhoAmIResponse> (after), nullptr);
    EXPECT_EQ (connection.receiveFrame (300), nullptr);
}

TEST_F (SimulatorSession, KeepsALinkToThePtyAndRemovesItWhenTerminated)
{
    auto link = root.getSiblingFile (root.getFileName() + "-port");
    start ({ "--link", link.getFullPathName() });

    ASSERT_TRUE (link.isSymbolicLink());
    EXPECT_EQ (link.getLinkedTarget().getFullPathName(), simulator.getPtyPath());

    SimulatorConnection throughLink;
    ASSERT_TRUE (throughLink.open (link.getFullPathName()));
    WhoAmIRequest whoAmI;
    EXPECT_NE (throughLink.exchange<WhoAmIResponse> (whoAmI), nullptr);

    EXPECT_EQ (simulator.stop(), 0);
    EXPECT_FALSE (link.isSymbolicLink());
    EXPECT_FALSE (link.exists());
}

TEST_F (SimulatorSession, InterruptAndIdleTimeEndItCleanly)
{
    start();
    ASSERT_EQ (::kill (simulator.getProcessId(), SIGINT), 0);
    EXPECT_EQ (simulator.waitForExit (10000), 0);

    start ({ "--exit-after-idle", "1" });
    WhoAmIRequest whoAmI;
    EXPECT_NE (connection.exchange<WhoAmIResponse> (whoAmI), nullptr);
    EXPECT_EQ (simulator.waitForExit (15000), 0);
}
