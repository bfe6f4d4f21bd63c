#include "browser/FileSystemPane.h"
#include "browser/RemoteTreeViewItems.h"
#include "app/HostDialogs.h"
#include "base/ILogger.h"
#include "app/MainPane.h"
#include "app/Settings.h"
#include "remotefs/HostPaths.h"
#include "remotefs/LocalTargetResolver.h"
#include "remotefs/RemoteListing.h"
#include "base/DeviceText.h"

#include "ImageData.h"


namespace
{
const juce::String homeFolder ("/mnt/nandfs/usr");
const juce::String initialFolderText ("/mnt/nandfs/usr/");
const juce::String allFilesPattern ("*.*");

const juce::Colour bandColour (0xffa3a3a3);

void setUpTextButton (juce::TextButton& button, const juce::String& text)
{
    button.setButtonText (text);
    button.setConnectedEdges (juce::Button::ConnectedOnRight);
}

void setButtonImage (juce::ImageButton& button, const void* png, int pngSize)
{
    const auto image = juce::ImageCache::getFromMemory (png, pngSize);
    const auto halfWhite = juce::Colours::white.withAlpha (0.5f);

    // One image for all states; it keeps its size and proportions inside the button.
    button.setImages (false, false, true,
                      image, 1.0f, juce::Colour (0x00ffffff),
                      image, 1.0f, halfWhite,
                      image, 0.5f, halfWhite,
                      0.0f);
}
} // namespace

FileSystemPane::FileSystemPane (MainPane& owner)
    : mainPane (owner)
{
    setName ("File System");

    groupBox.setText ({});
    groupBox.setColour (juce::GroupComponent::outlineColourId, bandColour);
    addAndMakeVisible (groupBox);

    remoteFolderField.setMultiLine (false);
    remoteFolderField.setReturnKeyStartsNewLine (false);
    remoteFolderField.setReadOnly (false);
    remoteFolderField.setScrollbarsShown (true);
    remoteFolderField.setCaretVisible (true);
    remoteFolderField.setPopupMenuEnabled (true);
    remoteFolderField.setColour (juce::TextEditor::backgroundColourId, juce::Colours::white);
    remoteFolderField.setColour (juce::TextEditor::outlineColourId, juce::Colour (0x00000000));
    remoteFolderField.setText (initialFolderText);
    addAndMakeVisible (remoteFolderField);

    setUpTextButton (deleteButton, "Delete");
    deleteButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xffff4343));
    deleteButton.setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xfffdbd36));
    deleteButton.addListener (this);
    addAndMakeVisible (deleteButton);

    tree.setRootItemVisible (false);
    addAndMakeVisible (tree);

    homeButton.setName ("home button");
    addAndMakeVisible (homeButton);
    upButton.setName ("up button");
    addAndMakeVisible (upButton);

    setUpTextButton (getButton, "Get");
    getButton.addListener (this);
    addAndMakeVisible (getButton);

    setUpTextButton (sendButton, "Send");
    sendButton.addListener (this);
    addAndMakeVisible (sendButton);

    setUpTextButton (newFolderButton, "New Folder");
    newFolderButton.addListener (this);
    addAndMakeVisible (newFolderButton);

    addAndMakeVisible (nameAssigner);

    setUpTextButton (renameButton, "Rename");
    renameButton.addListener (this);
    addAndMakeVisible (renameButton);

    setSize (600, 400);

    rootItem = std::make_unique<LabelTreeViewItem> ("Entries", true);
    tree.setRootItem (rootItem.get());

    remoteFolderField.addListener (this);

    // Normally nothing is connected yet, so this leaves the list empty; the first real
    // listing happens when the tab is first selected (broughtToFront).
    refreshRemoteFolder();

    homeButton.addListener (this);
    upButton.addListener (this);
    setButtonImage (homeButton, ImageData::home_png, ImageData::home_pngSize);
    setButtonImage (upButton, ImageData::up_png, ImageData::up_pngSize);

    remoteFolderField.setText (Settings::get ("RemoteFolder"), false);
    nameAssigner.setVisible (false);
}

FileSystemPane::~FileSystemPane()
{
    // The field may lose the focus while the children go; that must not list anything.
    remoteFolderField.removeListener (this);
    tree.setRootItem (nullptr);     // the tree must not outlive its root's attachment
}

//==============================================================================
void FileSystemPane::refreshRemoteFolder()
{
    MainPane::DeviceOperation operation (mainPane);

    if (operation)
        listRemoteFolder();
}

