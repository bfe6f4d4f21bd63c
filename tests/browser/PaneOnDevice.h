#pragma once

#include "BrowserTestSupport.h"
#include "app/Settings.h"
#include "browser/RemoteTreeViewItems.h"
#include "support/SimulatorProcess.h"
#include "transport/SerialPort.h"

#include <gtest/gtest.h>

/** A main pane on the screen, connected to the device simulator over its pty. The
    simulated device serves deviceRoot, where device path /mnt/nandfs/usr is the host folder
    usrFolder; hostFolder stands for the operator's own files. Each test starts the
    simulator itself (connect), with the fault rules it needs. "RemoteFolder" and
    "LocalFolder" are empty when the pane is built. */
class PaneOnDevice : public ::testing::Test
{
protected:
    PaneOnDevice()
    {
        Settings::setAndSave ("RemoteFolder", {});
        Settings::set ("LocalFolder", {});

        workFolder.createDirectory();
        usrFolder.createDirectory();
        hostFolder.createDirectory();

        mainPane = std::make_unique<MainPane>();
        mainPane->setSize (620, 560);
        putOnScreen (*mainPane);
    }

    ~PaneOnDevice() override
    {
        mainPane->getClient().detachPort();    // before the port object goes
        port.reset();
        simulator.stop();
        mainPane.reset();
        workFolder.deleteRecursively();
    }

    /** Starts the simulator with the given fault rules and attaches its pty to the main
        pane's client, as "Connect" does. The tab is not selected yet. */
    bool connect (const juce::StringArray& rules = {})
    {
        juce::StringArray arguments { "--root", deviceRoot.getFullPathName(), "--log", requestLogFile.getFullPathName() };

        for (const auto& rule : rules)
        {
            arguments.add ("--rule");
            arguments.add (rule);
        }

        if (! simulator.start (arguments))
            return false;

        port = std::make_unique<SerialPort> (simulator.getPtyPath(), SerialPortSettings {});

        if (! port->isOpen())
            return false;

        mainPane->getClient().attachPort (port.get());
        mainPane->setConnected();
        return true;
    }

    FileSystemPane& pane()           { return fileSystemPaneOf (*mainPane); }
    juce::TextEditor& folderField()  { return pane().getRemoteFolderField(); }

    /** Selects the "File System" tab, which lists the folder in the field. */
    void showTab()                   { mainPane->getTabs().setCurrentTabIndex (1); }

    /** Lists a device folder as typed into the field. */
    void listFolder (const juce::String& path)
    {
        folderField().setText (path, false);
        pane().refreshRemoteFolder();
    }

    //==============================================================================
    /** Every request the device received so far, in order, without serial numbers:
        "FolderContentsRequest path=/mnt/nandfs/usr", say. */
    juce::StringArray requests() const
    {
        juce::StringArray lines;
        lines.addLines (requestLogFile.loadFileAsString());
        lines.removeEmptyStrings();

        for (auto& line : lines)
        {
            const auto start = line.indexOf (" serial=");

            if (start >= 0)
            {
                const auto end = line.indexOfChar (start + 1, ' ');
                line = line.substring (0, start) + (end < 0 ? juce::String() : line.substring (end));
            }
        }

        return lines;
    }

    /** The requests after the first `from` ones. */
    juce::StringArray requestsSince (int from) const
    {
        auto all = requests();
        all.removeRange (0, from);
        return all;
    }

    int requestCount() const   { return requests().size(); }

    /** The requests of one kind among the given ones. */
    static juce::StringArray ofKind (const juce::StringArray& lines, const juce::String& kind)
    {
        juce::StringArray matching;

        for (const auto& line : lines)
            if (line.upToFirstOccurrenceOf (" ", false, false) == kind)
                matching.add (line);

        return matching;
    }

    //==============================================================================
    /** The listed entries in order, folders with a "/" after the name. */
    juce::StringArray listed()
    {
        juce::StringArray labels;
        auto* root = pane().getTree().getRootItem();

        for (int i = 0; i < root->getNumSubItems(); ++i)
        {
            auto* item = dynamic_cast<FileSystemEntryTreeViewItem*> (root->getSubItem (i));
            labels.add (item == nullptr ? juce::String ("?")
                                        : item->getLabel() + (dynamic_cast<FolderTreeViewItem*> (item) != nullptr ? "/" : ""));
        }

        return labels;
    }

    FileSystemEntryTreeViewItem* listedItem (const juce::String& label)
    {
        auto* root = pane().getTree().getRootItem();

        for (int i = 0; i < root->getNumSubItems(); ++i)
            if (auto* item = dynamic_cast<FileSystemEntryTreeViewItem*> (root->getSubItem (i)))
                if (item->getLabel() == label)
                    return item;

        return nullptr;
    }

    /** Selects the listed entry, as a click on it does. */
    bool select (const juce::String& label)
    {
        auto* item = listedItem (label);

        if (item != nullptr)
            item->setSelected (true, true);

        return item != nullptr;
    }

    juce::StringArray logLines()   { return logLinesOf (*mainPane); }

    /** Waits until the tree has made the components of its rows, which it does
        asynchronously after the list changed. */
    bool waitForRows()
    {
        auto& tree = pane().getTree();
        return dispatchUntil ([&] { return tree.getViewport()->getViewedComponent()->getNumChildComponents()
                                               == tree.getRootItem()->getNumSubItems(); }, 10000);
    }

    static void writeFile (const juce::File& file, const juce::String& text)
    {
        file.getParentDirectory().createDirectory();
        file.replaceWithText (text, false, false, nullptr);   // the text's own line ends
    }

    juce::File workFolder { juce::File::createTempFile ("usb-file-utility-browser") };
    juce::File deviceRoot { workFolder.getChildFile ("device") };
    juce::File usrFolder { deviceRoot.getChildFile ("mnt/nandfs/usr") };
    juce::File hostFolder { workFolder.getChildFile ("host") };
    juce::File requestLogFile { workFolder.getChildFile ("requests.log") };

    SimulatorProcess simulator;
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<MainPane> mainPane;
};
