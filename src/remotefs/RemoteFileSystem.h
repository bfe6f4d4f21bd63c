#pragma once

#include "protocol/DeviceIdentity.h"
#include "protocol/FileSystemEntryInfo.h"

#include <juce_core/juce_core.h>

class VeltraneClient;

/** The device's file system, one request per operation.

    Each operation builds its request, exchanges it with the client's sendRequestAndWait
    (waiting up to 1000 ms), returns 0 on success and -1 on failure, writes its
    out-parameters only on success, and blocks the caller until the device has answered
    or the wait has run out. The failure's reason is in the log. Holds no state of its own:
    any number of these may share one client, one thread at a time. */
class RemoteFileSystem
{
public:
    explicit RemoteFileSystem (VeltraneClient& client) noexcept : client (client) {}

    /** mode 1 opens an existing file for reading (the answer gives its size), mode 0
        creates a file for writing. */
    int openRemoteFile (const juce::String& path, int mode, juce::int64& handle, juce::int64* size = nullptr);
    int closeRemoteFile (juce::int64 handle);
    int deleteRemoteEntry (const juce::String& path);
    int createRemoteFolder (const juce::String& path);

    /** Sends the move as it is: what the device does with an existing destination is the
        device's business (some replace it). Operators' moves go through moveWithoutReplacing. */
    int moveRemoteEntry (const juce::String& fromPath, const juce::String& toPath, bool isFolder);
    int getRemoteEntryInfo (const juce::String& path, bool isFolder, FileSystemEntryInfo& info);

    /** Each list that is given is replaced by the folder's names, in the device's order. An
        answer that filled its frame may have been cut short by the device: then the log says
        so, and lastListingMayBeCut() is true until the next listing. */
    int getFolderContents (const juce::String& path, juce::StringArray* fileNames, juce::StringArray* folderNames);
    bool lastListingMayBeCut() const noexcept     { return listingMayBeCut; }
    int identifyDevice (DeviceIdentity& identity);

    //==============================================================================
    /** A move that never replaces: asks for the destination first, as a file and as a
        folder, and refuses (with a log line) when either exists or can't be asked for. */
    int moveWithoutReplacing (const juce::String& fromPath, const juce::String& toPath, bool isFolder);

    /** True when the device answers that an entry of that kind exists at path; false when
        it says there is none or doesn't answer (then the log says why). */
    bool exists (const juce::String& path, bool isFolder);

    enum class EntryKind { missing, file, folder, unknown };

    /** What is at path, read from its parent folder's listing, which names files and
        folders apart (what an information request answers for an entry of the other kind
        is the device's business). "/" is a folder; unknown when the parent can't be
        listed (the log says why). */
    EntryKind kindOf (const juce::String& path);

    /** True when the device reports a file at remotePath of exactly expectedSize bytes;
        otherwise logs what it reports. */
    bool confirmFileSize (const juce::String& remotePath, juce::int64 expectedSize);

    VeltraneClient& getClient() noexcept     { return client; }

private:
    VeltraneClient& client;
    bool listingMayBeCut = false;
};
