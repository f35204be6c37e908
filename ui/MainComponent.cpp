#include "ui/MainComponent.h"

#include "device/HidCtrl.h"
#include "style/ImageLoader.h"
#include "style/ProgressLookAndFeel.h"
#include "style/ZizarButton.h"
#include "text/LangLookAndFeel.h"
#include "text/TxtLoader.h"
#include "update/UpdateFileLoader.h"
#include "update/UpdateFileLocation.h"
#include "update/UpdateReports.h"

#include <cmath>
#include <cstring>

namespace
{
const juce::Colour buttonFace (234, 234, 234);
const char* const updateFileName = "KRV-7000_UP.upd";
}

MainComponent::MainComponent()
    : juce::Thread ("MainComponent")
{
    TxtLoader::getInstance();
    ImageLoader::createInstance();

    langLookAndFeel = std::make_unique<LangLookAndFeel>();

    languageBox = std::make_unique<juce::ComboBox> ("langs");
    addAndMakeVisible (*languageBox);
    languageBox->setLookAndFeel (langLookAndFeel.get());
    languageBox->addListener (this);
    languageBox->setWantsKeyboardFocus (false);

    auto* texts = TxtLoader::getInstance();
    for (int i = 0; i < TxtLoader::languageCount; ++i)
        if (texts->isLanguageAvailable (i))
            languageBox->addItem (texts->getLanguageName (i), i + 1);

    languageBox->setSelectedId (texts->getCurrentLanguage() + 1, juce::dontSendNotification);

    progressLookAndFeel = std::make_unique<ProgressLookAndFeel>();
    progressBar = std::make_unique<juce::ProgressBar> (progressValue);
    addAndMakeVisible (*progressBar);
    progressBar->setLookAndFeel (progressLookAndFeel.get());
    progressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colour (61, 61, 61));
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colour (8, 8, 8));

    auto setUpButton = [this] (ZizarButton& button) {
        addAndMakeVisible (button);
        button.addListener (this);
        const int bold = juce::Font::bold;
        button.setFontStyle (bold);
        button.setColour (juce::TextButton::buttonColourId, buttonFace);
        button.setColour (juce::TextButton::buttonOnColourId, buttonFace);
    };

    okButton = std::make_unique<ZizarButton> ("OK");
    setUpButton (*okButton);
    cancelButton = std::make_unique<ZizarButton> ("Cancel");
    setUpButton (*cancelButton);

    int version = -1;
    const int payloadSize = loadUpdateFile (updateFileName, "KRV-7000 ", &version);
    if (version > 0 && payloadSize > 0)
    {
        updateFileValid = 1;
        newFirmwareVersion = version;
        updatePayloadSize = payloadSize;
    }
    else
    {
        updateFileValid = 0;
        newFirmwareVersion = -1;
        updatePayloadSize = 0;
    }

    std::memset (answerBuffer, 0, sizeof (answerBuffer));

    addListener (&stopWaker);

    hidCtrl = std::make_unique<HidCtrl>();
    hidCtrl->open (this, updateFileValid);

    setSize (420, 170);
}

MainComponent::~MainComponent()
{
    // A system quit during an update arrives here with the worker still running: it must
    // have ended before anything it uses goes away.
    stopWorker();
    progressRelay.stopTimer();

    languageBox.reset();
    progressBar.reset();
    okButton.reset();
    cancelButton.reset();
    langLookAndFeel.reset();
    progressLookAndFeel.reset();

    hidCtrl->close();
    hidCtrl.reset();

    ImageLoader::deleteInstance();
    TxtLoader::deleteInstance();

    removeListener (&stopWaker);
}

void MainComponent::stopWorker()
{
    // Asked to stop before it is woken: whatever wait the session is in then ends as
    // unanswered, never as an answer.
    signalThreadShouldExit();
    wakeWorker();
    stopThread (-1);
}

void MainComponent::wakeWorker()
{
    {
        const juce::ScopedLock sl (answerLock);
        ++wakesSent;
    }
    answerEvent.signal();
}

void MainComponent::setScreenState (int newState)
{
    if ((screenState != SelectLanguage && updateFileValid == 0)
        || screenState == UpdateComplete || screenState == UpdateFailed)
        return;

    screenState = newState;

    if (screenState == Updating)
        progressRelay.startTimer (15);
    else
        progressRelay.stopTimer();

    progressValue = sharedProgress.load();
    composeScreen();
}

void MainComponent::handleAsyncUpdate()
{
    // Two triggers can meet one request: the first applies it and leaves -1, which is no state.
    if (screenState > SelectLanguage && requestedState >= SelectLanguage && requestedState <= UpdateFailed)
    {
        const juce::ScopedLock sl (stateLock);
        setScreenState (requestedState);
        requestedState = -1;
    }
}

void MainComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (box != languageBox.get())
        return;

    const int language = languageBox->getSelectedId() - 1;
    auto* texts = TxtLoader::getInstance();

    // An empty selection (id 0) is no language.
    if (language >= 0 && language != texts->getCurrentLanguage())
        texts->selectLanguage (language);

    composeScreen();
}

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == okButton.get() && screenState == SelectLanguage)
    {
        if (hidCtrl->state.load() != HidCtrl::Disconnected)
        {
            currentFirmwareVersion = hidCtrl->firmwareVersion;
            setScreenState (ReadyToUpdate);
        }
        else
        {
            currentFirmwareVersion = -1;
            setScreenState (DeviceNotFound);
        }
    }
    else if (button == okButton.get() && screenState == ReadyToUpdate && updateFileValid != 0)
    {
        if (! workerStarted)
        {
            workerStarted = true;
            UpdateSession::Update update;
            update.records = updateRecords;
            update.newFirmwareVersion = newFirmwareVersion;
            update.updateFileValid = updateFileValid;
            update.updatePayloadSize = updatePayloadSize;
            update.file = updateFileValid == 1 ? UpdateFileLocation::file (updateFileName) : juce::File();
            session = std::make_unique<UpdateSession> (sessionHost, update, timings);

            answerEvent.reset();
            startThread();
        }
    }
    else if (button == okButton.get() || button == cancelButton.get())
    {
        stopAndQuit();
    }
}

