#pragma once

#include "device/DeviceConnection.h"

#include <juce_gui_basics/juce_gui_basics.h>

class MainPane;

/** The "Connection" tab: the device's port, "Connect" (open and identify the device),
    the firmware image file and "Update". It owns the open port, which it lends to the
    main pane's client. Everything runs on the message thread and blocks it while the
    device answers. */
class ConnectionPane : public juce::Component,
                       private juce::ComboBox::Listener,
                       private juce::Button::Listener,
                       private juce::TextEditor::Listener,
                       private juce::Timer
{
public:
    explicit ConnectionPane (MainPane& mainPane);

    /** Closes the port and detaches it from the client before the port object goes. */
    ~ConnectionPane() override;

    /** Opens the selected port with the fixed line settings and identifies the device.
        Returns true when the port opened and the device answered. */
    bool connectToSelectedPort();

    /** Installs the firmware image named in the update file box unless the device has the
        firmware already, then closes the port, also when it fails. Returns false when the
        image is missing or empty, couldn't be sent, or the update couldn't be triggered. */
    bool updateFirmware();

    /** Copies the device's MAC-address file to localPath. Returns true when it was copied. */
    bool readMacFile (const juce::String& localPath);

    /** Closes the held port, if any (the object stays until it is discarded). */
    void closePort();

    /** Closes and discards the port and leaves "Connect" as the only way on. */
    void disconnect()                                           { returnToIdle(); }

    bool holdsPort() const noexcept { return connection.isOpen(); }

    /** The port last opened, and the device's identification once it has given it. */
    const juce::String& getOpenedPortName() const noexcept      { return openedPortName; }
    const DeviceIdentity* getIdentity() const noexcept          { return identified ? &identity : nullptr; }

    /** The firmware image file the update box names. */
    juce::String getUpdateFilePath() const                      { return updateFileBox.getText(); }

    /** While no port is held, looks for ports that came or went and updates the list when
        it changed: the selected port stays selected while present, and "LastPort" is
        selected when it appears. Runs every two seconds. */
    void rescanPorts();

    /** Where panes built from now on get their port list (friendly name -> port name);
        nullptr goes back to findSerialPorts. Lets tests offer ports the host can't. */
    using PortFinder = juce::StringPairArray (*) (int filterIndex);
    static void usePortFinder (PortFinder finder) noexcept;

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void comboBoxChanged (juce::ComboBox* box) override;
    void buttonClicked (juce::Button* button) override;
    void textEditorTextChanged (juce::TextEditor&) override;
    void textEditorReturnKeyPressed (juce::TextEditor&) override;
    void textEditorFocusLost (juce::TextEditor&) override;

    void timerCallback() override;
    void fillPortList();
    void showPorts (const juce::String& portToSelect);
    void storeUpdateFilePath();
    void browseForUpdateFile();
    void discardPort();

    /** Closes and discards the port and leaves "Connect" as the only way on. */
    void returnToIdle();

    MainPane& mainPane;
    DeviceConnection connection;
    juce::String openedPortName;
    DeviceIdentity identity;
    bool identified = false;
    juce::StringPairArray ports { true };

    juce::Label serialPortLabel { "new label", "Serial Port" };
    juce::ComboBox portBox { "Com Port Box" };
    juce::TextButton connectButton { "Connect Button" };
    juce::TextButton updateButton { "Update Button" };
    juce::TextEditor updateFileBox { "remote folder" };
    juce::Label updateFileLabel { "new label2", "Update File" };
    juce::TextButton browseButton { "Browse Button" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConnectionPane)
};