void FileSystemPane::listRemoteFolder()
{
    const auto listing = ++listingCount;

    // "//" becomes "/" in one left-to-right pass, so "///" becomes "//".
    const auto folder = normaliseRemoteFolder (remoteFolderField.getText());
    remoteFolderField.setText (folder, true);

    auto& files = mainPane.getFiles();
    juce::StringArray fileNames, folderNames;
    const auto result = files.getFolderContents (folder, &fileNames, &folderNames);

    // A failure logs, and logging handles pending messages: a newer listing may have
    // run meanwhile, and its list stands.
    if (listing != listingCount)
        return;

    rootItem->clearSubItems();

    if (result != 0)
        return;

    Settings::setAndSave ("RemoteFolder", folder);

    for (const auto& [name, isFolder] : orderForListing (fileNames, folderNames))
    {
        if (! isSingleEntryName (name))
        {
            logLine ("Skipping the entry \"" + name + "\" of " + folder + ": not a usable name");
            continue;
        }

        // Joined by "/" even at the root ("//name"), as the device has always been asked.
        const auto path = folder + "/" + name;

        FileSystemEntryInfo info;
        files.getRemoteEntryInfo (path, isFolder, info);   // a failed query shows the defaults

        if (listing != listingCount)
            return;

        if (isFolder)
            rootItem->addSubItem (new FolderTreeViewItem (*this, name, info, path));
        else
            rootItem->addSubItem (new FileTreeViewItem (*this, name, info, path));
    }
}

void FileSystemPane::broughtToFront()
{
    refreshRemoteFolder();
}

void FileSystemPane::textEditorReturnKeyPressed (juce::TextEditor&)  { refreshRemoteFolder(); }
void FileSystemPane::textEditorEscapeKeyPressed (juce::TextEditor&)  { refreshRemoteFolder(); }
void FileSystemPane::textEditorFocusLost (juce::TextEditor&)         { refreshRemoteFolder(); }

//==============================================================================
FileSystemPane::SelectedEntry FileSystemPane::takeSelectedEntry() const
{
    SelectedEntry entry;

    if (auto* item = dynamic_cast<FileSystemEntryTreeViewItem*> (tree.getSelectedItem (0)))
    {
        entry.isEntry = true;
        entry.isFile = dynamic_cast<FileTreeViewItem*> (item) != nullptr;
        entry.isFolder = dynamic_cast<FolderTreeViewItem*> (item) != nullptr;
        entry.path = item->getPath();
        entry.name = entry.path.fromLastOccurrenceOf ("/", false, false);
    }

    return entry;
}

void FileSystemPane::buttonClicked (juce::Button* button)
{
    // A key or click handled while the device is busy starts nothing, not even a dialog.
    if (mainPane.isBusy())
        return;

    const auto localFolder = Settings::get ("LocalFolder");
    const auto selected = takeSelectedEntry();

    if (selected.isEntry)
        logLine ("Folder: " + selected.path);

    if (button == &deleteButton)
        deleteEntry (selected);
    else if (button == &getButton)
        getEntry (selected, localFolder);
    else if (button == &sendButton)
        sendChosenFile (localFolder);
    else if (button == &newFolderButton)
        createFolder();
    else if (button == &renameButton)
        renameEntry (selected);

    if (button == &homeButton)
        showHomeFolder();
    else if (button == &upButton)
        showParentFolder();
}

void FileSystemPane::deleteEntry (const SelectedEntry& entry)
{
    if (! entry.isEntry)
        return;

    nameAssigner.showAsQuestion ("Delete " + DeviceText::toDisplay (entry.name) + "?");

    if (nameAssigner.runModally() != NameAssigner::acceptedResult)
        return;

    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return;

    mainPane.getFiles().deleteRemoteEntry (entry.path);
    listRemoteFolder();
}

void FileSystemPane::getEntry (const SelectedEntry& entry, const juce::String& localFolder)
{
    auto& dialogs = HostDialogs::current();

    if (entry.isFolder)
    {
        const auto chosen = dialogs.chooseFolder ("Choose Destination Folder", resolveLocalPath (localFolder),
                                                  allFilesPattern);

        if (chosen == juce::File())
            return;

        const auto chosenFolder = chosen.getFullPathName();
        Settings::set ("LocalFolder", chosenFolder);

        MainPane::DeviceOperation operation (mainPane);

        if (operation)
            mainPane.getTransfers().getFolder (entry.path, chosenFolder, {});
    }
    else if (entry.isFile)
    {
        const auto folder = localFolder.isEmpty() ? juce::File::getCurrentWorkingDirectory()
                                                  : resolveLocalPath (localFolder);

        // A device name such as "~" or "~name" would suggest a file outside that folder.
        const auto suggestion = LocalTargetResolver (folder).childInside (folder, entry.name);

        if (suggestion == juce::File())
        {
            logLine ("Can't get " + entry.path + ": it has no usable name");
            return;
        }

        const auto chosen = dialogs.chooseFileToSave ("Choose Destination File", suggestion, allFilesPattern);

        if (chosen == juce::File())
            return;

        Settings::set ("LocalFolder", chosen.getParentDirectory().getFullPathName());

        MainPane::DeviceOperation operation (mainPane);

        if (operation)
            mainPane.getTransfers().getFile (entry.path, chosen.getFullPathName());
    }
}

