#include "device/DeviceConnection.h"
#include "remotefs/RemoteFileSystem.h"
#include "base/ILogger.h"

const SerialPortSettings DeviceConnection::deviceLineSettings { 115200, 8, 0, 0, 1 };

DeviceConnection::~DeviceConnection()
{
    discard();
}

bool DeviceConnection::open (const juce::String& portName)
{
    discard();
    port = std::make_unique<SerialPort> (portName, deviceLineSettings);

    if (! port->isOpen())
    {
        logLine ("Failed to open port");
        port.reset();
        return false;
    }

    logLine ("Successfully opened port");
    client.attachPort (port.get());
    return true;
}

void DeviceConnection::closePort()
{
    if (port != nullptr)
        port->close();
}

void DeviceConnection::discard()
{
    if (port == nullptr)
        return;

    port->close();
    client.detachPort();   // the stream threads end before the port object goes
    port.reset();
}

bool DeviceConnection::identify (DeviceIdentity& identity)
{
    if (RemoteFileSystem (client).identifyDevice (identity) == 0)
        return true;

    logLine ("Error requesting device info.");
    return false;
}

juce::StringArray DeviceConnection::describe (const DeviceIdentity& identity)
{
    return { juce::String::formatted ("Found device: familyID=0x%.3x, deviceID=0x%.3x.",
                                      (unsigned) identity.familyId, (unsigned) identity.deviceId),
             juce::String::formatted ("Protocol version=0x%.4x, Firmware version=0x%.4x.",
                                      (unsigned) identity.protocolVersion, (unsigned) identity.firmwareVersion),
             identity.firstText,
             identity.secondText };
}
