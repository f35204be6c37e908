#include "ui/ScreenPreview.h"

#include "text/TxtLoader.h"

void ScreenPreview::listAllLanguages (MainComponent& screen)
{
    auto* texts = TxtLoader::getInstance();
    auto* box = screen.languageBox.get();
    box->clear (juce::dontSendNotification);
    for (int i = 0; i < TxtLoader::languageCount; ++i)
        box->addItem (texts->getLanguageName (i), i + 1);
}

void ScreenPreview::show (MainComponent& screen, int state, int controllerVersion, bool validFile, int fileVersion,
                          double progress)
{
    screen.currentFirmwareVersion = controllerVersion;
    screen.updateFileValid = validFile ? 1 : 0;
    screen.newFirmwareVersion = validFile ? fileVersion : -1;
    screen.updatePayloadSize = validFile ? 1000 : 0;
    screen.screenState = state;
    screen.composeScreen();

    if (state != Updating)
        return;

    // The bar creeps towards a new value on its own timer, but jumps to it from an
    // indeterminate (negative) one. Its Timer base is private; a C-style cast may still
    // name it.
    auto& barTimer = (juce::Timer&) *screen.progressBar;

    screen.sharedProgress.store (-1.0);
    screen.progressValue = -1.0;
    barTimer.timerCallback();

    screen.sharedProgress.store (progress);
    screen.progressValue = progress;
    barTimer.timerCallback();
}
