// The screens reached through the buttons, with and without an update file and a controller.
#include "ImageChecks.h"
#include "LayoutText.h"
#include "ScreenFixture.h"
#include "TestSupport.h"

#include "style/ZizarButton.h"

namespace
{
bool isSignYellow (juce::Colour c)
{
    return c.getRed() > 200 && c.getGreen() > 180 && c.getBlue() < 110;
}

using testsupport::visibleText;

constexpr int controllerType = 7; // the type the link accepts for the KRV-7000
} // namespace

class ScreenFlow : public ScreenFixture
{
protected:
    juce::Image render() { return screen->createComponentSnapshot (screen->getLocalBounds(), true, 1.0f); }

    bool showsSign() { return ! imagechecks::boundsOf (render(), { 20, 15, 64, 64 }, isSignYellow).isEmpty(); }

    bool fileAccepted() { return updateFileValid() != 0; }
};

TEST_F (ScreenFlow, WithoutAnUpdateFileOkShowsTheFileErrorScreen)
{
    open();
    ASSERT_EQ (updateFileValid(), 0);
    EXPECT_TRUE (languageBox().isVisible());
    EXPECT_FALSE (showsSign());

    screen->buttonClicked (&okButton());

    EXPECT_FALSE (okButton().isVisible());
    EXPECT_TRUE (cancelButton().isVisible());
    EXPECT_EQ (cancelButton().getButtonText(), texts().getText (4));
    EXPECT_EQ (cancelButton().getBounds(), juce::Rectangle<int> (300, 130, 100, 20));
    EXPECT_FALSE (languageBox().isVisible());
    EXPECT_FALSE (progressBar().isVisible());
    EXPECT_EQ (visibleText (layout()), texts().getText (10).removeCharacters (" "));
    EXPECT_TRUE (showsSign());

    // A controller arriving changes nothing; OK ends the program.
    device.plugIn (1, controllerType, 103);
    testsupport::pumpFor (50);
    EXPECT_EQ (visibleText (layout()), texts().getText (10).removeCharacters (" "));
    screen->buttonClicked (&cancelButton());
    EXPECT_EQ (quitRequests, 1);
}

TEST_F (ScreenFlow, WithAFileAndNoControllerOkShowsTheReconnectSteps)
{
    writeUpdateFile (110);
    open();
    if (! fileAccepted())
        GTEST_SKIP() << "the update-file loader does not accept a valid file yet";

    screen->buttonClicked (&okButton());

    EXPECT_EQ (screenState(), DeviceNotFound);
    EXPECT_FALSE (okButton().isVisible());
    EXPECT_EQ (cancelButton().getButtonText(), texts().getText (7));
    EXPECT_EQ (cancelButton().getBounds(), juce::Rectangle<int> (300, 130, 100, 20));
    EXPECT_TRUE (visibleText (layout()).startsWith ("YourKRV-7000isnotrecognized."));
    EXPECT_TRUE (showsSign());
}

TEST_F (ScreenFlow, WithAFileAndAControllerOkShowsBothVersions)
{
    writeUpdateFile (110);
    device.plugIn (1, controllerType, 103, false);
    open();
    if (! fileAccepted())
        GTEST_SKIP() << "the update-file loader does not accept a valid file yet";

    screen->buttonClicked (&okButton());

    EXPECT_EQ (screenState(), ReadyToUpdate);
    EXPECT_EQ (okButton().getButtonText(), texts().getText (5));
    EXPECT_EQ (cancelButton().getButtonText(), texts().getText (7));
    EXPECT_EQ (okButton().getBounds(), juce::Rectangle<int> (300, 130, 100, 20));
    EXPECT_EQ (cancelButton().getBounds(), juce::Rectangle<int> (190, 130, 100, 20));
    const auto text = visibleText (layout());
    EXPECT_TRUE (text.contains ("CurrentVersion:Ver.1.03")) << text;
    EXPECT_TRUE (text.contains ("UpdateVersion:Ver.1.10")) << text;
    EXPECT_FALSE (showsSign());
}
