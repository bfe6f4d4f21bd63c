#include "app/StationPane.h"
#include "app/HostDialogs.h"
#include "app/MainPane.h"
#include "app/Settings.h"
#include "device/RecordKeeper.h"
#include "device/RecordStore.h"
#include "base/ILogger.h"

#include <cmath>

namespace
{
// The records' store: the kinds the box offers, by item id.
constexpr int defaultRecords = 1, fileRecords = 2, serverRecords = 3;

// A tile's shape (width to height) when it is drawn at its best, and the gap between tiles.
constexpr float tileAspect = 1.6f;
constexpr int tileGap = 6;

// The height at which a tile's texts have their normal sizes; they scale with it.
constexpr float tileNormalHeight = 150.0f;

constexpr int rowHeight = 24, rowStep = 28, captionWidth = 80, browseWidth = 60;

juce::String stateText (StationBoard::State state)
{
    switch (state)
    {
        case StationBoard::State::waiting:  return "WAITING";
        case StationBoard::State::working:  return "WORKING";
        case StationBoard::State::passed:   return "PASSED";
        case StationBoard::State::failed:   return "FAILED";
    }

    return {};
}

/** A step as the operator reads it: "put /mnt/nandfs/usr/site.cfg" is "Sending site.cfg". */
juce::String stepText (const juce::String& step)
{
    if (step == "open")      return "Opening the port";
    if (step == "identify")  return "Identifying";
    if (step == "getmac")    return "Reading the MAC address";
    if (step == "update")    return "Installing the firmware";

    if (step.startsWith ("put "))
        return "Sending " + step.substring (4).fromLastOccurrenceOf ("/", false, false);

    return step;
}

bool isMessageThread()
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    return messageManager != nullptr && messageManager->isThisTheMessageThread();
}

/** The uploads box's text, "LOCAL=REMOTE; LOCAL=REMOTE", as the job's uploads. */
bool parseUploads (const juce::String& text, juce::Array<StationJob::Upload>& uploads, juce::String& problem)
{
    for (auto entry : juce::StringArray::fromTokens (text, ";", {}))
    {
        entry = entry.trim();

        if (entry.isEmpty())
            continue;

        StationJob::Upload upload;

        if (! StationJob::Upload::parse (entry, upload))
        {
            problem = "An upload is written LOCAL=REMOTE: " + entry;
            return false;
        }

        uploads.add (upload);
    }

    return true;
}

void setUpCaption (juce::Label& label)
{
    label.setFont (juce::Font (15.0f));
    label.setJustificationType (juce::Justification::centredRight);
    label.setColour (juce::Label::textColourId, juce::Colours::black);
}

void setUpBox (juce::TextEditor& box, const juce::String& whenEmpty)
{
    box.setMultiLine (false);
    box.setReturnKeyStartsNewLine (false);
    box.setScrollbarsShown (true);
    box.setPopupMenuEnabled (true);
    box.setColour (juce::TextEditor::backgroundColourId, juce::Colours::white);
    box.setColour (juce::TextEditor::outlineColourId, juce::Colour (0x00000000));
    box.setTextToShowWhenEmpty (whenEmpty, juce::Colours::grey);
}

void setUpCounter (juce::Label& label, const juce::String& name, juce::Colour colour)
{
    label.setName (name);
    label.setFont (juce::Font (16.0f, juce::Font::bold));
    label.setJustificationType (juce::Justification::centredLeft);
    label.setColour (juce::Label::textColourId, colour);
    label.setMinimumHorizontalScale (0.6f);
}
} // namespace

