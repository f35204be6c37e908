#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class MainWindow;

class Application : public juce::JUCEApplication
{
public:
    Application();
    ~Application() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    MainWindow* getMainWindow() const noexcept { return mainWindow.get(); }

private:
    std::unique_ptr<MainWindow> mainWindow;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Application)
};
