#pragma once

#include "remotefs/FileTransfer.h"
#include "protocol/VeltraneClient.h"
#include "support/CapturingLogger.h"
#include "support/SimulatedDevice.h"

/** A client connected to a simulated device, with every log line captured. */
class ClientSession : public testing::Test
{
protected:
    void TearDown() override
    {
        client.detachPort();
        port.reset();
    }

    /** Starts the device with the given fault rules and attaches its port. */
    void connect (const juce::StringArray& rules = {}, const juce::StringArray& arguments = {})
    {
        ASSERT_TRUE (device.start (rules, arguments));
        port = device.openPort();
        ASSERT_TRUE (port->isOpen());
        client.attachPort (port.get());
    }

    juce::StringArray lines() const { return logger.getLines(); }
    juce::String lastLine() const   { auto all = lines(); return all[all.size() - 1]; }

    /** The expected lines, in order. */
    static juce::StringArray linesOf (std::initializer_list<juce::String> expected)
    {
        juce::StringArray all;
        for (auto& line : expected)
            all.add (line);
        return all;
    }

    /** The serial number the next request will carry. */
    static juce::String nextSerial() { return juce::String (VeltraneClientRequest::peekSerialNumber()); }

    /** A folder on the host for the test's local files. */
    juce::File localFolder()
    {
        if (local == nullptr)
        {
            local = std::make_unique<juce::TemporaryFile> ("local");
            local->getFile().createDirectory();
        }

        return local->getFile();
    }

    ~ClientSession() override
    {
        if (local != nullptr)
            local->getFile().deleteRecursively();
    }

    SimulatedDevice device;
    CapturingLogger logger;
    VeltraneClient client;
    FileTransfer transfer { client };
    RemoteFileSystem& files = transfer.getFileSystem();
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<juce::TemporaryFile> local;
};
