#pragma once

// Test access to MainComponent's insides, for tests and the screen tour. MainComponent
// names this struct as its friend: keep this the program's one definition of it and add
// what other tests need here.

#include "ui/MainComponent.h"
#include "style/ZizarButton.h"

#include <juce_gui_basics/juce_gui_basics.h>

struct MainComponentProbe
{
    explicit MainComponentProbe (MainComponent& c) : component (c) {}

    int& screenState() { return component.screenState; }
    int& updateFileValid() { return component.updateFileValid; }
    int& newFirmwareVersion() { return component.newFirmwareVersion; }
    int& currentFirmwareVersion() { return component.currentFirmwareVersion; }

    juce::GlyphArrangement& textLayout() { return component.textLayout; }
    juce::ComboBox& languageBox() { return *component.languageBox; }
    juce::ProgressBar& progressBar() { return *component.progressBar; }
    ZizarButton& okButton() { return *component.okButton; }
    ZizarButton& cancelButton() { return *component.cancelButton; }

    /** Shows state on the screen whatever the current one is, as a composition input. */
    void show (int state)
    {
        component.screenState = state;
        component.resized();
    }

    /** What the screen would show with a valid update file of the given version. */
    void pretendValidFile (int version)
    {
        component.updateFileValid = 1;
        component.newFirmwareVersion = version;
    }

    /** Makes the progress bar show value at once: the bar moves towards a new value in
        small steps on its own timer, but jumps when it comes from an indeterminate one. */
    void showProgress (double value)
    {
        // The bar's Timer base is private; a C-style cast may still name it.
        auto& bar = (juce::Timer&) *component.progressBar;

        component.sharedProgress.store (-1.0);
        component.progressValue = -1.0;
        bar.timerCallback();

        component.sharedProgress.store (value);
        component.progressValue = value;
        bar.timerCallback();
    }

    void addReconnectSteps (float x, float y, int language, const juce::String& font, bool withHeading)
    {
        component.addReconnectSteps (x, y, language, font, withHeading);
    }

    void addConnectHint (float x, float y, int language, const juce::String& font)
    {
        component.addConnectHint (x, y, language, font);
    }

    float bottomOfText() const { return component.bottomOfText(); }

    void quitWith (std::function<void()> handler) { component.quitRequested = std::move (handler); }

    MainComponent& component;
};
