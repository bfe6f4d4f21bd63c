#include "BrowserTestSupport.h"
#include "app/Settings.h"

#include <gtest/gtest.h>

namespace
{
struct ChildLayout
{
    const char* buttonTextOrName;
    juce::Rectangle<int> bounds;
};

juce::Component* childByTextOrName (juce::Component& pane, const juce::String& key)
{
    if (auto* button = findButtonWithText (pane, key))
        return button;

    for (auto* child : pane.getChildren())
        if (child->getName() == key)
            return child;

    return nullptr;
}
} // namespace

TEST (FileSystemPaneLayout, BoundsFollowTheSize)
{
    MainPane mainPane;
    auto& pane = fileSystemPaneOf (mainPane);
    pane.setSize (701, 433);   // odd, to see the integer divisions

    const ChildLayout expected[] = {
        { "new group",     { 93, 12, 592, 412 } },
        { "remote folder", { 96, 8, 547, 24 } },
        { "Delete",        { 16, 386, 80, 24 } },
        { "new treeview",  { 96, 34, 585, 386 } },
        { "Home",          { 32, 8, 24, 24 } },
        { "Up",            { 64, 8, 24, 24 } },
        { "Get",           { 16, 48, 80, 24 } },
        { "Send",          { 16, 80, 80, 24 } },
        { "New Folder",    { 16, 112, 80, 24 } },
        { "Rename",        { 16, 144, 80, 24 } },
    };

    for (const auto& child : expected)
    {
        SCOPED_TRACE (child.buttonTextOrName);
        auto* component = childByTextOrName (pane, child.buttonTextOrName);
        ASSERT_NE (component, nullptr);
        EXPECT_EQ (component->getBounds(), child.bounds);
    }

    // Centred over the tree: (701 - 116) / 2 - (701 - 241) / 2 + 96 = 292 - 230 + 96;
    // added after the tree, so it lies above it.
    EXPECT_EQ (pane.getNameAssigner().getBounds(), juce::Rectangle<int> (158, 32, 460, 80));
    EXPECT_GT (pane.getIndexOfChildComponent (&pane.getNameAssigner()), pane.getIndexOfChildComponent (&pane.getTree()));
    EXPECT_FALSE (pane.getNameAssigner().isVisible());

    for (auto* text : { "Delete", "Get", "Send", "New Folder", "Rename" })
        EXPECT_EQ (findButtonWithText (pane, text)->getConnectedEdgeFlags(), juce::Button::ConnectedOnRight) << text;
}

TEST (FileSystemPaneLayout, PaintsARoundedBandBehindTheTopRow)
{
    MainPane mainPane;
    auto& pane = fileSystemPaneOf (mainPane);
    pane.setSize (600, 400);

    const auto image = pane.createComponentSnapshot (pane.getLocalBounds());
    const juce::Colour band (0xffa3a3a3);

    // Row 10 lies above the group box's outline; the band runs from 16 to 558 there,
    // less its rounded ends.
    EXPECT_EQ (image.getPixelAt (60, 10), band);     // between Home and Up
    EXPECT_EQ (image.getPixelAt (24, 10), band);     // inside the left rounded end
    EXPECT_EQ (image.getPixelAt (550, 10), band);    // right of the folder field, inside the right end
    EXPECT_EQ (image.getPixelAt (16, 7), juce::Colours::white);   // cut off by the corner
    EXPECT_EQ (image.getPixelAt (570, 10), juce::Colours::white); // beyond the band
    EXPECT_EQ (image.getPixelAt (40, 300), juce::Colours::white);
}

TEST (FileSystemPaneLayout, StartsWithTheRememberedFolderWithoutListingIt)
{
    Settings::setAndSave ("RemoteFolder", "/mnt/nandfs/etc");
    MainPane mainPane;
    auto& pane = fileSystemPaneOf (mainPane);

    EXPECT_EQ (pane.getRemoteFolderField().getText(), "/mnt/nandfs/etc");
    EXPECT_EQ (pane.getTree().getRootItem()->getNumSubItems(), 0);
    EXPECT_EQ (Settings::get ("RemoteFolder"), "/mnt/nandfs/etc");
    Settings::setAndSave ("RemoteFolder", {});
}
