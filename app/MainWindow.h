#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class MainComponent;

class MainWindow : public juce::ResizableWindow
{
public:
    MainWindow();
    ~MainWindow() override;

    MainComponent* getMainComponent() const noexcept { return mainComponent; }

private:
    MainComponent* mainComponent = nullptr; // owned as the content component

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