//==============================================================================
StationTile::StationTile()
{
    background.setName ("tile background");
    background.setColour (juce::Label::outlineColourId, juce::Colour (0x40000000));
    addAndMakeVisible (background);

    for (auto* label : { &slotLabel, &portLabel, &resultLabel, &macLabel, &stepLabel })
    {
        label->setJustificationType (juce::Justification::centredLeft);
        label->setMinimumHorizontalScale (0.5f);
        label->setBorderSize ({ 0, 2, 0, 2 });
        addAndMakeVisible (*label);
    }

    slotLabel.setName ("tile slot");
    portLabel.setName ("tile port");
    resultLabel.setName ("tile result");
    resultLabel.setJustificationType (juce::Justification::centred);
    macLabel.setName ("tile mac");
    stepLabel.setName ("tile step");

    bar.setName ("tile progress");
    bar.setPercentageDisplay (false);
    bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colour (0xffdde6f5));
    bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0xff0b3d91));
    addChildComponent (bar);

    // The tile as a whole shows the tooltip: nothing on it takes the mouse.
    for (auto* child : getChildren())
        child->setInterceptsMouseClicks (false, false);

    show ({});
}

juce::Colour StationTile::fillFor (StationBoard::State state)
{
    switch (state)
    {
        case StationBoard::State::waiting:  return juce::Colour (0xffa8a8a8);
        case StationBoard::State::working:  return juce::Colour (0xff2f6fd0);
        case StationBoard::State::passed:   return juce::Colour (0xff23963a);
        case StationBoard::State::failed:   return juce::Colour (0xffd02b27);
    }

    return {};
}

juce::Colour StationTile::getFill() const
{
    return background.findColour (juce::Label::backgroundColourId);
}

void StationTile::show (const StationBoard::Slot& slot)
{
    slotName = slot.slot;
    state = slot.state;
    setName ("tile " + slot.slot);

    background.setColour (juce::Label::backgroundColourId, fillFor (state));
    const auto text = state == StationBoard::State::waiting ? juce::Colour (0xff202020) : juce::Colours::white;

    for (auto* label : { &slotLabel, &portLabel, &resultLabel, &macLabel, &stepLabel })
        label->setColour (juce::Label::textColourId, text);

    slotLabel.setText (slot.slot, juce::dontSendNotification);
    portLabel.setText (slot.port != slot.slot ? slot.port : juce::String(), juce::dontSendNotification);
    resultLabel.setText (stateText (state), juce::dontSendNotification);
    macLabel.setText (slot.macAddress.isNotEmpty() ? "MAC " + slot.macAddress : juce::String(), juce::dontSendNotification);

    const bool working = state == StationBoard::State::working;
    stepLabel.setText (working ? stepText (slot.step) : state == StationBoard::State::failed ? slot.error : juce::String(),
                       juce::dontSendNotification);
    fraction = slot.fraction;
    bar.setVisible (working && slot.step.isNotEmpty());

    if (state == StationBoard::State::failed)
        setTooltip ("Last lines of " + slot.slot + ":\n" + slot.lastLines.joinIntoString ("\n"));
    else
        setTooltip ({});

    resized();
}

juce::StringArray StationTile::getTexts() const
{
    return { slotLabel.getText(), portLabel.getText(), resultLabel.getText(), macLabel.getText(), stepLabel.getText() };
}

void StationTile::resized()
{
    background.setBounds (getLocalBounds());

    // The texts grow with the tile, so that a large one is read from further away.
    const auto scale = juce::jlimit (0.5f, 2.5f, (float) getHeight() / tileNormalHeight);
    const auto rows = [scale] (float height) { return juce::roundToInt (height * scale); };

    slotLabel.setFont (juce::Font (20.0f * scale, juce::Font::bold));
    portLabel.setFont (juce::Font (13.0f * scale));
    resultLabel.setFont (juce::Font (26.0f * scale, juce::Font::bold));
    macLabel.setFont (juce::Font (15.0f * scale));
    stepLabel.setFont (juce::Font (14.0f * scale));

    auto area = getLocalBounds().reduced (rows (6.0f), rows (4.0f));
    slotLabel.setBounds (area.removeFromTop (rows (24.0f)));
    portLabel.setBounds (area.removeFromTop (rows (17.0f)));
    resultLabel.setBounds (area.removeFromTop (rows (34.0f)));
    macLabel.setBounds (area.removeFromTop (rows (19.0f)));
    stepLabel.setBounds (area.removeFromTop (rows (19.0f)));
    area.removeFromTop (rows (3.0f));
    bar.setBounds (area.removeFromTop (rows (14.0f)));
}

