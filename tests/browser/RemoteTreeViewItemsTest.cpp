#include "BrowserTestSupport.h"
#include "browser/RemoteTreeViewItems.h"

#include <gtest/gtest.h>

namespace
{
FileSystemEntryInfo entryInfo (juce::int64 size, juce::Time modified)
{
    FileSystemEntryInfo info;
    info.name = "ignored";
    info.exists = true;
    info.size = size;
    info.modificationTime = modified;
    return info;
}

/** The framework's own rendering of the same format (date, 24-hour time, no seconds),
    which writes a colon where the list shows a dot. */
juce::String frameworkDateText (juce::Time time)
{
    return time.toString (true, true, false, true).replaceCharacter (':', '.');
}

juce::Image paintItem (juce::TreeViewItem& item, int width, int height)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);
    g.fillAll (juce::Colours::white);
    item.paintItem (g, width, height);
    return image;
}

bool isGrey (juce::Colour c)   { return c.getRed() == c.getGreen() && c.getGreen() == c.getBlue() && c.getRed() < 0xe0; }
bool isDark (juce::Colour c)   { return c.getBrightness() < 0.35f; }

/** Whether any pixel in the column range satisfies the test. */
template <typename Test>
bool anyPixelIn (const juce::Image& image, int x0, int x1, Test&& test)
{
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = x0; x < x1; ++x)
            if (test (image.getPixelAt (x, y)))
                return true;

    return false;
}

/** Items need a file system pane, which needs its main pane. */
class RemoteTreeViewItems : public ::testing::Test
{
protected:
    MainPane mainPane;
    FileSystemPane& pane = fileSystemPaneOf (mainPane);
};
} // namespace

TEST_F (RemoteTreeViewItems, DetailsShowTheSizeAndTheLocalModificationTime)
{
    const juce::Time morning (2026, 11, 7, 9, 5, 0, 0, true);
    FileTreeViewItem empty (pane, "empty.txt", entryInfo (0, morning), "/mnt/a/empty.txt");
    EXPECT_EQ (empty.getDetailsText(), "0 bytes; modified 7 Dec 2026 9.05");

    // Sizes beyond 32 bits keep all their digits.
    const juce::Time evening (2031, 0, 28, 23, 59, 30, 0, true);
    FileTreeViewItem large (pane, "disk.img", entryInfo (5'000'000'123LL, evening), "/mnt/a/disk.img");
    EXPECT_EQ (large.getDetailsText(), "5000000123 bytes; modified 28 Jan 2031 23.59");
    EXPECT_EQ (large.getDetailsText(), "5000000123 bytes; modified " + frameworkDateText (evening));

    // An entry whose information query failed shows a new record's values.
    FolderTreeViewItem unknown (pane, "lost", FileSystemEntryInfo(), "/mnt/a/lost");
    EXPECT_EQ (unknown.getDetailsText(), "0 bytes; modified " + frameworkDateText (juce::Time()));
}

TEST_F (RemoteTreeViewItems, PaintsIconNameAndGreyDetailsInTheirColumns)
{
    const auto info = entryInfo (1234, juce::Time (2026, 11, 7, 9, 5, 0, 0, true));
    FolderTreeViewItem folder (pane, "Documents", info, "/mnt/Documents");
    constexpr int width = 460, h = 20;

    const auto plain = paintItem (folder, width, h);

    // The folder icon, light blue, fills the h x h square.
    const auto iconCentre = plain.getPixelAt (h / 2, h / 2);
    EXPECT_GT (iconCentre.getBlue(), iconCentre.getRed());
    EXPECT_GT (iconCentre.getBlue(), 0xc0);

    // The name in black from x = 30, nothing between the icon and the name, the details
    // in grey from x = 240.
    EXPECT_FALSE (anyPixelIn (plain, h, h + h / 2, [] (juce::Colour c) { return c != juce::Colours::white; }));
    EXPECT_TRUE (anyPixelIn (plain, h + h / 2, 120, isDark));
    EXPECT_FALSE (anyPixelIn (plain, 140, 12 * h, [] (juce::Colour c) { return c != juce::Colours::white; }));
    EXPECT_TRUE (anyPixelIn (plain, 12 * h, width, isGrey));
    EXPECT_FALSE (anyPixelIn (plain, 12 * h, width, isDark));
    EXPECT_EQ (plain.getPixelAt (width - 1, 0), juce::Colours::white);

    // Selected, the whole item is filled with the selection colour.
    folder.setSelected (true, false);
    const auto selected = paintItem (folder, width, h);
    EXPECT_EQ (selected.getPixelAt (width - 1, 0), juce::Colour (0xffbbbbff));
    EXPECT_EQ (selected.getPixelAt (h + 2, h - 1), juce::Colour (0xffbbbbff));
}

