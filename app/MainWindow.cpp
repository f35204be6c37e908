#include "app/MainWindow.h"

#include "ui/MainComponent.h"

MainWindow::MainWindow()
    : juce::ResizableWindow ("KRVUpdateProgram", true)
{
    // The window passes the keyboard focus it gets on activation to the screen, where Enter
    // presses the default button.
    setWantsKeyboardFocus (false);

    mainComponent = new MainComponent();
    setContentOwned (mainComponent, true);
    centreWithSize (getWidth(), getHeight());
    setAlwaysOnTop (true);
    // The native title bar before the window is shown: the switch re-creates the window, and
    // a shown one would first appear with JUCE's frame and its drop shadow (four windows of
    // their own, each unmapped again; without a window manager Wine waits 2 s for each).
    setUsingNativeTitleBar (true);

    // The content was fitted while the window still had JUCE's own one-pixel frame;
    // with the native title bar there is none, so fit it again: the screen is 420 x 170.
    setContentComponentSize (420, 170);
    centreWithSize (getWidth(), getHeight());
    setVisible (true);
}

MainWindow::~MainWindow()
{
    // The base deletes the content component.
    mainComponent = nullptr;
}
