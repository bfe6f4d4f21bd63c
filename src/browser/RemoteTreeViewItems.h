#pragma once

#include "protocol/FileSystemEntryInfo.h"

#include <juce_gui_basics/juce_gui_basics.h>

class FileSystemPane;

/** A tree item that only shows a text. The file system pane's hidden root is one. */
class LabelTreeViewItem : public juce::TreeViewItem
{
public:
    LabelTreeViewItem (const juce::String& label, bool mightContainSubItems);

    bool mightContainSubItems() override;
    void paintItem (juce::Graphics& g, int width, int height) override;

    /** True for the items that stand for a device file or folder. */
    virtual bool isEntryItem() const;

    const juce::String& getLabel() const noexcept { return label; }

private:
    juce::String label;
    bool hasSubItems;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LabelTreeViewItem)
};

/** One entry of the listed device folder: its icon, its name, and its size and
    modification time in grey. A double-click opens the entry (openEntry). */
class FileSystemEntryTreeViewItem : public LabelTreeViewItem
{
public:
    FileSystemEntryTreeViewItem (FileSystemPane& pane, const juce::String& name,
                                 const FileSystemEntryInfo& info, const juce::String& path);

    bool mightContainSubItems() override;
    void paintItem (juce::Graphics& g, int width, int height) override;
    void itemDoubleClicked (const juce::MouseEvent&) override;

    bool isEntryItem() const override;

    /** What a double-click does with the entry. */
    virtual void openEntry() = 0;

    /** The entry's full device path: the listed folder, "/" and the entry's name. */
    const juce::String& getPath() const noexcept            { return path; }
    const FileSystemEntryInfo& getInfo() const noexcept     { return info; }
    const juce::Image& getIcon() const noexcept             { return icon; }

    /** The name as the list shows it. Bytes of a name that isn't UTF-8 show as Latin-1
        characters, so two entries may look alike; the path still tells them apart. */
    juce::String getDisplayName() const;

    /** The grey text beside the name: "<size> bytes; modified <day> <month> <year>
        <hour>.<minutes>", in local time, for example "0 bytes; modified 7 Dec 2026 9.05". */
    juce::String getDetailsText() const;

protected:
    FileSystemPane& getPane() const noexcept                { return *pane; }

    /** Sets the icon from an embedded PNG; without a decodable image there is none. */
    void setIconFromPng (const void* data, int size);

private:
    juce::String path;
    FileSystemEntryInfo info;
    juce::Image icon;
    FileSystemPane* pane;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileSystemEntryTreeViewItem)
};

/** A device file; a double-click does nothing. */
class FileTreeViewItem : public FileSystemEntryTreeViewItem
{
public:
    FileTreeViewItem (FileSystemPane& pane, const juce::String& name,
                      const FileSystemEntryInfo& info, const juce::String& path);

    void openEntry() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileTreeViewItem)
};

/** A device folder; a double-click makes the pane list it. */
class FolderTreeViewItem : public FileSystemEntryTreeViewItem
{
public:
    FolderTreeViewItem (FileSystemPane& pane, const juce::String& name,
                        const FileSystemEntryInfo& info, const juce::String& path);

    /** Lists this folder in the pane. The listing deletes this item, so nothing of it is
        used once the pane's refresh has begun. */
    void openEntry() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FolderTreeViewItem)
};