void MainComponent::stopAndQuit()
{
    stopWorker();

    if (quitRequested)
        quitRequested();
    else if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void MainComponent::deviceDetached()
{
    currentFirmwareVersion = -1;
    {
        const juce::ScopedLock sl (answerLock);
        ++removals;
    }
    followDevice (DeviceNotFound);
}

void MainComponent::deviceAttached()
{
    currentFirmwareVersion = hidCtrl->firmwareVersion;
    {
        const juce::ScopedLock sl (answerLock);
        removalsBeforeArrival = removals;
        versionOnArrival = currentFirmwareVersion;
    }
    followDevice (ReadyToUpdate);
}

void MainComponent::followDevice (int stateToRequest)
{
    // Once the worker has started, the screen is the session's: a device event queued just
    // before Start must not take it over. The session reads the change as answer code 0.
    if (screenState == Updating || workerStarted)
    {
        wakeWorker();
        return;
    }

    const juce::ScopedLock sl (stateLock);
    requestedState = stateToRequest;
    triggerAsyncUpdate();
}

void MainComponent::inputReceived()
{
    const int length = juce::jlimit (0, (int) sizeof (answerBuffer), hidCtrl->inputLength);

    if (length > 0)
    {
        const juce::ScopedLock sl (answerLock);

        // An answer not yet taken outlives the controller's ordinary input behind it (a knob
        // report right after a completion answer and a reset); a later answer still wins.
        const bool answerPending = answersWritten != answersTaken && UpdateReports::isAnswerCode (answerBuffer[0]);

        if (! answerPending || UpdateReports::isAnswerCode (hidCtrl->inputBuffer[0]))
        {
            std::memcpy (answerBuffer, hidCtrl->inputBuffer, (size_t) length);
            ++answersWritten;
        }
    }

    if (screenState == Updating)
        answerEvent.signal();
}

void MainComponent::ProgressRelay::timerCallback()
{
    owner.progressValue = owner.sharedProgress.load();
}

void MainComponent::StopWaker::exitSignalSent()
{
    owner.answerEvent.signal();
}

void MainComponent::run()
{
    if (session != nullptr)
        session->run();
}

UpdateSession::Wake MainComponent::waitForInput (int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    for (;;)
    {
        // Once the thread is asked to stop, no wait holds it: the StopWaker has signalled the
        // event, and every later wait returns at once as unanswered.
        if (threadShouldExit())
            return UpdateSession::Wake::nothing;

        const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
        if (! answerEvent.wait (juce::jmax (0, (int) std::ceil (left))))
            return UpdateSession::Wake::nothing;

        answerEvent.reset();

        if (threadShouldExit())
            return UpdateSession::Wake::nothing;

        // A signal whose report was already copied on an earlier wake brings nothing new.
        const auto wake = takeAnswer();
        if (wake != UpdateSession::Wake::nothing)
            return wake;
    }
}

UpdateSession::Wake MainComponent::takeAnswer()
{
    const juce::ScopedLock sl (answerLock);

    if (answersWritten != answersTaken)
    {
        std::memcpy (answer, answerBuffer, sizeof (answer));
        answersTaken = answersWritten;

        // A device change behind this answer must still end the next wait.
        if (wakesSent != wakesTaken)
            answerEvent.signal();

        return UpdateSession::Wake::report;
    }

    if (wakesSent != wakesTaken)
    {
        // Every report that came before has been taken: the buffer now reads as cleared, as
        // a later time-out of the mode switch examines it.
        wakesTaken = wakesSent;
        std::memset (answerBuffer, 0, sizeof (answerBuffer));
        std::memset (answer, 0, sizeof (answer));
        return UpdateSession::Wake::deviceChange;
    }

    std::memcpy (answer, answerBuffer, sizeof (answer));
    return UpdateSession::Wake::nothing;
}

int MainComponent::waitForArrival (std::uint32_t removal, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    for (;;)
    {
        {
            const juce::ScopedLock sl (answerLock);
            if (removal > 0 && removalsBeforeArrival >= removal)
                return versionOnArrival;
        }

        const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
        if (threadShouldExit() || left <= 0)
            return -1;

        // Every device change signals the event; a spurious wake only checks again.
        answerEvent.wait (juce::jmax (1, (int) std::ceil (left)));
        answerEvent.reset();
    }
}

std::uint32_t MainComponent::SessionHost::removalCount()
{
    const juce::ScopedLock sl (owner.answerLock);
    return owner.removals;
}

void MainComponent::SessionHost::writeReport (const std::uint8_t* report)
{
    if (owner.hidCtrl != nullptr)
        owner.hidCtrl->write (report, UpdateReports::reportSize);
}

void MainComponent::SessionHost::requestState (UpdateSession::Screen screen)
{
    const juce::ScopedLock sl (owner.stateLock);
    owner.requestedState = screen == UpdateSession::Screen::updating   ? Updating
                           : screen == UpdateSession::Screen::complete ? UpdateComplete
                                                                       : UpdateFailed;
    owner.triggerAsyncUpdate();
}

int MainComponent::loadUpdateFile (const juce::String& fileName, const char* modelName, int* version)
{
    return ::loadUpdateFile (fileName, modelName, version, updateRecords);
}
