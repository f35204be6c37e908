#include "platform/linux/OutlineTypeface.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <mutex>

namespace
{
// One FreeType library for every face, alive while any face is. FreeType wants the calls
// on a library and its faces serialised.
struct Library
{
    Library()
    {
        if (FT_Init_FreeType (&library) != 0)
            library = nullptr;
    }

    ~Library()
    {
        if (library != nullptr)
            FT_Done_FreeType (library);
    }

    static std::shared_ptr<Library> get()
    {
        static std::mutex creation;
        static std::weak_ptr<Library> shared;

        std::lock_guard<std::mutex> guard (creation);
        auto library = shared.lock();
        if (library == nullptr)
        {
            library = std::make_shared<Library>();
            shared = library;
        }
        return library;
    }

    FT_Library library = nullptr;
    std::recursive_mutex lock;
};

bool isControlCharacter (juce::juce_wchar c)
{
    return c < 0x20 || c == 0x7F;
}

struct PathBuilder
{
    juce::Path path;
    float scale = 1.0f;
    bool open = false;

    juce::Point<float> point (const FT_Vector* v) const
    {
        return { scale * (float) v->x, -scale * (float) v->y };
    }

    static PathBuilder& from (void* user) { return *static_cast<PathBuilder*> (user); }

    static int moveTo (const FT_Vector* to, void* user)
    {
        auto& b = from (user);
        if (b.open)
            b.path.closeSubPath();
        b.path.startNewSubPath (b.point (to));
        b.open = true;
        return 0;
    }

    static int lineTo (const FT_Vector* to, void* user)
    {
        auto& b = from (user);
        b.path.lineTo (b.point (to));
        return 0;
    }

    static int conicTo (const FT_Vector* control, const FT_Vector* to, void* user)
    {
        auto& b = from (user);
        b.path.quadraticTo (b.point (control), b.point (to));
        return 0;
    }

    static int cubicTo (const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to, void* user)
    {
        auto& b = from (user);
        b.path.cubicTo (b.point (control1), b.point (control2), b.point (to));
        return 0;
    }
};
} // namespace

struct OutlineTypeface::Face
{
    ~Face()
    {
        if (face != nullptr)
        {
            std::lock_guard<std::recursive_mutex> guard (library->lock);
            FT_Done_Face (face);
        }
    }

    std::shared_ptr<Library> library;
    FT_Face face = nullptr;
};

juce::ReferenceCountedObjectPtr<OutlineTypeface> OutlineTypeface::create (const juce::File& file, int faceIndex,
                                                                          const juce::String& name, const juce::String& style)
{
    auto face = std::make_unique<Face>();
    face->library = Library::get();
    if (face->library->library == nullptr)
        return nullptr;

    {
        std::lock_guard<std::recursive_mutex> guard (face->library->lock);

        if (FT_New_Face (face->library->library, file.getFullPathName().toRawUTF8(), (FT_Long) faceIndex, &face->face) != 0)
        {
            face->face = nullptr;
            return nullptr;
        }

        auto* ft = face->face;
        if (! FT_IS_SCALABLE (ft) || ft->ascender - ft->descender <= 0)
            return nullptr;

        if (FT_Select_Charmap (ft, FT_ENCODING_UNICODE) != 0 && ft->num_charmaps > 0)
            FT_Set_Charmap (ft, ft->charmaps[0]);
    }

    return new OutlineTypeface (std::move (face), file, faceIndex, name, style);
}

OutlineTypeface::OutlineTypeface (std::unique_ptr<Face> faceToUse, const juce::File& fileToUse, int index,
                                  const juce::String& name, const juce::String& style)
    : face (std::move (faceToUse)), file (fileToUse), faceIndex (index)
{
    auto* ft = face->face;
    setCharacteristics (name, style, (float) ft->ascender / (float) (ft->ascender - ft->descender), L' ');
}

OutlineTypeface::~OutlineTypeface() = default;

bool OutlineTypeface::hasGlyphFor (juce::juce_wchar character) const
{
    std::lock_guard<std::recursive_mutex> guard (face->library->lock);
    return FT_Get_Char_Index (face->face, (FT_ULong) character) != 0;
}

juce::String OutlineTypeface::getFamilyInFile() const
{
    return juce::String::fromUTF8 (face->face->family_name != nullptr ? face->face->family_name : "");
}

juce::String OutlineTypeface::getStyleInFile() const
{
    return juce::String::fromUTF8 (face->face->style_name != nullptr ? face->face->style_name : "");
}

bool OutlineTypeface::loadGlyphIfPossible (juce::juce_wchar character)
{
    std::lock_guard<std::recursive_mutex> guard (face->library->lock);
    auto* ft = face->face;

    // Glyph 0 is the face's missing-glyph box: leave the character to the fallback font.
    const auto glyphIndex = FT_Get_Char_Index (ft, (FT_ULong) character);
    if (glyphIndex == 0)
    {
        // A line end still takes a place in a layout, as wide as that box and blank, as in
        // JUCE's own faces: the glyph after the last line end marks where the text ends.
        if (! isControlCharacter (character)
            || FT_Load_Glyph (ft, 0, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP | FT_LOAD_IGNORE_TRANSFORM | FT_LOAD_NO_HINTING) != 0)
            return false;

        addGlyph (character, {}, (float) ft->glyph->metrics.horiAdvance / (float) (ft->ascender - ft->descender));
        return true;
    }

    if (FT_Load_Glyph (ft, glyphIndex, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP | FT_LOAD_IGNORE_TRANSFORM | FT_LOAD_NO_HINTING) != 0
        || ft->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
        return false;

    // Heights are in units of ascent plus descent, as for JUCE's own FreeType faces.
    PathBuilder builder;
    builder.scale = 1.0f / (float) (ft->ascender - ft->descender);

    FT_Outline_Funcs funcs {};
    funcs.move_to = &PathBuilder::moveTo;
    funcs.line_to = &PathBuilder::lineTo;
    funcs.conic_to = &PathBuilder::conicTo;
    funcs.cubic_to = &PathBuilder::cubicTo;

    if (FT_Outline_Decompose (&ft->glyph->outline, &funcs, &builder) != 0)
        return false;

    if (builder.open)
        builder.path.closeSubPath();

    addGlyph (character, builder.path, (float) ft->glyph->metrics.horiAdvance * builder.scale);

    if (FT_HAS_KERNING (ft))
    {
        FT_UInt rightGlyph = 0;
        auto rightCharacter = FT_Get_First_Char (ft, &rightGlyph);

        while (rightGlyph != 0)
        {
            FT_Vector kerning;
            if (FT_Get_Kerning (ft, glyphIndex, rightGlyph, FT_KERNING_UNSCALED, &kerning) == 0 && kerning.x != 0)
                addKerningPair (character, (juce::juce_wchar) rightCharacter, (float) kerning.x * builder.scale);

            rightCharacter = FT_Get_Next_Char (ft, rightCharacter, &rightGlyph);
        }
    }

    return true;
}