//==============================================================================
StationPane::StationPane (MainPane& owner)
    : mainPane (owner)
{
    for (auto* caption : { &imageLabel, &macLabel, &uploadsLabel, &recordsLabel, &portsLabel })
    {
        setUpCaption (*caption);
        addAndMakeVisible (*caption);
    }

    setUpBox (imageBox, "the firmware image (none: no update)");
    setUpBox (macBox, "where the MAC-address files go (none: not read)");
    setUpBox (uploadsBox, "LOCAL=REMOTE; LOCAL=REMOTE ...");
    setUpBox (recordsBox, {});
    setUpBox (portsBox, "every port, or some: COM7, 1-1.4, ...");

    for (auto* box : { &imageBox, &macBox, &uploadsBox, &recordsBox, &portsBox })
        addAndMakeVisible (*box);

    imageBrowse.setName ("station image browse");
    macBrowse.setName ("station mac browse");
    recordsBrowse.setName ("station records browse");
    startButton.setName ("station start");
    stopButton.setName ("station stop");
    verifyButton.setName ("station verify");

    for (auto* button : std::initializer_list<juce::Button*> { &imageBrowse, &macBrowse, &recordsBrowse, &startButton, &stopButton, &verifyButton })
    {
        button->addListener (this);
        addAndMakeVisible (*button);
    }

    stopButton.setEnabled (false);

    recordsKind.addItem ("Default database", defaultRecords);
    recordsKind.addItem ("Database file", fileRecords);
    recordsKind.addItem ("PostgreSQL server", serverRecords);
    addAndMakeVisible (recordsKind);

    setUpCounter (passedLabel, "passed count", juce::Colour (0xff1b7a2e));
    setUpCounter (failedLabel, "failed count", juce::Colour (0xffb3201c));
    setUpCounter (totalLabel, "total count", juce::Colours::black);
    setUpCounter (rateLabel, "rate", juce::Colours::black);

    for (auto* counter : { &passedLabel, &failedLabel, &totalLabel, &rateLabel })
        addAndMakeVisible (*counter);

    hint.setName ("station hint");
    hint.setFont (juce::Font (15.0f));
    hint.setJustificationType (juce::Justification::centred);
    hint.setColour (juce::Label::textColourId, juce::Colours::darkgrey);
    addAndMakeVisible (hint);

    loadSettings();

    for (auto* box : { &imageBox, &macBox, &uploadsBox, &recordsBox, &portsBox })
        box->addListener (this);

    recordsKind.addListener (this);
    refresh();
    setSize (600, 400);
}

StationPane::~StationPane()
{
    stopTimer();

    if (station != nullptr)
        station->stop();

    station = nullptr;
}

void StationPane::loadSettings()
{
    imageBox.setText (Settings::get ("StationImage"), false);
    macBox.setText (Settings::get ("StationMacFolder"), false);
    uploadsBox.setText (Settings::get ("StationUploads"), false);
    portsBox.setText (Settings::get ("StationPorts"), false);
    verifyButton.setToggleState (Settings::get ("Verify after writing").getIntValue() != 0, juce::dontSendNotification);

    const auto location = Settings::get ("Records");
    const auto kind = location.isEmpty() ? defaultRecords : RecordStore::isServer (location) ? serverRecords : fileRecords;
    recordsKind.setSelectedId (kind, juce::dontSendNotification);
    recordsBox.setText (location, false);
    comboBoxChanged (nullptr);
}

juce::String StationPane::recordsLocation() const
{
    return recordsKind.getSelectedId() == defaultRecords ? juce::String() : recordsBox.getText().trim();
}

void StationPane::storeRecordsSetting()
{
    Settings::setAndSave ("Records", recordsLocation());
}

