#pragma once

// Test access to MainComponent's private state. One definition for the whole test
// runner: every test file that needs it includes this header.

#include "device/HidCtrl.h"
#include "style/ZizarButton.h"
#include "ui/MainComponent.h"

#include <array>
#include <cstring>

struct MainComponentProbe
{
    static int screenState (const MainComponent& c) { return c.screenState; }
    static int requestedState (const MainComponent& c) { return c.requestedState; }
    static int currentFirmwareVersion (const MainComponent& c) { return c.currentFirmwareVersion; }
    static int newFirmwareVersion (const MainComponent& c) { return c.newFirmwareVersion; }
    static int updateFileValid (const MainComponent& c) { return c.updateFileValid; }
    static int updatePayloadSize (const MainComponent& c) { return c.updatePayloadSize; }
    static const UpdateRecordInfo* updateRecords (const MainComponent& c) { return c.updateRecords; }
    static double progressValue (const MainComponent& c) { return c.progressValue; }
    static double lastPercent (const MainComponent& c) { return c.session != nullptr ? c.session->getLastPercent() : 0.0; }
    static const std::uint8_t* answerBuffer (const MainComponent& c) { return c.answers.buffer; }
    static HidCtrl* hidCtrl (const MainComponent& c) { return c.hidCtrl.get(); }
    static juce::ComboBox* languageBox (const MainComponent& c) { return c.languageBox.get(); }
    static juce::ProgressBar* progressBar (const MainComponent& c) { return c.progressBar.get(); }
    static juce::Button* okButton (const MainComponent& c) { return c.okButton.get(); }
    static juce::Button* cancelButton (const MainComponent& c) { return c.cancelButton.get(); }
    static const juce::GlyphArrangement& textLayout (const MainComponent& c) { return c.textLayout; }

    static void setUpdateFileValid (MainComponent& c, int valid, int version = 103, int payload = 1000)
    {
        c.updateFileValid = valid;
        c.newFirmwareVersion = valid ? version : -1;
        c.updatePayloadSize = valid ? payload : 0;
    }

    static void forceScreenState (MainComponent& c, int state)
    {
        c.screenState = state;
        c.composeScreen();
    }

    static void setCurrentFirmwareVersion (MainComponent& c, int v) { c.currentFirmwareVersion = v; }
    static void setProgressValue (MainComponent& c, double v) { c.progressValue = v; }
    static void setTimings (MainComponent& c, const MainComponent::SessionTimings& t) { c.timings = t; }
    static void onQuit (MainComponent& c, std::function<void()> f) { c.quitRequested = std::move (f); }
    static void click (MainComponent& c, juce::Button* b) { c.buttonClicked (b); }
    static bool workerRunning (const MainComponent& c) { return c.isThreadRunning(); }

    // Update session
    static double sharedProgress (const MainComponent& c) { return c.sharedProgress.load(); }
    static void takeAnswer (MainComponent& c) { c.answers.takeAnswer(); }
    static juce::CriticalSection& answerLock (MainComponent& c) { return c.answers.lock; }
    static std::uint8_t* answerBufferForWriting (MainComponent& c) { return c.answers.buffer; }

    /** The worker's copy of the latest answer, read under the lock it is taken under. */
    static std::array<std::uint8_t, 256> answerCopy (MainComponent& c)
    {
        std::array<std::uint8_t, 256> copy {};
        const juce::ScopedLock sl (c.answers.lock);
        std::memcpy (copy.data(), c.answers.taken, copy.size());
        return copy;
    }

    /** Screen composition, block by block. */
    static juce::GlyphArrangement& editTextLayout (MainComponent& c) { return c.textLayout; }
    static void addConnectHint (MainComponent& c, float x, float y, int language, const juce::String& font)
    {
        c.addConnectHint (x, y, language, font);
    }
    static void addReconnectSteps (MainComponent& c, float x, float y, int language, const juce::String& font, bool withHeading)
    {
        c.addReconnectSteps (x, y, language, font, withHeading);
    }
};
