#pragma once

#include "support/SimulatedDevice.h"
#include "support/SimulatorProcess.h"

#include "protocol/FrameCutter.h"
#include "protocol/VeltraneNotifications.h"
#include "protocol/VeltraneRequests.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>

/** The host's end of the simulator's pty, in plain POSIX: writes request frames and cuts
    what comes back into frames. */
class SimulatorConnection
{
public:
    static constexpr int answerTimeoutMs = 5000;

    ~SimulatorConnection() { close(); }

    bool open (const juce::String& path)
    {
        close();
        fd = ::open (path.toRawUTF8(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

        if (fd < 0)
            return false;

        termios settings {};
        ::tcgetattr (fd, &settings);
        ::cfmakeraw (&settings);
        ::tcsetattr (fd, TCSANOW, &settings);
        return true;
    }

    void close()
    {
        if (fd >= 0)
            ::close (fd);

        fd = -1;
        cutter.discardPartialFrame();
        frames.clear();
    }

    int getFd() const noexcept { return fd; }

    bool sendBytes (const void* data, size_t count)
    {
        auto* bytes = static_cast<const char*> (data);

        while (count > 0)
        {
            const auto n = ::write (fd, bytes, count);

            if (n < 0 && (errno == EAGAIN || errno == EINTR))
            {
                pollfd writable { fd, POLLOUT, 0 };
                ::poll (&writable, 1, 1000);
                continue;
            }

            if (n <= 0)
                return false;

            bytes += n;
            count -= (size_t) n;
        }

        return true;
    }

    bool sendBytes (const juce::MemoryBlock& block) { return sendBytes (block.getData(), block.getSize()); }

    bool send (VeltraneClientRequest& request)
    {
        juce::MemoryOutputStream frame;
        return request.write (frame) && sendBytes (frame.getData(), frame.getDataSize());
    }

    /** Up to count bytes as they come, before any frame cutting; fewer when timeoutMs passes. */
    juce::MemoryBlock receiveBytes (size_t count, int timeoutMs = answerTimeoutMs)
    {
        juce::MemoryBlock received;
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (received.getSize() < count)
        {
            char buffer[4096];
            const auto n = readSome (buffer, juce::jmin (sizeof (buffer), count - received.getSize()), end);

            if (n <= 0)
                break;

            received.append (buffer, (size_t) n);
        }

        return received;
    }

    /** The next complete frame, or nullptr when none completes within timeoutMs. */
    std::unique_ptr<ReceivedMessage> receiveFrame (int timeoutMs = answerTimeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (frames.empty())
        {
            char buffer[16384];
            const auto n = readSome (buffer, sizeof (buffer), end);

            if (n <= 0)
                return nullptr;

            cutter.cut (buffer, (size_t) n, [this] (std::unique_ptr<ReceivedMessage> frame)
            {
                frames.push_back (std::move (frame));
            });
        }

        auto frame = std::move (frames.front());
        frames.pop_front();
        return frame;
    }

    /** The next frame as a response (its header read), or nullptr. */
    std::unique_ptr<VeltraneClientResponse> receiveResponse (int timeoutMs = answerTimeoutMs)
    {
        auto frame = receiveFrame (timeoutMs);

        if (frame == nullptr)
            return nullptr;

        const auto id = frame->readShort();
        frame->readInt();
        return createResponse (id, std::move (frame));
    }

    /** Sends the request and returns its answer if it is a Response of that class with the
        request's serial number; otherwise records a test failure and returns nullptr. */
    template <typename Response>
    std::unique_ptr<Response> exchange (VeltraneClientRequest& request)
    {
        if (! send (request))
        {
            ADD_FAILURE() << "could not send the request";
            return nullptr;
        }

        auto response = receiveResponse();

        if (response == nullptr)
        {
            ADD_FAILURE() << "no answer to serial " << request.getSerialNumber();
            return nullptr;
        }

        EXPECT_EQ (response->getSerialNumber(), request.getSerialNumber());
        EXPECT_FALSE (response->isMalformed());

        if (auto* typed = dynamic_cast<Response*> (response.get()))
        {
            response.release();
            return std::unique_ptr<Response> (typed);
        }

        if (auto* failure = dynamic_cast<FailureResponse*> (response.get()))
            ADD_FAILURE() << "refused: " << failure->getFailureText();
        else
            ADD_FAILURE() << "answered with id " << response->getMessageId();

        return nullptr;
    }

    /** The failure text when the request is refused; records a test failure otherwise. */
    juce::String expectRefusal (VeltraneClientRequest& request)
    {
        send (request);
        auto response = receiveResponse();
        auto* failure = dynamic_cast<FailureResponse*> (response.get());

        if (failure == nullptr)
        {
            ADD_FAILURE() << "not refused: answer id " << (response != nullptr ? response->getMessageId() : -1);
            return {};
        }

        EXPECT_EQ (failure->getSerialNumber(), request.getSerialNumber());
        return failure->getFailureText().isEmpty() ? juce::String ("(empty)") : failure->getFailureText();
    }

private:
    ssize_t readSome (char* buffer, size_t size, juce::uint32 endMs)
    {
        for (;;)
        {
            const auto n = ::read (fd, buffer, size);

            if (n > 0)
                return n;

            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return -1;

            const auto now = juce::Time::getMillisecondCounter();

            if (now >= endMs)
                return 0;

            pollfd readable { fd, POLLIN, 0 };
            ::poll (&readable, 1, (int) (endMs - now));
        }
    }

    int fd = -1;
    FrameCutter cutter;
    std::deque<std::unique_ptr<ReceivedMessage>> frames;
};

/** A simulator serving a fresh temporary folder, and a connection to it. */
class SimulatorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A random name: tests run in parallel processes, which would all pick the same
        // "next free" name.
        root = juce::File::createTempFile ("simulator-test");
        ASSERT_TRUE (root.createDirectory());
        ASSERT_TRUE (hostFile ("/mnt/nandfs").createDirectory());
    }

