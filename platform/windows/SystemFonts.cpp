#include "platform/SystemFonts.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <map>
#include <memory>

namespace
{
/** The fonts Windows has for a language's script, in order of preference; the last ones
    are those a system without the Windows fonts may have (Wine with the Noto fonts). */
juce::StringArray scriptFonts (const juce::String& language)
{
    if (language == "ja")
        return { "Yu Gothic UI", "Meiryo UI", "Meiryo", "MS Gothic", "Noto Sans CJK JP" };
    if (language == "zh-cn")
        return { "Microsoft YaHei UI", "Microsoft YaHei", "SimHei", "SimSun", "Noto Sans CJK SC" };
    if (language == "zh-tw")
        return { "Microsoft JhengHei UI", "Microsoft JhengHei", "PMingLiU", "Noto Sans CJK TC" };
    if (language == "ko")
        return { "Malgun Gothic", "Gulim", "Noto Sans CJK KR" };
    return { "Segoe UI", "Tahoma", "Arial" };
}

// JUCE looks every font up through the default look-and-feel, whichever component draws:
// a font the system lacks is created under its stand-in's name.
class SubstitutingLookAndFeel final : public juce::LookAndFeel_V4,
                                      private juce::DeletedAtShutdown
{
public:
    ~SubstitutingLookAndFeel() override
    {
        if (&juce::LookAndFeel::getDefaultLookAndFeel() == this)
            juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        instance = nullptr;
    }

    static SubstitutingLookAndFeel& get()
    {
        if (instance == nullptr)
        {
            // Desktop first, so that it outlives this at shutdown.
            juce::Desktop::getInstance();
            instance = new SubstitutingLookAndFeel();
            juce::LookAndFeel::setDefaultLookAndFeel (instance);
        }
        return *instance;
    }

    const juce::StringArray& installed()
    {
        if (families.isEmpty())
            families = juce::Font::findAllTypefaceNames();
        return families;
    }

    void substitute (const juce::String& fontName, const juce::String& standIn)
    {
        substitutes[fontName] = standIn;
        juce::Typeface::clearTypefaceCache();
    }

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font& font) override
    {
        const auto found = substitutes.find (font.getTypefaceName());
        if (found == substitutes.end())
            return juce::LookAndFeel_V4::getTypefaceForFont (font);

        juce::Font standIn (font);
        standIn.setTypefaceName (found->second);
        return juce::Typeface::createSystemTypefaceFor (standIn);
    }

private:
    static SubstitutingLookAndFeel* instance;
    juce::StringArray families;
    std::map<juce::String, juce::String> substitutes;
};

SubstitutingLookAndFeel* SubstitutingLookAndFeel::instance = nullptr;
} // namespace

void SystemFonts::serve (const juce::String& fontName, const juce::String& language)
{
    auto& fonts = SubstitutingLookAndFeel::get();
    if (fonts.installed().contains (fontName, true))
        return;

    for (const auto& candidate : scriptFonts (language))
        if (fonts.installed().contains (candidate, true))
        {
            fonts.substitute (fontName, candidate);
            return;
        }
}

bool SystemFonts::glyphsFallBack()
{
    return false;
}
