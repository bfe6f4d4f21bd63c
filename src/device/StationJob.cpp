#include "device/StationJob.h"
#include "device/FirmwareInstaller.h"
#include "remotefs/HostPaths.h"
#include "base/ILogger.h"

bool StationJob::Upload::parse (const juce::String& text, Upload& upload)
{
    const auto equals = text.indexOfChar ('=');

    if (equals <= 0)
        return false;

    upload = { text.substring (0, equals).trim(), text.substring (equals + 1).trim() };
    return true;
}

bool StationJob::check() const
{
    bool ok = true;

    if (imagePath.isNotEmpty())
    {
        const auto image = resolveLocalPath (imagePath);
        ok = FirmwareInstaller::checkImageFile (imagePath) && ok;

        if (image.existsAsFile() && image.createInputStream() == nullptr)
        {
            logLine ("Can't read the update file " + imagePath);
            ok = false;
        }
    }

    for (const auto& upload : uploads)
    {
        const auto local = resolveLocalPath (upload.localPath);

        if (! local.exists())
        {
            logLine ("No file or folder " + upload.localPath + " to send");
            ok = false;
        }
        else if (upload.remotePath.isEmpty() || ! upload.remotePath.startsWithChar ('/'))
        {
            logLine ("Where " + upload.localPath + " goes must be a device path starting with /");
            ok = false;
        }
    }

    if (macFolder.isNotEmpty())
    {
        const auto folder = resolveLocalPath (macFolder);

        if (! folder.isDirectory() && ! folder.createDirectory())
        {
            logLine ("Can't make the folder for MAC-address files " + macFolder);
            ok = false;
        }
    }

    return ok;
}
