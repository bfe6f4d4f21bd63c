#include "app/HelloWorldWindow.h"
#include "app/MainPane.h"

HelloWorldWindow::HelloWorldWindow()
    : juce::DocumentWindow ("USB File Utility", juce::Colour (0xffd3d3d3), juce::DocumentWindow::allButtons, true)
{
    setContentOwned (new MainPane(), false);
    setVisible (true);
    centreWithSize (500, 700);
    setResizable (true, false);
}

MainPane& HelloWorldWindow::getMainPane() const
{
    return *static_cast<MainPane*> (getContentComponent());
}

void HelloWorldWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
