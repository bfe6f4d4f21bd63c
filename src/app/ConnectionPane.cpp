#include "app/ConnectionPane.h"
#include "app/HostDialogs.h"
#include "app/MainPane.h"
#include "app/Settings.h"
#include "transport/SerialPortDiscovery.h"

namespace
{
// Lets the stream threads see the closed port before its object goes.
constexpr int portReleaseWaitMs = 1000;

// How often the port list is looked at again while not connected.
constexpr int portRescanIntervalMs = 2000;

ConnectionPane::PortFinder installedPortFinder = nullptr;

void setUpLabel (juce::Label& label)
{
    label.setFont (juce::Font (15.0f, juce::Font::plain));
    label.setJustificationType (juce::Justification::centredRight);
    label.setEditable (false, false, false);
    label.setColour (juce::TextEditor::textColourId, juce::Colours::black);
    label.setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
}
} // namespace

ConnectionPane::ConnectionPane (MainPane& owner)
    : mainPane (owner), connection (owner.getClient())
{
    setUpLabel (serialPortLabel);
    addAndMakeVisible (serialPortLabel);

    portBox.setEditableText (false);
    portBox.setJustificationType (juce::Justification::centredLeft);
    portBox.setTextWhenNothingSelected ({});
    portBox.setTextWhenNoChoicesAvailable ("(no choices)");
    portBox.addListener (this);
    addAndMakeVisible (portBox);

    connectButton.setButtonText ("Connect");
    connectButton.addListener (this);
    addAndMakeVisible (connectButton);

    updateButton.setButtonText ("Update");
    updateButton.addListener (this);
    updateButton.setEnabled (false);
    addAndMakeVisible (updateButton);

    updateFileBox.setMultiLine (false);
    updateFileBox.setReturnKeyStartsNewLine (false);
    updateFileBox.setReadOnly (false);
    updateFileBox.setScrollbarsShown (true);
    updateFileBox.setCaretVisible (true);
    updateFileBox.setPopupMenuEnabled (true);
    updateFileBox.setColour (juce::TextEditor::backgroundColourId, juce::Colours::white);
    updateFileBox.setColour (juce::TextEditor::outlineColourId, juce::Colour (0x00000000));
    addAndMakeVisible (updateFileBox);

    setUpLabel (updateFileLabel);
    addAndMakeVisible (updateFileLabel);

    browseButton.setButtonText ("Browse");
    browseButton.addListener (this);
    addAndMakeVisible (browseButton);

    setSize (600, 400);
    fillPortList();

    updateFileBox.setText (Settings::get ("UpdateFileLocalPath"), true);
    updateFileBox.addListener (this);

    startTimer (portRescanIntervalMs);
}

ConnectionPane::~ConnectionPane()
{
    stopTimer();
    discardPort();
}

void ConnectionPane::usePortFinder (PortFinder finder) noexcept
{
    installedPortFinder = finder;
}

namespace
{
juce::StringPairArray findPorts()
{
    return installedPortFinder != nullptr ? installedPortFinder (1) : findSerialPorts (1);
}
} // namespace

void ConnectionPane::fillPortList()
{
    ports = findPorts();
    showPorts ({});

    // "LastPort" holds the text the box showed.
    const auto lastPort = Settings::get ("LastPort");

    for (int i = 0; i < portBox.getNumItems(); ++i)
        if (portBox.getItemText (i) == lastPort)
            portBox.setSelectedId (portBox.getItemId (i), juce::sendNotificationSync);
}

void ConnectionPane::showPorts (const juce::String& portToSelect)
{
    portBox.clear (juce::dontSendNotification);

    for (int i = 0; i < ports.size(); ++i)
    {
        const auto name = ports.getAllKeys()[i];
        // The box can't show an empty entry: a port without a friendly name shows its port name.
        const auto shown = name.isNotEmpty() ? name : ports.getAllValues()[i];
        portBox.addItem (shown, i + 1);

        if (portToSelect.isNotEmpty() && shown == portToSelect)
            portBox.setSelectedId (i + 1, juce::dontSendNotification);
    }
}

