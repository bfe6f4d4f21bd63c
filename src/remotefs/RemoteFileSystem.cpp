// The device's file-system operations: one request each, answered within 1000 ms.

#include "remotefs/RemoteFileSystem.h"
#include "remotefs/RemoteListing.h"
#include "protocol/VeltraneClient.h"
#include "base/ILogger.h"

namespace
{
constexpr int operationTimeoutMs = 1000;

template <typename Response>
std::unique_ptr<Response> exchange (VeltraneClient& client, VeltraneClientRequest& request)
{
    auto response = client.sendRequestAndWait (request, operationTimeoutMs);
    // sendRequestAndWait has checked the class against the one the request expects.
    return std::unique_ptr<Response> (dynamic_cast<Response*> (response.release()));
}
} // namespace

int RemoteFileSystem::openRemoteFile (const juce::String& path, int mode, juce::int64& handle, juce::int64* size)
{
    FileOpenRequest request (path, mode);
    auto response = exchange<FileOpenResponse> (client, request);

    if (response == nullptr)
    {
        logLine ("failed to open remote file");
        return -1;
    }

    handle = response->getHandle();

    if (size != nullptr)
        *size = response->getSize();

    return 0;
}

int RemoteFileSystem::closeRemoteFile (juce::int64 handle)
{
    FileCloseRequest request (handle);

    if (client.sendRequestAndWait (request, operationTimeoutMs) == nullptr)
    {
        logLine ("failed to close remote file");
        return -1;
    }

    return 0;
}

int RemoteFileSystem::deleteRemoteEntry (const juce::String& path)
{
    FileSystemEntryDeleteRequest request (path);
    return client.sendRequestAndWait (request, operationTimeoutMs) != nullptr ? 0 : -1;
}

int RemoteFileSystem::createRemoteFolder (const juce::String& path)
{
    FileSystemEntryCreateRequest request (path);
    return client.sendRequestAndWait (request, operationTimeoutMs) != nullptr ? 0 : -1;
}

int RemoteFileSystem::moveRemoteEntry (const juce::String& fromPath, const juce::String& toPath, bool isFolder)
{
    FileSystemEntryMoveRequest request (fromPath, toPath, isFolder);
    return client.sendRequestAndWait (request, operationTimeoutMs) != nullptr ? 0 : -1;
}

int RemoteFileSystem::getRemoteEntryInfo (const juce::String& path, bool isFolder, FileSystemEntryInfo& info)
{
    FileSystemEntryInfoRequest request (path, isFolder);
    auto response = exchange<FileSystemEntryInfoResponse> (client, request);

    if (response == nullptr)
        return -1;

    info = response->getInfo();
    return 0;
}

int RemoteFileSystem::getFolderContents (const juce::String& path, juce::StringArray* fileNames, juce::StringArray* folderNames)
{
    FolderContentsRequest request (path);
    auto response = exchange<FolderContentsResponse> (client, request);
    listingMayBeCut = false;

    if (response == nullptr)
        return -1;

    if (response->mayBeCut())
    {
        listingMayBeCut = true;
        logLine (path + " may hold more entries than the device listed");
    }

    if (fileNames != nullptr)
        *fileNames = response->getFileNames();

    if (folderNames != nullptr)
        *folderNames = response->getFolderNames();

    return 0;
}

int RemoteFileSystem::identifyDevice (DeviceIdentity& identity)
{
    WhoAmIRequest request;
    auto response = exchange<WhoAmIResponse> (client, request);

    if (response == nullptr)
        return -1;

    identity.familyId = response->getFamilyId();
    identity.deviceId = response->getDeviceId();
    identity.protocolVersion = response->getProtocolVersion();
    identity.firmwareVersion = response->getFirmwareVersion();
    identity.firstText = response->getFirstText();
    identity.secondText = response->getSecondText();
    return 0;
}

//==============================================================================
bool RemoteFileSystem::exists (const juce::String& path, bool isFolder)
{
    FileSystemEntryInfo info;
    return getRemoteEntryInfo (path, isFolder, info) == 0 && info.exists;
}

RemoteFileSystem::EntryKind RemoteFileSystem::kindOf (const juce::String& path)
{
    const auto normalised = normaliseRemoteFolder (path);

    if (normalised == "/")
        return EntryKind::folder;

    const auto parent = normaliseRemoteFolder (normalised.upToLastOccurrenceOf ("/", false, false));
    const auto name = normalised.fromLastOccurrenceOf ("/", false, false);
    juce::StringArray fileNames, folderNames;

    if (getFolderContents (parent, &fileNames, &folderNames) != 0)
        return EntryKind::unknown;

    if (folderNames.contains (name))
        return EntryKind::folder;

    return fileNames.contains (name) ? EntryKind::file : EntryKind::missing;
}

int RemoteFileSystem::moveWithoutReplacing (const juce::String& fromPath, const juce::String& toPath, bool isFolder)
{
    // Asked as both kinds: a device may answer "exists" for only the kind it was asked for.
    FileSystemEntryInfo asFile, asFolder;

    if (getRemoteEntryInfo (toPath, false, asFile) != 0 || getRemoteEntryInfo (toPath, true, asFolder) != 0)
    {
        logLine ("Not moving " + fromPath + ": can't tell whether " + toPath + " exists");
        return -1;
    }

    if (asFile.exists || asFolder.exists)
    {
        logLine ("Not moving " + fromPath + ": " + toPath + " exists");
        return -1;
    }

    return moveRemoteEntry (fromPath, toPath, isFolder);
}

bool RemoteFileSystem::confirmFileSize (const juce::String& remotePath, juce::int64 expectedSize)
{
    FileSystemEntryInfo info;

    if (getRemoteEntryInfo (remotePath, false, info) != 0)
        return false;

    if (info.exists && info.size == expectedSize)
        return true;

    logLine ("The device reports " + (info.exists ? juce::String (info.size) + " bytes" : juce::String ("no file"))
             + " for " + remotePath + ", expected " + juce::String (expectedSize) + " bytes");
    return false;
}