void StationPane::textEditorTextChanged (juce::TextEditor& editor)
{
    if (&editor == &imageBox)           Settings::setAndSave ("StationImage", imageBox.getText());
    else if (&editor == &macBox)        Settings::setAndSave ("StationMacFolder", macBox.getText());
    else if (&editor == &uploadsBox)    Settings::setAndSave ("StationUploads", uploadsBox.getText());
    else if (&editor == &portsBox)      Settings::setAndSave ("StationPorts", portsBox.getText());
    else if (&editor == &recordsBox)    storeRecordsSetting();
}

void StationPane::comboBoxChanged (juce::ComboBox* box)
{
    const auto kind = recordsKind.getSelectedId();
    recordsBox.setTextToShowWhenEmpty (kind == serverRecords ? "postgresql://user@server/records" : "the records file",
                                       juce::Colours::grey);
    recordsBox.setVisible (kind != defaultRecords);
    recordsBrowse.setVisible (kind == fileRecords);
    resized();   // the box takes the room of a hidden Browse

    if (box != nullptr)
    {
        if (kind == serverRecords && ! recordsBox.getText().containsChar (':'))
            recordsBox.setText ("postgresql://", false);

        storeRecordsSetting();
    }
}

void StationPane::buttonClicked (juce::Button* button)
{
    auto& dialogs = HostDialogs::current();

    if (button == &startButton)
    {
        start();
    }
    else if (button == &stopButton)
    {
        stop();
    }
    else if (button == &verifyButton)
    {
        Settings::setAndSave ("Verify after writing", verifyButton.getToggleState() ? "1" : "0");
    }
    else if (button == &imageBrowse)
    {
        const auto chosen = dialogs.chooseFileToOpen ("Select the firmware image...", {}, "*");

        if (chosen != juce::File())
            imageBox.setText (chosen.getFullPathName(), true);
    }
    else if (button == &macBrowse)
    {
        const auto chosen = dialogs.chooseFolder ("Select the folder for MAC-address files...", {}, "*");

        if (chosen != juce::File())
            macBox.setText (chosen.getFullPathName(), true);
    }
    else if (button == &recordsBrowse)
    {
        const auto chosen = dialogs.chooseFileToOpen ("Select the records file...", {}, "*");

        if (chosen != juce::File())
            recordsBox.setText (chosen.getFullPathName(), true);
    }
}

//==============================================================================
void StationPane::logged (const juce::String& line)
{
    // Only the message thread checks the job, so only it looks at the capture.
    if (isMessageThread() && capturedLines != nullptr)
        capturedLines->add (line);

    board.logged (line);
}

void StationPane::refuseStart (const juce::String& problem)
{
    startRefused = true;
    logLine ("The station can't start: " + problem.replace ("\n", "; "));
    HostDialogs::current().showMessage ("The station can't start:\n" + problem, true);
}

