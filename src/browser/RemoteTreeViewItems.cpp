#include "browser/RemoteTreeViewItems.h"
#include "browser/FileSystemPane.h"
#include "base/DeviceText.h"

#include "ImageData.h"

namespace
{
const juce::Colour selectionColour (0xffbbbbff);
const juce::Colour detailsColour (0xff808080);

// Fixed English abbreviations: the details text doesn't follow the host's language.
const char* const monthAbbreviations[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
} // namespace

//==============================================================================
LabelTreeViewItem::LabelTreeViewItem (const juce::String& labelText, bool mightContainSubItemsFlag)
    : label (labelText), hasSubItems (mightContainSubItemsFlag)
{
}

bool LabelTreeViewItem::mightContainSubItems()
{
    return hasSubItems;
}

void LabelTreeViewItem::paintItem (juce::Graphics& g, int width, int height)
{
    g.setColour (juce::Colours::black);
    g.drawText (label, 0, 0, width, height, juce::Justification::left, true);
}

bool LabelTreeViewItem::isEntryItem() const
{
    return false;
}

//==============================================================================
FileSystemEntryTreeViewItem::FileSystemEntryTreeViewItem (FileSystemPane& owner, const juce::String& name,
                                                          const FileSystemEntryInfo& entryInfo,
                                                          const juce::String& entryPath)
    : LabelTreeViewItem (name, false), path (entryPath), info (entryInfo), pane (&owner)
{
}

bool FileSystemEntryTreeViewItem::mightContainSubItems()
{
    return false;
}

bool FileSystemEntryTreeViewItem::isEntryItem() const
{
    return true;
}

void FileSystemEntryTreeViewItem::setIconFromPng (const void* data, int size)
{
    // The cache decodes each embedded image once; every item holds a reference to it.
    icon = juce::ImageCache::getFromMemory (data, size);
}

juce::String FileSystemEntryTreeViewItem::getDisplayName() const
{
    return DeviceText::toDisplay (getLabel());
}

juce::String FileSystemEntryTreeViewItem::getDetailsText() const
{
    const auto& time = info.modificationTime;
    return juce::String (info.size) + " bytes; modified "
           + juce::String (time.getDayOfMonth()) + " " + monthAbbreviations[time.getMonth()] + " "
           + juce::String (time.getYear()) + " "
           + juce::String (time.getHours()) + "." + juce::String (time.getMinutes()).paddedLeft ('0', 2);
}

void FileSystemEntryTreeViewItem::paintItem (juce::Graphics& g, int width, int height)
{
    const auto h = height;

    if (isSelected())
        g.fillAll (selectionColour);

    g.setColour (juce::Colours::black);

    if (icon.isValid())
        g.drawImage (icon, 0, 0, h, h, 0, 0, icon.getWidth(), icon.getHeight());

    // The name and the details each get a box as wide as the item, from their own x.
    g.drawText (getDisplayName(), h + h / 2, 0, width, h, juce::Justification::left, true);

    g.setColour (detailsColour);
    g.drawText (getDetailsText(), 12 * h, 0, width, h, juce::Justification::left, true);
}

void FileSystemEntryTreeViewItem::itemDoubleClicked (const juce::MouseEvent&)
{
    openEntry();   // may delete this item
}

//==============================================================================
FileTreeViewItem::FileTreeViewItem (FileSystemPane& owner, const juce::String& name,
                                    const FileSystemEntryInfo& entryInfo, const juce::String& entryPath)
    : FileSystemEntryTreeViewItem (owner, name, entryInfo, entryPath)
{
    setIconFromPng (ImageData::file_png, ImageData::file_pngSize);
}

void FileTreeViewItem::openEntry()
{
}

//==============================================================================
FolderTreeViewItem::FolderTreeViewItem (FileSystemPane& owner, const juce::String& name,
                                        const FileSystemEntryInfo& entryInfo, const juce::String& entryPath)
    : FileSystemEntryTreeViewItem (owner, name, entryInfo, entryPath)
{
    setIconFromPng (ImageData::folder_png, ImageData::folder_pngSize);
}

void FolderTreeViewItem::openEntry()
{
    // The refresh deletes this item: take what it needs into locals first.
    const auto folderPath = getPath();
    auto& owner = getPane();

    owner.getRemoteFolderField().setText (folderPath, true);
    owner.refreshRemoteFolder();
}
