#include "report/RptFonts.h"

#include <QFile>
#include <QFileInfo>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H
#include FT_ADVANCES_H
#include <hb-subset.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace Rpt {

struct FontFile::Face {
    FT_Face ft = nullptr;
    ~Face()
    {
        if (ft)
            FT_Done_Face(ft);
    }
};

namespace {

FT_Library freeType()
{
    static FT_Library library = [] {
        FT_Library l = nullptr;
        if (FT_Init_FreeType(&l) != 0)
            throw FontError("The font library could not be started");
        return l;
    }();
    return library;
}

std::string utf8(const QString &s) { return s.toUtf8().toStdString(); }

} // namespace

FontFile::FontFile(const QString &path) : path_(path), face_(std::make_unique<Face>())
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FontError("The font file " + utf8(path) + " cannot be read: " + utf8(file.errorString()));
    data_ = file.readAll();
    const auto *bytes = reinterpret_cast<const FT_Byte *>(data_.constData());
    if (FT_New_Memory_Face(freeType(), bytes, static_cast<FT_Long>(data_.size()), 0, &face_->ft) != 0)
        throw FontError("The font file " + utf8(path) + " is not a font");
    FT_Face f = face_->ft;
    FT_ULong glyfLength = 0;
    if (!FT_IS_SFNT(f) || FT_Load_Sfnt_Table(f, TTAG_glyf, 0, nullptr, &glyfLength) != 0 || glyfLength == 0 ||
        FT_Select_Charmap(f, FT_ENCODING_UNICODE) != 0)
        throw FontError("The font file " + utf8(path) + " is no TrueType font with Unicode characters");
    unitsPerEm_ = f->units_per_EM > 0 ? f->units_per_EM : 1000;
    const auto scaled = [this](long units) { return static_cast<int>(std::lround(units * 1000.0 / unitsPerEm_)); };
    if (const char *name = FT_Get_Postscript_Name(f))
        psName_ = name;
    else
        psName_ = QFileInfo(path).completeBaseName().toLatin1();
    ascent = scaled(f->ascender);
    descent = scaled(f->descender);
    bbox[0] = scaled(f->bbox.xMin);
    bbox[1] = scaled(f->bbox.yMin);
    bbox[2] = scaled(f->bbox.xMax);
    bbox[3] = scaled(f->bbox.yMax);
    const auto *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
    capHeight = os2 && os2->version >= 2 && os2->sCapHeight > 0 ? scaled(os2->sCapHeight) : ascent * 7 / 10;
}

FontFile::~FontFile() = default;

uint32_t FontFile::glyphIndex(char32_t c) const
{
    return static_cast<uint32_t>(FT_Get_Char_Index(face_->ft, static_cast<FT_ULong>(c)));
}

int FontFile::advance(uint32_t glyph) const
{
    FT_Fixed units = 0;
    if (FT_Get_Advance(face_->ft, glyph, FT_LOAD_NO_SCALE, &units) != 0)
        return 0;
    return static_cast<int>(std::lround(units * 1000.0 / unitsPerEm_));
}

QByteArray FontFile::subset(const std::set<uint32_t> &glyphs, std::map<uint32_t, uint32_t> &newIndex) const
{
    hb_blob_t *blob = hb_blob_create(data_.constData(), static_cast<unsigned>(data_.size()),
                                     HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t *face = hb_face_create(blob, 0);
    hb_blob_destroy(blob);
    hb_subset_input_t *input = hb_subset_input_create_or_fail();
    QByteArray out;
    if (input) {
        // The missing-glyph box stays visible for characters neither font has.
        hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_NOTDEF_OUTLINE);
        hb_set_t *keep = hb_subset_input_glyph_set(input);
        hb_set_add(keep, 0);
        for (uint32_t g : glyphs)
            hb_set_add(keep, g);
        // A PDF draws glyphs by number: the layout and substitution tables
        // are of no use to it.
        hb_set_t *drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
        for (const char *tag : {"GSUB", "GPOS", "GDEF", "kern", "BASE", "JSTF", "MATH", "DSIG", "hdmx", "LTSH",
                                "VDMX", "PCLT", "FFTM"})
            hb_set_add(drop, hb_tag_from_string(tag, 4));
        if (hb_subset_plan_t *plan = hb_subset_plan_create_or_fail(face, input)) {
            const hb_map_t *mapping = hb_subset_plan_old_to_new_glyph_mapping(plan);
            if (hb_face_t *cut = hb_subset_plan_execute_or_fail(plan)) {
                hb_blob_t *result = hb_face_reference_blob(cut);
                unsigned length = 0;
                const char *bytes = hb_blob_get_data(result, &length);
                out = QByteArray(bytes, static_cast<qsizetype>(length));
                hb_blob_destroy(result);
                hb_face_destroy(cut);
                newIndex.clear();
                for (uint32_t g : glyphs)
                    if (hb_map_has(mapping, g))
                        newIndex[g] = hb_map_get(mapping, g);
                newIndex[0] = hb_map_get(mapping, 0);
            }
            hb_subset_plan_destroy(plan);
        }
        hb_subset_input_destroy(input);
    }
    hb_face_destroy(face);
    if (out.isEmpty())
        throw FontError("The font " + psName_.toStdString() + " could not be cut down for the PDF file");
    return out;
}