bool StationPane::start()
{
    if (station != nullptr || mainPane.isBusy())
        return false;

    StationJob newJob;
    newJob.imagePath = imageBox.getText().trim();
    newJob.macFolder = macBox.getText().trim();
    newJob.verify = verifyButton.getToggleState();
    juce::String problem;

    if (! parseUploads (uploadsBox.getText(), newJob.uploads, problem))
    {
        refuseStart (problem);
        return false;
    }

    // Everything on the host, the records' store included, is checked before any device
    // is touched; what the check logs is what the box says.
    {
        juce::StringArray lines;
        capturedLines = &lines;
        const auto usable = newJob.check();
        capturedLines = nullptr;

        if (! usable)
        {
            refuseStart (lines.joinIntoString ("\n"));
            return false;
        }
    }

    juce::String error;
    auto store = RecordStore::open (recordsLocation(), error);

    if (store == nullptr)
    {
        refuseStart ("Can't keep the devices' records: " + error);
        return false;
    }

    job = newJob;
    records = std::move (store);
    keeper = std::make_unique<RecordKeeper> (*records, USB_FILE_UTILITY_VERSION);

    if (job.imagePath.isNotEmpty())
        keeper->setImage (job.imagePath);

    juce::StringArray parts;

    if (job.imagePath.isNotEmpty())     parts.add ("image " + job.imagePath);
    if (job.macFolder.isNotEmpty())     parts.add ("MAC files into " + job.macFolder);
    if (! job.uploads.isEmpty())        parts.add (juce::String (job.uploads.size()) + (job.uploads.size() == 1 ? " upload" : " uploads"));
    if (job.verify)                     parts.add ("verify after writing");

    logLine ("Station job: " + (parts.isEmpty() ? juce::String ("open and identify") : parts.joinIntoString (", ")));
    logLine ("Keeping the devices' records in " + records->describe());

    juce::StringArray portFilter;

    for (const auto& port : juce::StringArray::fromTokens (portsBox.getText(), ",", {}))
        if (port.trim().isNotEmpty())
            portFilter.add (port.trim());

    // Counters and tiles start afresh; the failures before count for the exit code.
    failedBefore += failedCount;
    passedCount = failedCount = 0;
    startTime = juce::Time::getCurrentTime();
    endTime = {};
    board.clear();
    stopping = false;

    mainPane.setStationRunning (true);
    station = std::make_unique<Station> (job, board, keeper.get());
    logLine ("Watching the ports; Stop ends the station");
    station->watch (portFilter);

    showRunning();
    startTimerHz (10);
    refresh();
    return true;
}

void StationPane::stop()
{
    if (station != nullptr && ! stopping)
    {
        stopping = true;
        logLine ("Stopping the station");
        station->stop();
        showRunning();
    }
}

void StationPane::timerCallback()
{
    if (station != nullptr)
    {
        passedCount = station->getPassedCount();
        failedCount = station->getFailedCount();

        if (stopping && ! station->isRunning())
        {
            finishStopping();
            return;
        }
    }

    refresh();
}

void StationPane::finishStopping()
{
    stopTimer();
    passedCount = station->getPassedCount();
    failedCount = station->getFailedCount();
    station = nullptr;
    keeper = nullptr;
    records = nullptr;
    stopping = false;
    endTime = juce::Time::getCurrentTime();

    logLine ("Station stopped: " + juce::String (passedCount) + " passed, " + juce::String (failedCount) + " failed");
    mainPane.setStationRunning (false);
    showRunning();
    refresh();
}

void StationPane::showRunning()
{
    const bool running = station != nullptr;
    startButton.setEnabled (! running);
    stopButton.setEnabled (running && ! stopping);

    // The job stays as it started until the station has stopped.
    const std::initializer_list<juce::Component*> fields { &imageBox, &macBox, &uploadsBox, &recordsKind, &recordsBox, &portsBox,
                                                           &verifyButton, &imageBrowse, &macBrowse, &recordsBrowse };

    for (auto* field : fields)
        field->setEnabled (! running);
}

void StationPane::refresh()
{
    bool changed = false;
    const auto slots = board.take (changed);

    if (changed)
    {
        const bool countChanged = tiles.size() != (int) slots.size();

        while (tiles.size() > (int) slots.size())
            tiles.removeLast();

        while (tiles.size() < (int) slots.size())
            addAndMakeVisible (tiles.add (new StationTile()));

        for (size_t i = 0; i < slots.size(); ++i)
            tiles[(int) i]->show (slots[i]);

        if (countChanged)
            resized();
    }

    hint.setText (! tiles.isEmpty() ? juce::String()
                  : station != nullptr ? "Watching the ports: plug the devices in."
                  : "Press Start to serve every device that is plugged in.",
                  juce::dontSendNotification);

    const auto total = passedCount + failedCount;
    const auto until = endTime != juce::Time() ? endTime : juce::Time::getCurrentTime();
    const auto hours = startTime != juce::Time() ? (until - startTime).inHours() : 0.0;

    passedLabel.setText ("Passed " + juce::String (passedCount), juce::dontSendNotification);
    failedLabel.setText ("Failed " + juce::String (failedCount), juce::dontSendNotification);
    totalLabel.setText ("Total " + juce::String (total), juce::dontSendNotification);
    rateLabel.setText (total > 0 && hours > 0 ? juce::String (juce::roundToInt (total / hours)) + " / h" : "- / h",
                       juce::dontSendNotification);
}

