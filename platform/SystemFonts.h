#pragma once

#include <juce_core/juce_core.h>

/** The text tables name their fonts as Windows knows them ("Arial", "MS UI Gothic",
    "Microsoft YaHei"). Windows finds them by those names; on Linux fontconfig serves the
    nearest installed font for the name and the language.
*/
class SystemFonts
{
public:
    /** Text in this language (an ISO code, "zh-cn") is drawn with the font of this name. */
    static void serve (const juce::String& fontName, const juce::String& language);
};
