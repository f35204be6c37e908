#pragma once

#include "ui/MainComponent.h"

/** Brings any screen of a MainComponent up at once, with the versions and the progress it
    is given, for rendering it without a controller: the screen tour's way in.
*/
struct ScreenPreview
{
    /** Lists every language in the combo box, as on a system that has all their locales. */
    static void listAllLanguages (MainComponent& screen);

    /** Composes state with the controller at controllerVersion and an update file of
        fileVersion (or no valid file); the updating screen's bar shows progress at once. */
    static void show (MainComponent& screen, int state, int controllerVersion, bool validFile, int fileVersion,
                      double progress);
};