void FileSystemPane::sendChosenFile (const juce::String& localFolder)
{
    const auto chosen = HostDialogs::current().chooseFileToOpen ("Choose File to Send", resolveLocalPath (localFolder),
                                                                 allFilesPattern);
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return;

    if (chosen != juce::File())
    {
        Settings::set ("LocalFolder", chosen.getParentDirectory().getFullPathName());
        mainPane.getTransfers().sendFile (chosen.getFullPathName(),
                                          remoteFolderField.getText() + "/" + chosen.getFileName());
    }

    listRemoteFolder();   // also after a cancelled choice
}

void FileSystemPane::createFolder()
{
    nameAssigner.showForEditing ("NewFolder", true);

    if (nameAssigner.runModally() != NameAssigner::acceptedResult)
        return;

    const auto name = nameAssigner.getEnteredText();

    MainPane::DeviceOperation operation (mainPane);

    if (name.isEmpty() || ! operation)
        return;

    mainPane.getFiles().createRemoteFolder (remoteFolderField.getText() + "/" + name);
    listRemoteFolder();
}

void FileSystemPane::renameEntry (const SelectedEntry& entry)
{
    if (! entry.isEntry)
        return;

    // The whole path is edited, so a rename can also move the entry to another folder.
    nameAssigner.showForEditing (entry.path, false);

    if (nameAssigner.runModally() != NameAssigner::acceptedResult)
        return;

    const auto newPath = nameAssigner.getEnteredText();
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return;

    if (newPath.isNotEmpty() && newPath != entry.path)
        mainPane.getFiles().moveWithoutReplacing (entry.path, newPath, entry.isFolder);

    listRemoteFolder();
}

void FileSystemPane::showHomeFolder()
{
    remoteFolderField.setText (homeFolder, true);
    refreshRemoteFolder();
}

void FileSystemPane::showParentFolder()
{
    const auto text = remoteFolderField.getText();

    if (text.containsChar ('/'))
        remoteFolderField.setText (text.upToLastOccurrenceOf ("/", false, false), true);

    refreshRemoteFolder();   // an empty text lists "/"
}

//==============================================================================
bool FileSystemPane::isInterestedInFileDrag (const juce::StringArray&)
{
    return true;
}

void FileSystemPane::filesDropped (const juce::StringArray& files, int, int)
{
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
    {
        logLine ("Drop refused: wait until the running operation has ended.");
        return;
    }

    const auto separator = juce::File::getSeparatorString();

    // The folder listed when the files arrived.
    const auto targetFolder = remoteFolderField.getText();

    for (const auto& path : files)
    {
        const auto name = path.fromLastOccurrenceOf (separator, false, false);

        // A drive or the file-system root has no name to give the copy on the device.
        if (! isSingleEntryName (name))
        {
            logLine ("Can't send " + path + ": it has no usable name");
            continue;
        }

        const auto target = targetFolder + "/" + name;
        auto& transfers = mainPane.getTransfers();

        if (resolveLocalPath (path).isDirectory())
            transfers.sendFolder (path, target);
        else
            transfers.sendFile (path, target);

        listRemoteFolder();
    }
}

//==============================================================================
void FileSystemPane::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::white);
    g.setColour (bandColour);
    g.fillRoundedRectangle (16.0f, 6.0f, (float) (getWidth() - 58), 28.0f, 12.0f);
}

void FileSystemPane::resized()
{
    const auto w = getWidth(), h = getHeight();

    groupBox.setBounds (93, 12, w - 109, h - 21);
    remoteFolderField.setBounds (96, 8, w - 154, 24);
    deleteButton.setBounds (16, h - 47, 80, 24);
    tree.setBounds (96, 34, w - 116, h - 47);
    homeButton.setBounds (32, 8, 24, 24);
    upButton.setBounds (64, 8, 24, 24);
    getButton.setBounds (16, 48, 80, 24);
    sendButton.setBounds (16, 80, 80, 24);
    newFolderButton.setBounds (16, 112, 80, 24);
    nameAssigner.setBounds ((w - 116) / 2 - (w - 241) / 2 + 96, 32, w - 241, 80);
    renameButton.setBounds (16, 144, 80, 24);
}