void ConnectionPane::timerCallback()
{
    rescanPorts();
}

void ConnectionPane::rescanPorts()
{
    if (connection.isOpen() || mainPane.isBusy())
        return;

    mainPane.setDroppingDiscoveryLines (true);
    const auto found = findPorts();
    mainPane.setDroppingDiscoveryLines (false);

    if (found.getAllKeys() == ports.getAllKeys() && found.getAllValues() == ports.getAllValues())
        return;

    const auto selected = portBox.getText();
    const auto lastPort = Settings::get ("LastPort");
    ports = found;
    showPorts (selected);

    if (portBox.getSelectedId() == 0)
        showPorts (lastPort);
}

void ConnectionPane::closePort()
{
    connection.closePort();
}

void ConnectionPane::discardPort()
{
    connection.discard();
}

void ConnectionPane::returnToIdle()
{
    mainPane.setDisconnected();
    discardPort();
    connectButton.setEnabled (true);
    updateButton.setEnabled (false);
}

bool ConnectionPane::connectToSelectedPort()
{
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return false;

    if (connection.isOpen())
    {
        connection.closePort();
        juce::Thread::sleep (portReleaseWaitMs);
        discardPort();
    }

    const auto index = portBox.getSelectedId() - 1;
    const auto portName = juce::isPositiveAndBelow (index, ports.size()) ? ports.getAllValues()[index] : juce::String();

    identified = false;

    if (! connection.open (portName))
        return false;

    openedPortName = portName;
    mainPane.setConnected();

    if (! connection.identify (identity))
        return false;

    identified = true;

    for (const auto& line : DeviceConnection::describe (identity))
        logLine (line);

    connectButton.setEnabled (false);
    updateButton.setEnabled (true);
    return true;
}

void ConnectionPane::comboBoxChanged (juce::ComboBox*)
{
    Settings::setAndSave ("LastPort", portBox.getText());
}

void ConnectionPane::buttonClicked (juce::Button* button)
{
    // A key or click handled while the device is busy starts nothing.
    if (mainPane.isBusy())
        return;

    if (button == &connectButton)
        connectToSelectedPort();
    else if (button == &updateButton)
        updateFirmware();
    else if (button == &browseButton)
        browseForUpdateFile();
}

void ConnectionPane::browseForUpdateFile()
{
    const auto chosen = HostDialogs::current().chooseFileToOpen ("Select update file...", {}, "*");

    if (chosen != juce::File())
    {
        updateFileBox.setText (chosen.getFullPathName(), true);
        storeUpdateFilePath();   // the box reports the change later; store it now
    }
}

void ConnectionPane::storeUpdateFilePath()
{
    Settings::setAndSave ("UpdateFileLocalPath", updateFileBox.getText());
}

void ConnectionPane::textEditorTextChanged (juce::TextEditor&)       { storeUpdateFilePath(); }
void ConnectionPane::textEditorReturnKeyPressed (juce::TextEditor&)  { storeUpdateFilePath(); }
void ConnectionPane::textEditorFocusLost (juce::TextEditor&)         { storeUpdateFilePath(); }

void ConnectionPane::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::white);
}

void ConnectionPane::resized()
{
    const auto w = getWidth();
    const auto p = juce::roundToInt (w * 0.4859);

    serialPortLabel.setBounds (w / 2 - 242, 56, 150, 24);
    portBox.setBounds (p - 75, 56, 150, 24);
    connectButton.setBounds (p - 75, 96, 150, 24);
    updateButton.setBounds (p - 75, 130, 150, 24);
    updateFileLabel.setBounds (p - 150, 160, 300, 24);
    updateFileBox.setBounds (p - 150, 180, 300, 24);
    browseButton.setBounds (p + 150, 180, 50, 24);
}