//==============================================================================
juce::Array<juce::Rectangle<int>> StationPane::layOutTiles (juce::Rectangle<int> area, int count)
{
    juce::Array<juce::Rectangle<int>> cells;

    if (count <= 0 || area.isEmpty())
        return cells;

    // The column count whose cells hold the largest tile of the preferred shape.
    int columns = 1;
    float best = -1.0f;

    for (int c = 1; c <= count; ++c)
    {
        const auto rows = (count + c - 1) / c;
        const auto width = (float) (area.getWidth() - (c - 1) * tileGap) / (float) c;
        const auto height = (float) (area.getHeight() - (rows - 1) * tileGap) / (float) rows;
        const auto size = juce::jmin (width / tileAspect, height);

        if (size > best)
        {
            best = size;
            columns = c;
        }
    }

    const auto rows = (count + columns - 1) / columns;
    const auto width = (area.getWidth() - (columns - 1) * tileGap) / columns;
    const auto height = (area.getHeight() - (rows - 1) * tileGap) / rows;

    for (int i = 0; i < count; ++i)
        cells.add ({ area.getX() + (i % columns) * (width + tileGap), area.getY() + (i / columns) * (height + tileGap),
                     width, height });

    return cells;
}

void StationPane::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::white);
}

void StationPane::resized()
{
    auto area = getLocalBounds().reduced (8);

    const auto row = [&]
    {
        auto r = area.removeFromTop (rowHeight);
        area.removeFromTop (rowStep - rowHeight);
        return r;
    };

    const auto fieldRow = [&] (juce::Label& caption, juce::TextEditor& box, juce::Button* browse)
    {
        auto r = row();
        caption.setBounds (r.removeFromLeft (captionWidth));
        r.removeFromLeft (6);

        if (browse != nullptr)
        {
            browse->setBounds (r.removeFromRight (browseWidth));
            r.removeFromRight (4);
        }

        box.setBounds (r);
    };

    fieldRow (imageLabel, imageBox, &imageBrowse);
    fieldRow (macLabel, macBox, &macBrowse);
    fieldRow (uploadsLabel, uploadsBox, nullptr);

    {
        auto r = row();
        recordsLabel.setBounds (r.removeFromLeft (captionWidth));
        r.removeFromLeft (6);
        recordsKind.setBounds (r.removeFromLeft (juce::jmin (150, r.getWidth() / 2)));
        r.removeFromLeft (4);
        recordsBrowse.setBounds (r.removeFromRight (browseWidth));
        r.removeFromRight (4);
        recordsBox.setBounds (recordsBrowse.isVisible() ? r : r.withRight (recordsBrowse.getRight()));
    }

    {
        auto r = row();
        portsLabel.setBounds (r.removeFromLeft (captionWidth));
        r.removeFromLeft (6);
        verifyButton.setBounds (r.removeFromRight (150));
        r.removeFromRight (4);
        portsBox.setBounds (r);
    }

    {
        auto r = area.removeFromTop (30);
        area.removeFromTop (8);
        startButton.setBounds (r.removeFromLeft (72));
        r.removeFromLeft (6);
        stopButton.setBounds (r.removeFromLeft (72));
        r.removeFromLeft (10);

        // The rate takes the most room ("12345 / h").
        const auto part = r.getWidth() / 9;
        passedLabel.setBounds (r.removeFromLeft (2 * part));
        failedLabel.setBounds (r.removeFromLeft (2 * part));
        totalLabel.setBounds (r.removeFromLeft (2 * part));
        rateLabel.setBounds (r);
    }

    hint.setBounds (area);

    const auto cells = layOutTiles (area, tiles.size());

    for (int i = 0; i < tiles.size(); ++i)
        tiles[i]->setBounds (cells[i]);
}