    void TearDown() override
    {
        connection.close();
        simulator.stop();
        root.deleteRecursively();
    }

    /** Starts the simulator on the root folder with these further arguments and connects. */
    void start (const juce::StringArray& arguments = {})
    {
        auto all = juce::StringArray { "--root", root.getFullPathName() };
        all.addArray (arguments);
        ASSERT_TRUE (simulator.start (all)) << all.joinIntoString (" ").toStdString();
        ASSERT_TRUE (connection.open (simulator.getPtyPath()));
    }

    /** The host file behind a device path. */
    juce::File hostFile (const juce::String& devicePath) const { return root.getChildFile (devicePath.substring (1)); }

    /** The host path behind a device path, as bytes. */
    std::string hostPath (const std::string& devicePath) const
    {
        return root.getFullPathName().toStdString() + devicePath;
    }

    /** Writes a host file whose device path may hold any bytes. */
    bool writeHostFile (const std::string& devicePath, const std::string& content) const
    {
        std::ofstream out (hostPath (devicePath), std::ios::binary);
        out << content;
        return out.good();
    }

    static juce::MemoryBlock pattern (size_t size, int seed = 1)
    {
        return SimulatedDevice::pattern (size, seed);
    }

    /** Opens a device file and returns its handle, or -1 after recording a failure. */
    juce::int64 openFile (const juce::String& path, int mode, juce::int64* size = nullptr)
    {
        FileOpenRequest open (path, mode);
        auto opened = connection.exchange<FileOpenResponse> (open);

        if (opened == nullptr)
            return -1;

        if (size != nullptr)
            *size = opened->getSize();

        return opened->getHandle();
    }

    juce::File root;
    SimulatorProcess simulator;
    SimulatorConnection connection;
};
