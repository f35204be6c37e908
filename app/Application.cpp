#include "app/Application.h"

#include "app/MainWindow.h"
#include "platform/RepaintPump.h"
#include "platform/SingleInstance.h"
#include "platform/SystemQuit.h"
#include "platform/Win32.h"

Application::Application() = default;

Application::~Application() = default;

void Application::initialise (const juce::String&)
{
    RepaintPump::install();
    mainWindow = std::make_unique<MainWindow>();
    SystemQuit::install();
}

void Application::shutdown()
{
    SystemQuit::uninstall();
    mainWindow = nullptr;
    RepaintPump::uninstall();
    SingleInstance::release();
}

const juce::String Application::getApplicationName()
{
    return "KRVUpdateProgram";
}

const juce::String Application::getApplicationVersion()
{
    return KRV_VERSION;
}

bool Application::moreThanOneInstanceAllowed()
{
    AllowSetForegroundWindow (ASFW_ANY);

    // Claim the hand-over channel before JUCE's own lock decides, so a second start
    // reaches anotherInstanceStarted here as it does on Windows.
    SingleInstance::claimOrHandOver (getApplicationName(),
                                     getCommandLineParameters(),
                                     [] (const juce::String& otherCommandLine) {
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->anotherInstanceStarted (otherCommandLine);
    });
    return false;
}

void Application::anotherInstanceStarted (const juce::String&)
{
    if (mainWindow != nullptr && mainWindow->isVisible())
        mainWindow->toFront (true);
}

void Application::systemRequestedQuit()
{
    // Held while an update runs; SystemQuit asks again once it has ended.
    if (! SystemQuit::holdRequest())
        quit();
}
