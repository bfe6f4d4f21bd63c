#pragma once

#include "cli/CliOptions.h"
#include "device/DeviceConnection.h"
#include "device/RecordStore.h"
#include "remotefs/FileTransfer.h"

#include <functional>

class Console;
class ProgressLine;

/** The tool's exit codes. */
enum ExitCode
{
    exitSuccess = 0,
    exitFailed = 1,     ///< a device operation failed, or a tree entry wasn't copied
    exitUsage = 2,
    exitNoPort = 3
};

/** The tool's commands against the device; each gives the exit code. The command line
    names the one to run (CliOptions::run). */
class Commands : private IVeltraneClientListener
{
public:
    Commands (const CliOptions& options, Console& console);
    ~Commands() override;

    int ports();
    int identify();
    int list();
    int stat();
    int get();
    int cat();
    int put();
    int remove();
    int makeFolder();
    int move();
    int update();
    int getMac();
    int watch();
    int station();
    int history();
    int doctor();

private:
    /** rm and mkdir: the operation on each device path given (patterns matched first, when
        asked), with a JSON summary each. */
    int onEachEntry (const std::function<int (const juce::String&)>& operation, bool matchPatterns);

    /** The device paths of operands [first, end): a last part with * or ? is matched against
        its folder's listing. False (with a message) when a pattern matches nothing. */
    bool expandOperands (size_t first, size_t end, juce::StringArray& paths);

    /** One entry as ls shows it (with info: as ls -l). */
    void printEntry (const juce::String& name, bool isFolder, const FileSystemEntryInfo* info);
    bool listFolder (const juce::String& folder, const juce::StringArray& fileNames, const juce::StringArray& folderNames);
    bool showOneEntry (const juce::String& path, bool withInfo);

    /** get of one device entry to local (a folder, a file, or standard output). */
    bool getOne (const juce::String& remote, juce::File local, bool toOutput);

    /** Opens the chosen port and attaches it to the client; false when there is none. */
    bool connect();

    /** connect, then the device's identification: exitSuccess, exitNoPort or exitFailed. */
    int connectAndIdentify (DeviceIdentity& identity);

    /** The store for the devices' records (--records); nullptr, with the reason shown,
        when it can't be opened. */
    std::unique_ptr<RecordStore> openRecords();

    /** Appends the record of a one-device job (update, getmac) to an open store. */
    bool keepRecord (RecordStore& store, const juce::String& jobName, const JobStep& step,
                     const juce::String& macAddress, const juce::String& error, const juce::String& imagePath);

    /** The exit code of a device operation's result, 1 after Ctrl-C whatever it was. */
    int outcome (bool succeeded) const;

    /** The JSON summary of a transfer (only with --json). */
    void printSummary (const juce::String& remote, const juce::String& local, juce::int64 bytes,
                       const ProgressLine& progress, bool succeeded);

    juce::String deviceOperand (size_t index) const;
    juce::String localOperand (size_t index) const;
    static juce::String localText (const std::string& argument);

    void onEvent (juce::int32 eventId, juce::int64 argument) override;
    void onPropertyValueChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, juce::int32 value) override;
    void onPropertyTextChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, const juce::String& text) override;
    void onProcessTerminated (juce::int32 processId, juce::int32 exitCode) override;

    const CliOptions& options;
    Console& console;
    RemoteFileSystem& files() noexcept     { return transfer.getFileSystem(); }

    VeltraneClient client;
    DeviceConnection connection { client };
    FileTransfer transfer { client };
    bool printNotifications = false;
    juce::String connectedPort;
    const juce::Time startTime { juce::Time::getCurrentTime() };

    JUCE_DECLARE_NON_COPYABLE (Commands)
};
