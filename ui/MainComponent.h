#pragma once

#include "device/HidHandler.h"
#include "ui/ScreenState.h"
#include "update/UpdateRecordInfo.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cstdint>
#include <functional>

class HidCtrl;
class LangLookAndFeel;
class ProgressLookAndFeel;
class ZizarButton;

// The updater screen: owns every widget, the device link and the update worker thread,
// and keeps the screen state. The update session itself (run and its helpers) lives in
// update/UpdateSession.cpp, screen composition and layout in ui/ScreenComposer.cpp.
class MainComponent : public juce::Component,
                      public juce::AsyncUpdater,
                      public juce::Thread,
                      public HidHandler,
                      public juce::ComboBox::Listener,
                      public juce::Button::Listener
{
public:
    MainComponent();
    ~MainComponent() override;

    // Component
    void paint (juce::Graphics&) override;
    void resized() override;

    // AsyncUpdater
    void handleAsyncUpdate() override;

    // Thread: the update session
    void run() override;

    // HidHandler
    void deviceDetached() override;
    void deviceAttached() override;
    void inputReceived() override;

    // ComboBox::Listener, Button::Listener
    void comboBoxChanged (juce::ComboBox*) override;
    void buttonClicked (juce::Button*) override;

    void setScreenState (int newState);
    void composeScreen();
    void stopAndQuit();

    int loadUpdateFile (const juce::String& fileName, const char* modelName, int* version);

    static juce::String formatText (const char* format, ...);

    // Waits of the update session, in milliseconds. The product always uses these values;
    // only tests shorten them.
    struct SessionTimings
    {
        int streamingMs = 1000;
        int modeAnswerMs = 10000;
        int answerMs = 10000;
        int blockAnswerMs = 180000;
        int busyAnswerMs = 20000;
        int pauseMs = 100;
    };

private:
    friend struct MainComponentProbe; // test access
    friend struct ScreenPreview;

    // Update session (worker thread)
    int switchToUpdateMode();
    bool isDeviceStreaming();
    int waitWhileBusy();
#if defined(__GNUC__)
    __attribute__ ((format (printf, 2, 3)))
#endif
    void debugTrace (const char* format, ...);
    void requestState (int state);
    bool waitForAnswer (int timeoutMs);
    bool waitForInput (int timeoutMs);
    bool takeAnswer();
    void publishProgress (double value);
    bool transferRecords();
    bool transferBlocks (int recordNumber, const std::uint8_t* data, std::uint32_t length);
    bool endUpdate();
    void writeReport (const std::uint8_t* report /* 64 bytes */);

    // Screen composition
    void addReconnectSteps (float x, float y, int language, const juce::String& fontName, bool withHeading);
    void addConnectHint (float x, float y, int language, const juce::String& fontName);
    void addTextBlock (const juce::String& text, const juce::String& fontName, bool bold,
                       float x, float y, float width, float height, int maxLines);
    void addTextBlock (const juce::String& text, const juce::String& fontName, bool bold, float x, float y, float width);
    float bottomOfText() const;
    bool isFileErrorScreen() const noexcept;

    void stopWorker();

    juce::GlyphArrangement textLayout;
    LangLookAndFeel* langLookAndFeel = nullptr;
    juce::ComboBox* languageBox = nullptr;
    ProgressLookAndFeel* progressLookAndFeel = nullptr;
    double progressValue = 0.0; // what the bar shows; message thread only
    juce::ProgressBar* progressBar = nullptr;
    ZizarButton* okButton = nullptr;
    ZizarButton* cancelButton = nullptr;
    juce::CriticalSection stateLock;
    juce::WaitableEvent answerEvent { false };
    int newFirmwareVersion = -1;
    int updateFileValid = 0;
    int updatePayloadSize = 0;
    UpdateRecordInfo updateRecords[updateRecordCount];
    int currentFirmwareVersion = -1;
    int screenState = SelectLanguage;
    int requestedState = -1;
    HidCtrl* hidCtrl = nullptr;
    std::uint8_t answerBuffer[256] {};
    double lastPercent = 0.0;

    // The worker never reads answerBuffer directly: it takes a copy under answerLock,
    // so a report arriving while it decides cannot tear the answer it looks at.
    juce::CriticalSection answerLock;
    std::uint8_t answer[256] {};

    // Counts every write to answerBuffer (under answerLock). The worker may copy a report
    // before it waits for that report's signal, and an input message may bring no report;
    // the count tells it such a signal brings nothing new, so one answer is never taken
    // for the answers to two reports.
    std::uint32_t answersWritten = 0;
    std::uint32_t answersTaken = 0; // worker only

    // Written by the worker, copied into progressValue on the message thread.
    std::atomic<double> sharedProgress { 0.0 };

    struct ProgressRelay : juce::Timer
    {
        explicit ProgressRelay (MainComponent& c) : owner (c) {}
        void timerCallback() override;
        MainComponent& owner;
    };
    ProgressRelay progressRelay { *this };

    // Wakes a session that waits for an answer when the thread is asked to stop.
    struct StopWaker : juce::Thread::Listener
    {
        explicit StopWaker (MainComponent& c) : owner (c) {}
        void exitSignalSent() override;
        MainComponent& owner;
    };
    StopWaker stopWaker { *this };

    // JUCE lets a finished thread start again; the session must run once per program run.
    bool workerStarted = false;

    SessionTimings timings;
    std::function<void()> quitRequested; // tests replace the application's quit

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
