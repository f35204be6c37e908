#pragma once

#include "update/UpdateSession.h"

#include <juce_core/juce_core.h>

/** krv-update: the same update session as the window, driven from a terminal or a script.
    Needs JUCE's message loop (the device's news arrives on it). */
namespace CommandLineUpdater
{
enum ExitCode
{
    completed = 0,
    failed = 1,
    cannotStart = 2, // nothing to do, no controller, no library, bad file, another updater
    usage = 64
};

/** The lock the window holds while it runs (JUCE's single-instance lock). */
inline const char* const windowLockName = "juceAppLock_KRVUpdateProgram";

/** The whole program: arguments without the program name; terminal: out can redraw a bar. */
int run (const juce::StringArray& args, juce::OutputStream& out, juce::OutputStream& err, bool terminal,
         const UpdateSession::Timings& timings = {},        // the product's; only tests shorten them
         const juce::String& updaterLock = windowLockName); // tests use one of their own

juce::String helpText();
} // namespace CommandLineUpdater
