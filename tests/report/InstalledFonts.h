// What the fonts installed on this machine (as fontconfig lists them) hold.
#pragma once

#include <fontconfig/fontconfig.h>

namespace InstalledFonts {

// Whether some installed font with outlines, other than a colour font, has
// the character: where none has, no font choice can print it.
inline bool anyFontHas(char32_t c)
{
    FcInit();
    FcPattern *p = FcPatternCreate();
    FcCharSet *cs = FcCharSetCreate();
    FcCharSetAddChar(cs, c);
    FcPatternAddCharSet(p, FC_CHARSET, cs);
    FcPatternAddBool(p, FC_OUTLINE, FcTrue);
    FcObjectSet *os = FcObjectSetBuild(FC_FILE, FC_COLOR, nullptr);
    FcFontSet *set = FcFontList(nullptr, p, os);
    bool found = false;
    for (int i = 0; set && i < set->nfont; ++i) {
        FcBool color = FcFalse;
        FcPatternGetBool(set->fonts[i], FC_COLOR, 0, &color);
        found = found || !color;
    }
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(os);
    FcCharSetDestroy(cs);
    FcPatternDestroy(p);
    return found;
}

} // namespace InstalledFonts