namespace {

// The report's font files: the two faces and, for each, its fallback.
struct Source {
    const char *family;
    bool bold;
    const char *packagePath;
    const char *package;
};

constexpr Source kSources[] = {
    {"Liberation Sans", false, "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", "fonts-liberation2"},
    {"Liberation Sans", true, "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf", "fonts-liberation2"},
    {"DejaVu Sans", false, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "fonts-dejavu-core"},
    {"DejaVu Sans", true, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", "fonts-dejavu-core"},
};
constexpr int kSourceCount = static_cast<int>(std::size(kSources));

int primaryOf(FontFace face) { return face == FontFace::Bold ? 1 : 0; }
int fallbackOf(FontFace face) { return face == FontFace::Bold ? 3 : 2; }

// The TrueType file fontconfig knows for the family at this weight, upright
// and of normal width; empty when it knows none.
QString fontconfigFile(const QString &family, bool bold)
{
    if (!FcInit())
        return QString();
    const QByteArray name = family.toUtf8();
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(name.constData()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddInteger(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
    FcObjectSet *objects = FcObjectSetBuild(FC_FILE, nullptr);
    FcFontSet *fonts = FcFontList(nullptr, pattern, objects);
    std::vector<QString> files;
    for (int i = 0; fonts && i < fonts->nfont; ++i) {
        FcChar8 *file = nullptr;
        if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch)
            files.push_back(QString::fromUtf8(reinterpret_cast<const char *>(file)));
    }
    if (fonts)
        FcFontSetDestroy(fonts);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    // TrueType outlines only, and the same file on every run.
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const QString &f) { return !f.endsWith(QLatin1String(".ttf"), Qt::CaseInsensitive); }),
                files.end());
    std::sort(files.begin(), files.end());
    return files.empty() ? QString() : files.front();
}

class Registry {
public:
    static Registry &instance()
    {
        static Registry r;
        return r;
    }

    Glyph glyphFor(FontFace face, char32_t c)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto &cache = cache_[face == FontFace::Bold ? 1 : 0];
        if (const auto it = cache.find(c); it != cache.end())
            return it->second;
        const FontFile &primary = file(primaryOf(face));
        Glyph g{&primary, primary.glyphIndex(c), 0};
        if (g.index == 0) {
            const FontFile &fallback = file(fallbackOf(face));
            if (const uint32_t index = fallback.glyphIndex(c); index != 0)
                g = Glyph{&fallback, index, 0};
        }
        g.width = g.file->advance(g.index);
        cache.emplace(c, g);
        return g;
    }

    void setLocator(FontLocator locator)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        locator_ = std::move(locator);
        for (auto &f : files_)
            f.reset();
        for (auto &c : cache_)
            c.clear();
    }

private:
    const FontFile &file(int i)
    {
        if (!files_[i]) {
            const Source &s = kSources[i];
            const QString family = QString::fromLatin1(s.family);
            const QString path = locator_ ? locator_(family, s.bold) : defaultLocation(s);
            if (path.isEmpty() || !QFileInfo::exists(path))
                throw FontError(std::string("The report's font ") + s.family + (s.bold ? " Bold" : "") +
                                " was not found" + (path.isEmpty() ? std::string() : " at " + utf8(path)) +
                                ". It comes with the package " + s.package + ".");
            files_[i] = std::make_unique<FontFile>(path);
        }
        return *files_[i];
    }

    static QString defaultLocation(const Source &s)
    {
        const QString found = fontconfigFile(QString::fromLatin1(s.family), s.bold);
        if (!found.isEmpty())
            return found;
        const QString packaged = QString::fromLatin1(s.packagePath);
        return QFileInfo::exists(packaged) ? packaged : QString();
    }

    std::mutex mutex_;
    FontLocator locator_;
    std::unique_ptr<FontFile> files_[kSourceCount];
    std::unordered_map<char32_t, Glyph> cache_[2];
};

} // namespace

Glyph glyphFor(FontFace face, char32_t c) { return Registry::instance().glyphFor(face, c); }

void setFontLocator(FontLocator locator) { Registry::instance().setLocator(std::move(locator)); }

} // namespace Rpt
