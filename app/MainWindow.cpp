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
}

MainWindow::~MainWindow()
{
    // The base deletes the content component.
    mainComponent = nullptr;
}
