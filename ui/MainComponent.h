#pragma once

#include "device/HidHandler.h"
#include "platform/UpdateInhibitor.h"
#include "ui/ScreenState.h"
#include "update/AnswerBuffer.h"
#include "update/UpdateRecordInfo.h"
#include "update/UpdateSession.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class HidCtrl;
class LangLookAndFeel;
class ProgressLookAndFeel;
class ZizarButton;

/** The updater screen: owns every widget, the device link and the update worker thread,
    and keeps the screen state. Its worker thread runs an UpdateSession, which reaches the
    screen only through SessionHost; screen composition and layout are in ui/ScreenComposer.cpp.
*/
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
    bool keyPressed (const juce::KeyPress&) override;
    std::unique_ptr<juce::ComponentTraverser> createKeyboardFocusTraverser() override;
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

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

    using SessionTimings = UpdateSession::Timings;

private:
    friend struct MainComponentProbe; // test access
    friend struct ScreenPreview;

    /** The update session's side of the answer buffer (worker thread). */
    UpdateSession::Wake waitForInput (int timeoutMs);
    void wakeWorker();
    void followDevice (int stateToRequest);

    // Screen composition
    void addReconnectSteps (float x, float y, int language, const juce::String& fontName, bool withHeading);
    void addConnectHint (float x, float y, int language, const juce::String& fontName);
    void addTextBlock (const juce::String& text, const juce::String& fontName, bool bold,
                       float x, float y, float width, float height, int maxLines);
    void addTextBlock (const juce::String& text, const juce::String& fontName, bool bold, float x, float y, float width);
    float bottomOfText() const;
    bool isFileErrorScreen() const noexcept;

    // What a screen reader reads: the first text block is the screen's title, the others
    // static texts in reading order (ui/ScreenComposer.cpp).
    struct SpokenText
    {
        juce::String text;
        juce::Rectangle<float> bounds;
    };
    std::vector<SpokenText> spokenTexts;
    void splitLastSpokenText();
    void exposeSpokenTexts();
    juce::String describeScreen() const;

    /** One text of the screen for assistive technology: the screen paints the text, this
        only carries it and its place into the accessibility tree.
    */
    struct ScreenText : juce::Component
    {
        ScreenText();
        std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;
    };
    std::vector<std::unique_ptr<ScreenText>> screenTexts;

    /** The right-hand button, which Enter presses where no button has the focus. */
    ZizarButton* defaultButton() const noexcept;

    void stopWorker();

    juce::GlyphArrangement textLayout;
    std::unique_ptr<LangLookAndFeel> langLookAndFeel;
    std::unique_ptr<juce::ComboBox> languageBox;
    std::unique_ptr<ProgressLookAndFeel> progressLookAndFeel;
    double progressValue = 0.0; // what the bar shows; message thread only
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<ZizarButton> okButton;
    std::unique_ptr<ZizarButton> cancelButton;
    juce::CriticalSection stateLock;
    int newFirmwareVersion = -1;
    int updateFileValid = 0;
    int updatePayloadSize = 0;
    UpdateRecordInfo updateRecords[updateRecordCount];
    int currentFirmwareVersion = -1;
    int screenState = SelectLanguage;
    int requestedState = -1;
    std::unique_ptr<HidCtrl> hidCtrl;
    AnswerBuffer answers;

    /** Written by the worker, copied into progressValue on the message thread. */
    std::atomic<double> sharedProgress { 0.0 };

    struct ProgressRelay : juce::Timer
    {
        explicit ProgressRelay (MainComponent& c) : owner (c) {}
        void timerCallback() override;
        MainComponent& owner;
    };
    ProgressRelay progressRelay { *this };

    /** Wakes a session that waits for an answer when the thread is asked to stop. */
    struct StopWaker : juce::Thread::Listener
    {
        explicit StopWaker (MainComponent& c) : owner (c) {}
        void exitSignalSent() override;
        MainComponent& owner;
    };
    StopWaker stopWaker { *this };

    /** What the session asks of this screen, on the worker thread. */
    struct SessionHost : UpdateSession::Host
    {
        explicit SessionHost (MainComponent& c) : owner (c) {}
        void writeReport (const std::uint8_t* report) override;
        UpdateSession::Wake waitForInput (int timeoutMs) override { return owner.waitForInput (timeoutMs); }
        UpdateSession::Wake takeAnswer() override { return owner.answers.takeAnswer(); }
        const std::uint8_t* answer() const override { return owner.answers.answer(); }
        void requestState (UpdateSession::Screen) override;
        void setProgress (double fraction) override { owner.sharedProgress.store (fraction); }
        void pause (int ms) override { owner.wait (ms); }
        bool stopRequested() const override { return owner.threadShouldExit(); }
        std::uint32_t removalCount() override { return owner.answers.removalCount(); }
        int waitForArrival (std::uint32_t removal, int timeoutMs) override
        {
            return owner.answers.waitForArrival (removal, timeoutMs, [this] { return owner.threadShouldExit(); });
        }
        MainComponent& owner;
    };
    SessionHost sessionHost { *this };

    /** Made at Start; the session runs once per program run (JUCE lets a finished thread
        start again).
    */
    std::unique_ptr<UpdateSession> session;

    /** Sleep, shutdown and system quits held back from Start until the session has ended. */
    std::unique_ptr<UpdateInhibitor> inhibitor;
    void holdSystemBack();
    void releaseSystem();
    bool workerStarted = false;

    SessionTimings timings;
    std::function<void()> quitRequested; // tests replace the application's quit

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
