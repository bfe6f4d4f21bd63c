#pragma once

#include "device/DeviceConnection.h"
#include "remotefs/FileTransfer.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <condition_variable>
#include <deque>
#include <mutex>

/** One device on one port, for Python: each call blocks its thread (with the GIL released)
    until the device has answered, and returns its result or raises an exception with the
    log's text. Used by one thread at a time; two of them on two ports run in parallel. */
class PythonDevice : private IVeltraneClientListener
{
public:
    /** Opens port (a port name, a discovered device's name or a path; empty: the one port
        there is). Raises PortError when there is none, several, or it can't be opened. */
    explicit PythonDevice (const juce::String& port);
    ~PythonDevice() override;

    void close();
    pybind11::object identify();
    pybind11::list list (const juce::String& path, bool longListing);
    void get (const juce::String& remote, const juce::String& local, const pybind11::object& progress);
    void put (const juce::String& local, const juce::String& remote, bool verify, const pybind11::object& progress);
    void getTree (const juce::String& remote, const juce::String& local, const pybind11::object& progress);
    void putTree (const juce::String& local, const juce::String& remote, bool verify, const pybind11::object& progress);
    void remove (const juce::String& path);
    void makeFolder (const juce::String& path);
    void move (const juce::String& from, const juce::String& to);
    pybind11::bytes readBytes (const juce::String& path);
    std::string update (const juce::String& image, bool force, bool verify);

    /** The next notification, or None once timeoutSeconds pass without one (negative: wait
        until there is one). Ctrl-C stops the wait. */
    pybind11::object nextNotification (double timeoutSeconds);

    const juce::String& getPortName() const noexcept   { return portName; }

private:
    /** Runs operation with the GIL released; raises DeviceError (with path) when it fails,
        TransferCancelled when Ctrl-C stopped it. */
    void run (const juce::String& path, const pybind11::object& progress, const std::function<bool()>& operation);
    bool isFolder (const juce::String& path);
    void requireOpen() const;

    void onEvent (juce::int32 eventId, juce::int64 argument) override;
    void onPropertyValueChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, juce::int32 value) override;
    void onPropertyTextChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, const juce::String& text) override;

    struct Notification
    {
        std::string kind;
        std::vector<juce::uint16> path;
        juce::int64 id = 0, value = 0;
        juce::String text;
        bool hasText = false;
    };
    void push (Notification notification);

    juce::String portName;
    VeltraneClient client;
    DeviceConnection connection { client };
    FileTransfer transfer { client };

    std::mutex notificationLock;
    std::condition_variable notificationArrived;
    std::deque<Notification> notifications;   // guarded by notificationLock
};
