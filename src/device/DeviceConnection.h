#pragma once

#include "protocol/DeviceIdentity.h"
#include "protocol/VeltraneClient.h"
#include "transport/SerialPort.h"

/** The device on one port: opened with the device's fixed line settings, attached to a
    client, identified. Owns the open port; the client is borrowed and must outlive it. */
class DeviceConnection
{
public:
    /** 115200 baud, 8 data bits, no parity, one stop bit, hardware handshake. */
    static const SerialPortSettings deviceLineSettings;

    explicit DeviceConnection (VeltraneClient& client) noexcept : client (client) {}

    /** Detaches and closes the port, if one is held. */
    ~DeviceConnection();

    /** Closes any held port, then opens portName and attaches it to the client. Logs
        "Successfully opened port" or "Failed to open port"; false when it didn't open. */
    bool open (const juce::String& portName);

    /** Closes the port's handle, which ends its stream threads; the object stays until
        discard (a port closed from another thread is discarded by its owner). */
    void closePort();

    /** Closes the port, detaches it from the client and lets it go. */
    void discard();

    bool isOpen() const noexcept           { return port != nullptr; }
    SerialPort* getPort() noexcept         { return port.get(); }

    /** Asks the device who it is; logs "Error requesting device info." when it doesn't say. */
    bool identify (DeviceIdentity& identity);

    /** The identification as the log shows it: "Found device: familyID=0x012, deviceID=0x003.",
        "Protocol version=0x0100, Firmware version=0x0204.", then the two texts. */
    static juce::StringArray describe (const DeviceIdentity& identity);

private:
    VeltraneClient& client;
    std::unique_ptr<SerialPort> port;

    JUCE_DECLARE_NON_COPYABLE (DeviceConnection)
};
