#pragma once

#include "browser/NameAssigner.h"

#include <juce_gui_basics/juce_gui_basics.h>

class MainPane;
class LabelTreeViewItem;

/** The "File System" tab: one device folder as a flat, sorted list, with Home, Up and a
    folder path field to move around, and Delete, Get, Send, New Folder and Rename for the
    entries. Host files and folders dropped onto it are sent into the listed folder.

    Everything runs on the message thread and blocks it while the device answers. The pane
    keeps no connection state: when no device is attached the client's operations fail and
    log why. */
class FileSystemPane : public juce::Component,
                       public juce::FileDragAndDropTarget,   // public: found by a cast when files are dragged over
                       private juce::TextEditor::Listener,
                       private juce::Button::Listener
{
public:
    explicit FileSystemPane (MainPane& mainPane);
    ~FileSystemPane() override;

    /** Normalises the folder path in the field, lists that device folder and rebuilds the
        list; "RemoteFolder" remembers it when the listing succeeded. The list stays empty
        when it failed. Deletes every entry item, including one whose double-click called it. */
    void refreshRemoteFolder();

    juce::TextEditor& getRemoteFolderField() noexcept     { return remoteFolderField; }
    juce::TreeView& getTree() noexcept                    { return tree; }
    NameAssigner& getNameAssigner() noexcept              { return nameAssigner; }

    /** Runs whenever the tab is selected, so that the list shows the device as it is now. */
    void broughtToFront() override;

    bool isInterestedInFileDrag (const juce::StringArray& files) override;

    /** Sends each dropped host file or folder into the listed folder, refreshing after each. */
    void filesDropped (const juce::StringArray& files, int x, int y) override;

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    /** What a button flow needs of the selected entry, copied before anything can run that
        would rebuild the list and delete the item. */
    struct SelectedEntry
    {
        bool isEntry = false;
        bool isFile = false;
        bool isFolder = false;
        juce::String path;
        juce::String name;
    };

    /** refreshRemoteFolder's work, for flows that already run as a device operation. */
    void listRemoteFolder();

    void textEditorReturnKeyPressed (juce::TextEditor&) override;
    void textEditorEscapeKeyPressed (juce::TextEditor&) override;
    void textEditorFocusLost (juce::TextEditor&) override;
    void buttonClicked (juce::Button* button) override;

    SelectedEntry takeSelectedEntry() const;
    void deleteEntry (const SelectedEntry& entry);
    void getEntry (const SelectedEntry& entry, const juce::String& localFolder);
    void sendChosenFile (const juce::String& localFolder);
    void createFolder();
    void renameEntry (const SelectedEntry& entry);
    void showHomeFolder();
    void showParentFolder();

    MainPane& mainPane;

    juce::GroupComponent groupBox { "new group" };
    juce::TextEditor remoteFolderField { "remote folder" };
    juce::TextButton deleteButton { "new button" };
    juce::TreeView tree { "new treeview" };
    juce::ImageButton homeButton { "Home" };
    juce::ImageButton upButton { "Up" };
    juce::TextButton getButton { "get button" };
    juce::TextButton sendButton { "new button" };
    juce::TextButton newFolderButton { "new folder button" };
    NameAssigner nameAssigner;
    juce::TextButton renameButton { "rename button" };

    std::unique_ptr<LabelTreeViewItem> rootItem;

    // Counts listings; a listing that finds a newer one begun inside it (a click handled
    // while the log dispatched messages) stops adding its own entries.
    int listingCount = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileSystemPane)
};
