#pragma once

// A MainComponent inside a window-like parent, with a scripted device library (no
// controller unless a test plugs one in) and an update-file folder of its own.

#include "FontStandIn.h"
#include "MainComponentProbe.h"
#include "ScreenTourShots.h"
#include "ScriptedDevice.h"

#include "style/ZizarButton.h"
#include "text/TxtLoader.h"
#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileLocation.h"

#include <gtest/gtest.h>

#include <memory>

class ScreenFixture : public ::testing::Test
{
protected:
    ScreenFixture()
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getNonexistentChildFile ("krv-screen-test", "", false);
        folder.createDirectory();
        UpdateFileLocation::setFolderForTesting (folder);
    }

    ~ScreenFixture() override
    {
        screen.reset();
        UpdateFileLocation::setFolderForTesting ({});
        folder.deleteRecursively();
    }

    /** Writes a valid update file of that version where the screen looks for it. */
    void writeUpdateFile (int version)
    {
        std::vector<UpdateRecordSpec> records (12);
        for (size_t i = 0; i < records.size(); ++i)
            records[i].data.assign (100 + i, (std::uint8_t) i);
        const auto bytes = buildUpdateFile (version, records);
        folder.getChildFile ("KRV-7000_UP.upd").replaceWithData (bytes.data(), bytes.size());
    }

    void open (int width = 420, int height = 170)
    {
        screen = std::make_unique<MainComponent>();
        window.addAndMakeVisible (*screen);
        MainComponentProbe::onQuit (*screen, [this] { ++quitRequests; });
        screen->setSize (width, height);
    }

    /** Switches the language as the text loader does when the combo box picks it. */
    void useLanguage (int language)
    {
        TxtLoader::getInstance()->selectLanguage (language);
        screen->composeScreen();
    }

    /** The screen of a tour shot, rendered. */
    juce::Image shoot (const char* name)
    {
        const auto* shot = screentour::findShot (name);
        EXPECT_NE (shot, nullptr) << name;
        return screentour::render (*screen, *shot);
    }

    ZizarButton& okButton() { return *static_cast<ZizarButton*> (MainComponentProbe::okButton (*screen)); }
    ZizarButton& cancelButton() { return *static_cast<ZizarButton*> (MainComponentProbe::cancelButton (*screen)); }
    juce::ComboBox& languageBox() { return *MainComponentProbe::languageBox (*screen); }
    juce::ProgressBar& progressBar() { return *MainComponentProbe::progressBar (*screen); }
    juce::GlyphArrangement& layout() { return MainComponentProbe::editTextLayout (*screen); }
    int screenState() { return MainComponentProbe::screenState (*screen); }
    int updateFileValid() { return MainComponentProbe::updateFileValid (*screen); }
    void show (int state) { MainComponentProbe::forceScreenState (*screen, state); }

    TxtLoader& texts() { return *TxtLoader::getInstance(); }
    int width() const { return screen->getWidth(); }
    int height() const { return screen->getHeight(); }

    FontStandIn fonts;
    ScriptedDevice device;
    juce::File folder;
    juce::Component window;
    std::unique_ptr<MainComponent> screen;
    int quitRequests = 0;
};
