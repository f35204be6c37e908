// Renders every screen of the updater, in every language, to PNG files: for reviewing the
// look and for the tests that check it.
//
//     krv_screen_tour <folder> [language code ...]
//
// Files are named <screen>-<language>.png, e.g. ready-en.png, updating-050-ja.png.

#include "FontStandIn.h"
#include "ScreenTourShots.h"

#include "device/DeviceLibrary.h"

#include <cstdio>

namespace
{
// No controller: the tour must not depend on what is plugged into this machine. The
// functions are in the library's convention (FWBRIDGE_CALL), which 32-bit Windows tells apart.
const FwBridgeApi noController {
    [] (void*) FWBRIDGE_CALL { return 0; },
    [] (void*, unsigned, unsigned, unsigned) FWBRIDGE_CALL { return 0; },
    []() FWBRIDGE_CALL { return 0; },
    []() FWBRIDGE_CALL { return 1; },
    []() FWBRIDGE_CALL { return 1; },
    [] (int*) FWBRIDGE_CALL { return 0; },
    [] (int) FWBRIDGE_CALL { return -1; },
    [] (int, int*, int) FWBRIDGE_CALL { return 0; },
    [] (int, unsigned char*, int* length) FWBRIDGE_CALL { *length = 0; return 0; },
    [] (int, const unsigned char*, int) FWBRIDGE_CALL { return 0; },
};

bool writePng (const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    return out.openedOk() && png.writeImageToStream (image, out);
}

// The number of images written, or -1 on a write error.
int renderLanguage (int language, const juce::File& folder)
{
    // A parent like the main window, whose title the screen sets.
    juce::Component window;
    MainComponent screen;
    window.addAndMakeVisible (screen);

    auto* texts = TxtLoader::getInstance();
    texts->selectLanguage (language);
    if (texts->getCurrentLanguage() != language)
    {
        std::fprintf (stderr, "%s: the text loader has no such language, skipped\n", screentour::languageCode (language));
        return 0;
    }

    ScreenPreview::listAllLanguages (screen);

    int written = 0;
    for (const auto& shot : screentour::shots())
    {
        const auto image = screentour::render (screen, shot);
        const auto file = folder.getChildFile (juce::String (shot.name) + "-" + screentour::languageCode (language) + ".png");
        if (! writePng (image, file))
        {
            std::fprintf (stderr, "cannot write %s\n", file.getFullPathName().toRawUTF8());
            return -1;
        }
        ++written;
    }

    std::printf ("%s: %d screens, window title \"%s\"\n", screentour::languageCode (language), written,
                 window.getName().toRawUTF8());
    return written;
}

// The number of images written, or -1 on a write error.
int renderAll (const juce::File& folder, const std::vector<int>& languages)
{
    FontStandIn fonts;
    int total = 0;

    for (const int language : languages)
    {
        const int written = renderLanguage (language, folder);
        if (written < 0)
            return -1;
        total += written;
    }

    for (const auto& name : fonts.replaced())
        std::printf ("font \"%s\" is not on this system: drawn in the default sans-serif\n", name.toRawUTF8());

    return total;
}

int languageFromCode (const juce::String& code)
{
    for (int l = 0; l < TxtLoader::languageCount; ++l)
        if (code == screentour::languageCode (l))
            return l;
    return -1;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: %s <folder> [language code ...]\n", argv[0]);
        return 2;
    }

    std::vector<int> languages;
    for (int i = 2; i < argc; ++i)
    {
        const int language = languageFromCode (argv[i]);
        if (language < 0)
        {
            std::fprintf (stderr, "unknown language code %s\n", argv[i]);
            return 2;
        }
        languages.push_back (language);
    }
    if (languages.empty())
        for (int l = 0; l < TxtLoader::languageCount; ++l)
            languages.push_back (l);

    juce::ScopedJuceInitialiser_GUI juce;

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (argv[1]));
    if (! folder.createDirectory())
    {
        std::fprintf (stderr, "cannot create %s\n", folder.getFullPathName().toRawUTF8());
        return 1;
    }

    DeviceLibrary::useInstead (&noController);
    const int total = renderAll (folder, languages);
    DeviceLibrary::useInstead (nullptr);

    if (total < 0)
        return 1;

    std::printf ("%d images in %s\n", total, folder.getFullPathName().toRawUTF8());
    return total > 0 ? 0 : 1;
}
