#include "app/MainWindow.h"

#include "ui/MainComponent.h"

MainWindow::MainWindow()
    : juce::ResizableWindow ("KRVUpdateProgram", true)
{
    mainComponent = new MainComponent();
    setContentOwned (mainComponent, true);
    centreWithSize (getWidth(), getHeight());
    setAlwaysOnTop (true);
    setVisible (true);
    setUsingNativeTitleBar (true);

    // The content was fitted while the window still had JUCE's own one-pixel frame;
    // with the native title bar there is none, so fit it again: the screen is 420 x 170.
    setContentComponentSize (420, 170);
    centreWithSize (getWidth(), getHeight());
}

MainWindow::~MainWindow()
{
    // The base deletes the content component.
    mainComponent = nullptr;
}
