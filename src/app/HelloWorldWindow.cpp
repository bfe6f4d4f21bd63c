#include "app/HelloWorldWindow.h"
#include "app/MainPane.h"

HelloWorldWindow::HelloWorldWindow()
    : juce::DocumentWindow ("USB File Utility", juce::Colour (0xffd3d3d3), juce::DocumentWindow::allButtons, true)
{
    setContentOwned (new MainPane(), false);
    setVisible (true);
    centreWithSize (500, 700);
    setResizable (true, false);

   #if JUCE_WINDOWS
    // The framework paints Windows windows at the display's vertical blank; where no
    // display output reports one (Wine, some virtual machines and remote sessions),
    // nothing would be repainted after the first time.
    startTimerHz (30);
   #endif
}

void HelloWorldWindow::timerCallback()
{
    if (auto* peer = getPeer())
        peer->performAnyPendingRepaintsNow();
}

MainPane& HelloWorldWindow::getMainPane() const
{
    return *static_cast<MainPane*> (getContentComponent());
}

void HelloWorldWindow::closeButtonPressed()
{
    // A running transfer stops after its block; the quit then takes effect as soon as the
    // operation has unwound, and no new operation starts meanwhile.
    getMainPane().cancelOperation();
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}

bool HelloWorldWindow::keyPressed (const juce::KeyPress& key)
{
    auto& mainPane = getMainPane();

    if (key == juce::KeyPress::escapeKey && mainPane.isBusy())
    {
        mainPane.cancelOperation();
        return true;
    }

    return juce::DocumentWindow::keyPressed (key);
}
