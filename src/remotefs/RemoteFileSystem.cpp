// The device's file-system operations: one request each, answered within 1000 ms.

#include "protocol/VeltraneClient.h"
#include "app/ILogger.h"

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

int VeltraneClient::openRemoteFile (const juce::String& path, int mode, juce::int64& handle, juce::int64* size)
{
    FileOpenRequest request (path, mode);
    auto response = exchange<FileOpenResponse> (*this, request);

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

int VeltraneClient::closeRemoteFile (juce::int64 handle)
{
    FileCloseRequest request (handle);

    if (sendRequestAndWait (request, operationTimeoutMs) == nullptr)
    {
        logLine ("failed to close remote file");
        return -1;
    }

    return 0;
}

int VeltraneClient::deleteRemoteEntry (const juce::String& path)
{
    FileSystemEntryDeleteRequest request (path);
    return sendRequestAndWait (request, operationTimeoutMs) != nullptr ? 0 : -1;
}

int VeltraneClient::createRemoteFolder (const juce::String& path)
{
    FileSystemEntryCreateRequest request (path);
    return sendRequestAndWait (request, operationTimeoutMs) != nullptr ? 0 : -1;
}

int VeltraneClient::moveRemoteEntry (const juce::String& fromPath, const juce::String& toPath, bool isFolder)
{
    FileSystemEntryMoveRequest request (fromPath, toPath, isFolder);
    return sendRequestAndWait (request, operationTimeoutMs) != nullptr ? 0 : -1;
}

int VeltraneClient::getRemoteEntryInfo (const juce::String& path, bool isFolder, FileSystemEntryInfo& info)
{
    FileSystemEntryInfoRequest request (path, isFolder);
    auto response = exchange<FileSystemEntryInfoResponse> (*this, request);

    if (response == nullptr)
        return -1;

    info = response->getInfo();
    return 0;
}

int VeltraneClient::getFolderContents (const juce::String& path, juce::StringArray* fileNames, juce::StringArray* folderNames)
{
    FolderContentsRequest request (path);
    auto response = exchange<FolderContentsResponse> (*this, request);

    if (response == nullptr)
        return -1;

    if (fileNames != nullptr)
        *fileNames = response->getFileNames();

    if (folderNames != nullptr)
        *folderNames = response->getFolderNames();

    return 0;
}

int VeltraneClient::identifyDevice (DeviceIdentity& identity)
{
    WhoAmIRequest request;
    auto response = exchange<WhoAmIResponse> (*this, request);

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
