#include "ui/MainComponent.h"

#include "platform/SystemQuit.h"
#include "platform/TraceOutput.h"

#include "device/HidCtrl.h"
#include "style/ImageLoader.h"
#include "style/ProgressLookAndFeel.h"
#include "style/ZizarButton.h"
#include "text/LangLookAndFeel.h"
#include "text/TxtLoader.h"
#include "update/UpdateFileLoader.h"
#include "update/UpdateFileLocation.h"
#include "update/UpdateReports.h"

#include <algorithm>
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
    // The screen itself holds the keyboard focus where no button has it, so that Enter
    // reaches it and a click on the background leaves the buttons unfocused.
    setWantsKeyboardFocus (true);
    setFocusContainerType (FocusContainerType::keyboardFocusContainer);

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
    releaseSystem();
    progressRelay.stopTimer();

    screenTexts.clear();
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
    answers.wake();
}

void MainComponent::setScreenState (int newState)
{
    if ((screenState != SelectLanguage && updateFileValid == 0)
        || screenState == UpdateComplete || screenState == UpdateFailed)
        return;

    const bool changed = screenState != newState;
    screenState = newState;

    if (screenState == UpdateComplete || screenState == UpdateFailed)
        releaseSystem();

    if (screenState == Updating)
        progressRelay.startTimer (15);
    else
        progressRelay.stopTimer();

    progressValue = sharedProgress.load();
    composeScreen();

    // Where the system has a screen reader running, it reads the screen that appeared.
    if (changed)
        juce::AccessibilityHandler::postAnnouncement (describeScreen(), juce::AccessibilityHandler::AnnouncementPriority::medium);
}

ZizarButton* MainComponent::defaultButton() const noexcept
{
    if (okButton->isVisible())
        return okButton.get();

    return cancelButton->isVisible() ? cancelButton.get() : nullptr;
}

bool MainComponent::keyPressed (const juce::KeyPress& key)
{
    // No key does anything while updating: the buttons are hidden and nothing else takes keys.
    if (screenState == Updating && ! isFileErrorScreen())
        return true;

    // Reaches here only where no button has the focus: a focused button takes Enter itself.
    if (key.isKeyCode (juce::KeyPress::returnKey))
    {
        if (auto* button = defaultButton())
            button->triggerClick();

        return true;
    }

    return false;
}

namespace
{
/** Tab and Shift+Tab go round the visible buttons, the default (right-hand) one first; the
    language box and the screen texts are never reached.
*/
class ButtonTraverser : public juce::ComponentTraverser
{
public:
    explicit ButtonTraverser (std::vector<juce::Component*> visibleButtons) : buttons (std::move (visibleButtons)) {}

    // Nothing: a click on what takes no focus hands it to the screen, never to a button.
    juce::Component* getDefaultComponent (juce::Component*) override { return nullptr; }

    juce::Component* getNextComponent (juce::Component* current) override { return step (current, 1); }
    juce::Component* getPreviousComponent (juce::Component* current) override { return step (current, -1); }
    std::vector<juce::Component*> getAllComponents (juce::Component*) override { return buttons; }

private:
    juce::Component* step (juce::Component* current, int direction) const
    {
        if (buttons.empty())
            return nullptr;

        const auto count = (int) buttons.size();
        const auto found = std::find (buttons.begin(), buttons.end(), current);
        if (found == buttons.end())
            return direction > 0 ? buttons.front() : buttons.back();

        const auto index = (int) (found - buttons.begin());
        return buttons[(size_t) ((index + direction + count) % count)];
    }

    std::vector<juce::Component*> buttons;
};
} // namespace

std::unique_ptr<juce::ComponentTraverser> MainComponent::createKeyboardFocusTraverser()
{
    std::vector<juce::Component*> buttons;
    if (auto* first = defaultButton())
    {
        buttons.push_back (first);
        for (auto* other : { okButton.get(), cancelButton.get() })
            if (other != first && other->isVisible())
                buttons.push_back (other);
    }

    return std::make_unique<ButtonTraverser> (std::move (buttons));
}

std::unique_ptr<juce::AccessibilityHandler> MainComponent::createAccessibilityHandler()
{
    return std::make_unique<juce::AccessibilityHandler> (*this, juce::AccessibilityRole::group);
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

            answers.reset();
            holdSystemBack();
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
    releaseSystem();

    if (quitRequested)
        quitRequested();
    else if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void MainComponent::holdSystemBack()
{
    auto* peer = getPeer();
    inhibitor = std::make_unique<UpdateInhibitor> (UpdateInhibitor::updaterName,
                                                   UpdateInhibitor::updateReason,
                                                   peer != nullptr ? peer->getNativeHandle() : nullptr);
    // The system log, not the session's own trace: standard error on Linux, the debugger on Windows.
    writeSystemLogLine ("sleep and shutdown " + inhibitor->describe());
    SystemQuit::holdDuringUpdate (true);
}

void MainComponent::releaseSystem()
{
    if (inhibitor == nullptr)
        return;

    inhibitor.reset();
    writeSystemLogLine ("sleep and shutdown released");
    SystemQuit::holdDuringUpdate (false);
}

void MainComponent::deviceDetached()
{
    currentFirmwareVersion = -1;
    answers.deviceRemoved();
    followDevice (DeviceNotFound);
}

void MainComponent::deviceAttached()
{
    currentFirmwareVersion = hidCtrl->firmwareVersion;
    answers.deviceArrived (currentFirmwareVersion);
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
    answers.write (hidCtrl->inputBuffer, hidCtrl->inputLength, screenState == Updating);
}

void MainComponent::ProgressRelay::timerCallback()
{
    owner.progressValue = owner.sharedProgress.load();
}

void MainComponent::StopWaker::exitSignalSent()
{
    owner.answers.signal();
}

void MainComponent::run()
{
    if (session != nullptr)
        session->run();
}

UpdateSession::Wake MainComponent::waitForInput (int timeoutMs)
{
    return answers.waitForInput (timeoutMs, [this] { return threadShouldExit(); });
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
