#pragma once

// The screens of the tour and how each is brought up and rendered; shared by the tour
// program and the tests that look at its images.

#include "text/TxtLoader.h"
#include "ui/ScreenPreview.h"
#include "ui/ScreenState.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

namespace screentour
{
inline const char* languageCode (int language)
{
    static const char* const codes[TxtLoader::languageCount] = {
        "en", "fr", "de", "es", "it", "nl", "ru", "pt", "zh-hans", "zh-hant", "ko", "ja"
    };
    return (unsigned) language < (unsigned) TxtLoader::languageCount ? codes[language] : "";
}

struct Shot
{
    const char* name;
    int state;
    bool validFile;
    double progress; // shown on the updating screen
};

inline const std::vector<Shot>& shots()
{
    static const std::vector<Shot> all {
        { "language", SelectLanguage, true, 0.0 },
        { "not-found", DeviceNotFound, true, 0.0 },
        { "ready", ReadyToUpdate, true, 0.0 },
        { "updating-000", Updating, true, 0.0 },
        { "updating-050", Updating, true, 0.5 },
        { "updating-100", Updating, true, 1.0 },
        { "complete", UpdateComplete, true, 0.0 },
        { "failed", UpdateFailed, true, 0.0 },
        { "file-error", ReadyToUpdate, false, 0.0 },
    };
    return all;
}

inline const Shot* findShot (const juce::String& name)
{
    for (const auto& shot : shots())
        if (name == shot.name)
            return &shot;
    return nullptr;
}

constexpr int controllerVersion = 103; // shown as 1.03
constexpr int fileVersion = 110;       // shown as 1.10

/** Brings the screen of shot up in the current language (with the controller at 1.03 and
    an update file of 1.10, or no valid file) and renders it. */
inline juce::Image render (MainComponent& screen, const Shot& shot)
{
    ScreenPreview::show (screen, shot.state, controllerVersion, shot.validFile, fileVersion, shot.progress);
    return screen.createComponentSnapshot (screen.getLocalBounds(), true, 1.0f);
}
} // namespace screentour
