#pragma once

#include "app/StationBoard.h"
#include "device/Station.h"

#include <juce_gui_basics/juce_gui_basics.h>

class MainPane;
class RecordKeeper;
class RecordStore;

/** One slot of the station, as a tile an operator reads from a metre away: its name and
    port, the MAC address once read, the step under way with a progress bar, and the result
    in the tile's colour: waiting (grey), working (blue), passed (green), failed (red, with
    the reason). Hovering a failed tile shows the slot's last log lines. */
class StationTile : public juce::Component,
                    public juce::SettableTooltipClient
{
public:
    StationTile();

    /** Shows the slot as the board has it now. */
    void show (const StationBoard::Slot& slot);

    const juce::String& getSlotName() const noexcept        { return slotName; }
    StationBoard::State getState() const noexcept           { return state; }

    /** The colour the tile is filled with, for its state. */
    juce::Colour getFill() const;
    static juce::Colour fillFor (StationBoard::State state);

    /** How much of the step's file is done, from 0 to 1, while the bar shows. */
    double getProgress() const noexcept                     { return fraction; }

    /** The texts on the tile, top to bottom (slot, port, result, MAC, step or reason). */
    juce::StringArray getTexts() const;

    void resized() override;

private:
    juce::String slotName;
    StationBoard::State state = StationBoard::State::waiting;
    juce::Label background, slotLabel, portLabel, resultLabel, macLabel, stepLabel;
    double fraction = 0;
    juce::ProgressBar bar { fraction };

    JUCE_DECLARE_NON_COPYABLE (StationTile)
};

/** The "Station" tab: the job every attached device gets (firmware image, folder for the
    MAC-address files, uploads, verify, where the records go, which ports), remembered in
    the settings file; Start and Stop; counters since Start; and a tile per slot, laid out in
    a grid that uses the room it gets. Start checks the job and opens the records' store
    before any device is touched, then watches the ports and serves each device that
    appears, each on its own thread (see Station). While it runs the other tabs take no
    input. */
class StationPane : public juce::Component,
                    private juce::Button::Listener,
                    private juce::TextEditor::Listener,
                    private juce::ComboBox::Listener,
                    private juce::Timer
{
public:
    explicit StationPane (MainPane& mainPane);

    /** Stops the jobs as a cancel does and waits for them to end (their records are kept). */
    ~StationPane() override;

    /** Fills the fields from the settings ("StationImage", "StationMacFolder",
        "StationUploads", "StationPorts", "Verify after writing", "Records"). */
    void loadSettings();

    /** Checks the job and opens the records' store, then watches the ports. false, with the
        reason logged and shown in a box, when the job or the store is unusable; nothing has
        touched a device then. */
    bool start();

    /** Ends the watch and stops the running jobs after their current block; returns at
        once. The pane goes on with isRunning() until every job has ended. */
    void stop();

    /** True from start() until every job has ended after a stop. */
    bool isRunning() const noexcept                 { return station != nullptr; }

    /** True once any device has failed since the program began, or a start was refused. */
    bool hasFailures() const noexcept               { return failedBefore + failedCount > 0 || startRefused; }

    /** Takes a line of the program's log (from any thread), for the slots' last lines. */
    void logged (const juce::String& line);

    const juce::OwnedArray<StationTile>& getTiles() const noexcept   { return tiles; }

    /** The tiles' places: count cells of one size in area, in as many columns as make
        them largest for a tile's shape, row by row. */
    static juce::Array<juce::Rectangle<int>> layOutTiles (juce::Rectangle<int> area, int count);

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void buttonClicked (juce::Button* button) override;
    void textEditorTextChanged (juce::TextEditor& editor) override;
    void comboBoxChanged (juce::ComboBox* box) override;
    void timerCallback() override;

    /** The tiles and counters as the board and the station have them now. */
    void refresh();
    void finishStopping();
    void refuseStart (const juce::String& problem);
    void showRunning();
    void storeRecordsSetting();
    juce::String recordsLocation() const;

    MainPane& mainPane;
    StationBoard board;

    // The job, the records' store and its keeper outlive the station that uses them.
    StationJob job;
    std::unique_ptr<RecordStore> records;
    std::unique_ptr<RecordKeeper> keeper;
    std::unique_ptr<Station> station;

    bool stopping = false;
    juce::StringArray* capturedLines = nullptr;   ///< the log's lines while the job is checked
    int passedCount = 0, failedCount = 0, failedBefore = 0;
    bool startRefused = false;
    juce::Time startTime, endTime;

    juce::Label imageLabel { "image label", "Image" };
    juce::TextEditor imageBox { "station image" };
    juce::TextButton imageBrowse { "Browse" };
    juce::Label macLabel { "mac label", "MAC folder" };
    juce::TextEditor macBox { "station mac folder" };
    juce::TextButton macBrowse { "Browse" };
    juce::Label uploadsLabel { "uploads label", "Uploads" };
    juce::TextEditor uploadsBox { "station uploads" };
    juce::Label recordsLabel { "records label", "Records" };
    juce::ComboBox recordsKind { "station records kind" };
    juce::TextEditor recordsBox { "station records" };
    juce::TextButton recordsBrowse { "Browse" };
    juce::Label portsLabel { "ports label", "Ports" };
    juce::TextEditor portsBox { "station ports" };
    juce::ToggleButton verifyButton { "Verify after writing" };
    juce::TextButton startButton { "Start" };
    juce::TextButton stopButton { "Stop" };
    juce::Label passedLabel, failedLabel, totalLabel, rateLabel;
    juce::Label hint;
    juce::OwnedArray<StationTile> tiles;
    juce::TooltipWindow tooltips { this, 500 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (StationPane)
};
