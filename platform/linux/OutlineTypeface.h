#pragma once

#include <juce_graphics/juce_graphics.h>

#include <memory>

/** A typeface made from the outlines of one face of a font file, a face of a collection
    (.ttc) included. A character the face lacks is left to the fallback font rather than
    drawn as the face's missing-glyph box.
*/
class OutlineTypeface : public juce::CustomTypeface
{
public:
    /** Null when the file has no such face or it holds no outlines. */
    static juce::ReferenceCountedObjectPtr<OutlineTypeface> create (const juce::File& file, int faceIndex,
                                                                    const juce::String& name, const juce::String& style);

    ~OutlineTypeface() override;

    /** Whether the face itself has a glyph for the character, without any fallback. */
    bool hasGlyphFor (juce::juce_wchar character) const;

    /** The family and style the file gives the face ("Noto Sans CJK SC", "Bold"). */
    juce::String getFamilyInFile() const;
    juce::String getStyleInFile() const;

    const juce::File& getFile() const noexcept { return file; }
    int getFaceIndex() const noexcept { return faceIndex; }

protected:
    bool loadGlyphIfPossible (juce::juce_wchar character) override;

private:
    struct Face;

    OutlineTypeface (std::unique_ptr<Face> face, const juce::File& file, int faceIndex,
                     const juce::String& name, const juce::String& style);

    std::unique_ptr<Face> face;
    const juce::File file;
    const int faceIndex;

    JUCE_DECLARE_NON_COPYABLE (OutlineTypeface)
};
