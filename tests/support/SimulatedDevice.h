#pragma once

#include "support/SimulatorProcess.h"
#include "transport/SerialPort.h"

#include <gtest/gtest.h>

/** A device for a test: the simulator serving a fresh temporary folder, with its request
    log, and the host's serial port opened on the simulator's pty. */
class SimulatedDevice
{
public:
    SimulatedDevice()
        : root (juce::File::createTempFile ("simulated-device"))
    {
        root.createDirectory();
        root.getChildFile ("mnt/nandfs").createDirectory();
    }

    ~SimulatedDevice()
    {
        simulator.stop();
        root.deleteRecursively();
        getRequestLogFile().deleteFile();
    }

    /** Starts the simulator with the given fault rules and further arguments. */
    bool start (const juce::StringArray& rules = {}, const juce::StringArray& arguments = {})
    {
        juce::StringArray all { "--root", root.getFullPathName(), "--log", getRequestLogFile().getFullPathName() };

        for (auto& rule : rules)
            all.addArray ({ "--rule", rule });

        all.addArray (arguments);
        return simulator.start (all);
    }

    /** Opens the host's end of the line with the device's settings. */
    std::unique_ptr<SerialPort> openPort() const
    {
        return std::make_unique<SerialPort> (simulator.getPtyPath(), SerialPortSettings {});
    }

    /** The host file behind a device path such as /mnt/nandfs/x. */
    juce::File fileAt (const juce::String& devicePath) const
    {
        return root.getChildFile (devicePath.trimCharactersAtStart ("/"));
    }

    /** Writes a file on the device, creating its folders. */
    juce::File writeFile (const juce::String& devicePath, const juce::MemoryBlock& content) const
    {
        auto file = fileAt (devicePath);
        file.getParentDirectory().createDirectory();
        file.replaceWithData (content.getData(), content.getSize());
        return file;
    }

    juce::File writeFile (const juce::String& devicePath, const juce::String& text) const
    {
        return writeFile (devicePath, juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8()));
    }

    /** The requests the simulator received so far, one line each. */
    juce::StringArray getRequestLog() const
    {
        juce::StringArray lines;
        getRequestLogFile().readLines (lines);
        lines.removeEmptyStrings();
        return lines;
    }

    /** The received requests of one class, e.g. "FileCloseRequest". */
    juce::StringArray getRequests (const juce::String& requestClass) const
    {
        juce::StringArray matching;

        for (auto& line : getRequestLog())
            if (line.startsWith (requestClass + " "))
                matching.add (line);

        return matching;
    }

    juce::File getRoot() const { return root; }
    SimulatorProcess& getProcess() noexcept { return simulator; }

    /** Bytes that are the same every run, so that a transfer can be compared byte for byte. */
    static juce::MemoryBlock pattern (size_t size, int seed = 1)
    {
        juce::MemoryBlock block (size);
        juce::Random random (seed);

        for (size_t i = 0; i < size; ++i)
            block[i] = (char) random.nextInt (256);

        return block;
    }

private:
    juce::File getRequestLogFile() const { return root.getSiblingFile (root.getFileName() + "-requests.log"); }

    juce::File root;
    SimulatorProcess simulator;
};
