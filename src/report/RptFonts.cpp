#include "report/RptFonts.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CID_H
#include FT_TRUETYPE_TABLES_H
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
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

uint32_t be32(const QByteArray &d, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(d.constData() + at);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t be16(const QByteArray &d, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(d.constData() + at);
    return uint32_t(p[0]) << 8 | p[1];
}

QString tagText(uint32_t tag)
{
    QString t;
    for (int s = 24; s >= 0; s -= 8)
        t += QChar(char((tag >> s) & 0xFF));
    return t.trimmed();
}

constexpr uint32_t tag(const char *t)
{
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
}

// The tables of one face, after checking that the file holds every one of
// them whole: FreeType reads a file lazily, so a file cut short would
// otherwise only fail when the subsetter reads it. Returns what is wrong,
// or empty.
QString checkTables(const QByteArray &d, int index, std::set<uint32_t> &tables)
{
    const qsizetype size = d.size();
    if (size < 12)
        return QStringLiteral("is no font file (it holds %1 bytes)").arg(size);
    qsizetype at = 0;
    if (be32(d, 0) == tag("ttcf")) {
        const uint32_t faces = size >= 16 ? be32(d, 8) : 0;
        if (index < 0 || uint32_t(index) >= faces || 12 + 4 * qsizetype(faces) > size)
            return QStringLiteral("is a font collection without a face %1").arg(index);
        at = be32(d, 12 + 4 * index);
    } else if (index != 0) {
        return QStringLiteral("has no face %1").arg(index);
    }
    if (at + 12 > size)
        return QStringLiteral("is cut short: its table directory ends past the end of the file");
    const uint32_t version = be32(d, at);
    if (version != 0x00010000 && version != tag("OTTO") && version != tag("true"))
        return QStringLiteral("is no TrueType or OpenType font");
    const uint32_t count = be16(d, at + 4);
    if (at + 12 + 16 * qsizetype(count) > size)
        return QStringLiteral("is cut short: its table directory ends past the end of the file");
    for (uint32_t i = 0; i < count; ++i) {
        const qsizetype rec = at + 12 + 16 * qsizetype(i);
        const uint32_t t = be32(d, rec);
        if (qsizetype(be32(d, rec + 8)) + qsizetype(be32(d, rec + 12)) > size)
            return QStringLiteral("is cut short: its table \u201c%1\u201d ends past the end of the file").arg(tagText(t));
        tables.insert(t);
    }
    for (const char *required : {"cmap", "head", "hhea", "hmtx", "maxp"})
        if (!tables.count(tag(required)))
            return QStringLiteral("lacks its table \u201c%1\u201d").arg(QString::fromLatin1(required));
    return QString();
}

} // namespace

namespace {

// Files of another font format than TrueType or OpenType, by their first
// bytes: a sound file of a kind the report cannot embed, not a damaged one.
bool ofAnotherFontFormat(const QByteArray &d)
{
    for (const char *signature : {"\x80\x01", "%!", "\x01" "fcp", "STARTFONT", "wOFF", "wOF2", "\x1f\x8b"})
        if (d.startsWith(signature))
            return true;
    return false;
}

int64_t nanoseconds(const timespec &t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

FileStamp stampOf(const struct stat &st)
{
    FileStamp s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modifiedNs = nanoseconds(st.st_mtim);
    s.changedNs = nanoseconds(st.st_ctim);
    return s;
}

// A font file's bytes with the stamp they were read under.
struct FileContents {
    FileStamp stamp;
    QByteArray bytes;
};

// The bytes of a font file, read once while the file stays the same: the
// faces of a collection share them. A file that changes while it is read is
// read again, so the bytes are always those of one state of the file.
FileContents fileContents(const QString &path, QString &error)
{
    static std::mutex mutex;
    static std::map<QString, FileContents> files;
    std::lock_guard<std::mutex> lock(mutex);
    const FileStamp now = FileStamp::of(QFile::encodeName(path));
    if (const auto it = files.find(path); it != files.end() && now.exists && it->second.stamp == now)
        return it->second;
    for (int attempt = 0; attempt < 3; ++attempt) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = file.errorString();
            return {};
        }
        const FileStamp before = FileStamp::of(file.handle());
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            error = file.errorString();
            return {};
        }
        if (FileStamp::of(file.handle()) == before && bytes.size() == before.size)
            return files[path] = {before, bytes};
    }
    error = QStringLiteral("it changed each time it was read");
    return {};
}

} // namespace

FileStamp FileStamp::of(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 ? stampOf(st) : FileStamp{};
}

FileStamp FileStamp::of(int descriptor)
{
    struct stat st;
    return ::fstat(descriptor, &st) == 0 ? stampOf(st) : FileStamp{};
}

bool FileStamp::operator==(const FileStamp &o) const
{
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modifiedNs == o.modifiedNs && changedNs == o.changedNs;
}

std::shared_ptr<FontFile::Checks> FontFile::checksOf(const QString &path, int index, const FileStamp &stamp)
{
    static std::mutex mutex;
    static std::map<std::pair<QString, int>, std::pair<FileStamp, std::shared_ptr<Checks>>> all;
    std::lock_guard<std::mutex> lock(mutex);
    auto &[checkedAs, checks] = all[{path, index}];
    if (!checks || checkedAs != stamp) {
        checkedAs = stamp;
        checks = std::make_shared<Checks>();
    }
    return checks;
}

FontFile::FontFile(const QString &path, int index, const QString &package)
    : path_(path), index_(index), package_(package), face_(std::make_unique<Face>())
{
    // A damaged file is named with its package, so that it can be installed again.
    const auto damaged = [this](const QString &what) { return FontError(utf8(described(true) + what) + "."); };
    const auto unusable = [this](const QString &what) { return FontFormatError(utf8(described() + what) + "."); };
    QString error;
    const FileContents contents = fileContents(path, error);
    if (!error.isEmpty())
        throw damaged(QStringLiteral(" cannot be read: ") + error);
    data_ = contents.bytes;
    stamp_ = contents.stamp;
    if (ofAnotherFontFormat(data_))
        throw unusable(QStringLiteral(" is no TrueType or OpenType font"));
    std::set<uint32_t> tables;
    const QString wrong = checkTables(data_, index, tables);
    if (!wrong.isEmpty())
        throw damaged(QLatin1Char(' ') + wrong);
    if (tables.count(tag("glyf")) && tables.count(tag("loca")))
        outlines_ = Outlines::TrueType;
    else if (tables.count(tag("CFF ")))
        outlines_ = Outlines::Cff;
    else
        throw unusable(QStringLiteral(" holds no outlines a PDF file can embed (TrueType or CFF)"));
    checks_ = checksOf(path, index, stamp_);
    const auto *bytes = reinterpret_cast<const FT_Byte *>(data_.constData());
    if (FT_New_Memory_Face(freeType(), bytes, static_cast<FT_Long>(data_.size()), index, &face_->ft) != 0)
        throw damaged(QStringLiteral(" is not a font FreeType can read"));
    FT_Face f = face_->ft;
    if (FT_Select_Charmap(f, FT_ENCODING_UNICODE) != 0)
        throw unusable(QStringLiteral(" has no Unicode character map"));
    unitsPerEm_ = f->units_per_EM > 0 ? f->units_per_EM : 1000;
    family_ = QString::fromUtf8(f->family_name ? f->family_name : "");
    bold_ = (f->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    italic_ = (f->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    if (const char *name = FT_Get_Postscript_Name(f))
        psName_ = name;
    else
        psName_ = QFileInfo(path).completeBaseName().toLatin1();
    ascent = milli(f->ascender);
    descent = milli(f->descender);
    bbox[0] = milli(f->bbox.xMin);
    bbox[1] = milli(f->bbox.yMin);
    bbox[2] = milli(f->bbox.xMax);
    bbox[3] = milli(f->bbox.yMax);
    const auto *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
    capHeight = os2 && os2->version >= 2 && os2->sCapHeight > 0 ? milli(os2->sCapHeight) : ascent * 7 / 10;

    hb_blob_t *blob = hb_blob_create(data_.constData(), static_cast<unsigned>(data_.size()),
                                     HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t *face = hb_face_create(blob, static_cast<unsigned>(index));
    hb_blob_destroy(blob);
    hb_ = hb_font_create(face);
    hb_face_destroy(face);
    hb_ot_font_set_funcs(hb_);
}

FontFile::~FontFile()
{
    if (hb_)
        hb_font_destroy(hb_);
}

QString FontFile::described(bool lookUpPackage) const
{
    const QString package = package_.isEmpty() && lookUpPackage ? packageOf(path_) : package_;
    return QStringLiteral("The font file ") + path_ +
           (index_ ? QStringLiteral(" (face %1)").arg(index_) : QString()) +
           (package.isEmpty() ? QString() : QStringLiteral(" (package ") + package + QLatin1Char(')'));
}

uint32_t FontFile::glyphIndex(char32_t c) const
{
    hb_codepoint_t g = 0;
    return hb_font_get_nominal_glyph(hb_, c, &g) ? g : 0;
}

namespace {

// FreeType's own words for an error (its library may be built without them).
QString freeTypeError(FT_Error e)
{
#undef FTERRORS_H_
#define FT_ERRORDEF(code, value, text) {value, text},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST {0, nullptr}};
    static const struct {
        int value;
        const char *text;
    } kErrors[] =
#include FT_ERRORS_H
    for (const auto &k : kErrors)
        if (k.text && k.value == e)
            return QString::fromLatin1(k.text);
    return QStringLiteral("FreeType error %1").arg(e);
}

// Whether the characters print ink (not only blanks, controls or invisible marks).
bool printsInk(const std::u32string &chars)
{
    for (const char32_t c : chars) {
        const QChar::Category cat = QChar::category(c);
        if (cat == QChar::Separator_Space || cat == QChar::Separator_Line || cat == QChar::Separator_Paragraph ||
            cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Other_NotAssigned ||
            cat == QChar::Other_PrivateUse || c == U'\t')
            continue;
        return true;
    }
    return false;
}

} // namespace

FontFile::Checked FontFile::check(uint32_t glyph) const
{
    FT_Face f = face_->ft;
    Checked out;
    const QString which = QStringLiteral("glyph %1").arg(glyph);
    if (glyph >= static_cast<uint32_t>(f->num_glyphs)) {
        out.error = QStringLiteral("has no ") + which;
        return out;
    }
    if (const FT_Error e = FT_Load_Glyph(f, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP)) {
        out.error = QStringLiteral("cannot draw its ") + which + QStringLiteral(" (") + freeTypeError(e) + QLatin1Char(')');
        return out;
    }
    if (f->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
        out.error = QStringLiteral("has no outline for its ") + which;
        return out;
    }
    const FT_Outline &o = f->glyph->outline;
    // Points far beyond the font's box, or contours that do not end in
    // order at the last point, are damaged data FreeType took as it stands.
    const long limit = 4L * f->units_per_EM + std::max({std::labs(f->bbox.xMin), std::labs(f->bbox.xMax),
                                                        std::labs(f->bbox.yMin), std::labs(f->bbox.yMax)});
    bool sound = o.n_points >= 0 && o.n_contours >= 0 && (o.n_contours == 0) == (o.n_points == 0);
    for (int i = 0; sound && i < o.n_contours; ++i)
        sound = o.contours[i] >= (i ? o.contours[i - 1] + 1 : 0) && (i + 1 < o.n_contours || o.contours[i] == o.n_points - 1);
    for (int i = 0; sound && i < o.n_points; ++i)
        sound = std::labs(o.points[i].x) <= limit && std::labs(o.points[i].y) <= limit;
    if (!sound)
        out.error = QStringLiteral("has a damaged outline for its ") + which;
    out.points = o.n_points;
    return out;
}

QString FontFile::fault(uint32_t glyph, const std::u32string &chars) const
{
    std::lock_guard<std::mutex> lock(checks_->mutex);
    auto it = checks_->glyphs.find(glyph);
    if (it == checks_->glyphs.end())
        it = checks_->glyphs.emplace(glyph, check(glyph)).first;
    const QString &error = it->second.error;
    const bool blank = error.isEmpty() && it->second.points == 0 && glyph != 0 && printsInk(chars);
    if (error.isEmpty() && !blank)
        return QString();
    const QString text = QString::fromUcs4(chars.data(), static_cast<qsizetype>(chars.size()));
    const QString forText = text.isEmpty() ? QString() : QStringLiteral(" (for \u201c") + text + QStringLiteral("\u201d)");
    if (!error.isEmpty())
        return error + forText;
    return QStringLiteral("has no outline for its glyph %1").arg(glyph) + forText +
           QStringLiteral(", which would print blank");
}

int FontFile::milli(int units) const { return static_cast<int>(std::lround(units * 1000.0 / unitsPerEm_)); }

int FontFile::advance(uint32_t glyph) const { return milli(hb_font_get_glyph_h_advance(hb_, glyph)); }

QByteArray FontFile::subset(const std::set<uint32_t> &glyphs, std::map<uint32_t, uint32_t> &newIndex) const
{
    hb_blob_t *blob = hb_blob_create(data_.constData(), static_cast<unsigned>(data_.size()),
                                     HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t *face = hb_face_create(blob, static_cast<unsigned>(index_));
    hb_blob_destroy(blob);
    hb_subset_input_t *input = hb_subset_input_create_or_fail();
    QByteArray out;
    if (input) {
        // The missing-glyph box stays visible for characters no font has.
        hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_NOTDEF_OUTLINE);
        hb_set_t *keep = hb_subset_input_glyph_set(input);
        hb_set_add(keep, 0);
        for (uint32_t g : glyphs)
            hb_set_add(keep, g);
        // A PDF draws glyphs by number: the layout and substitution tables
        // are of no use to it.
        hb_set_t *drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
        for (const char *t : {"GSUB", "GPOS", "GDEF", "kern", "BASE", "JSTF", "MATH", "DSIG", "hdmx", "LTSH",
                              "VDMX", "PCLT", "FFTM", "vhea", "vmtx", "VORG"})
            hb_set_add(drop, hb_tag_from_string(t, 4));
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
        throw FontError(utf8(described(true)) + " cannot be cut down to the glyphs of the report: the file is damaged.");
    return out;
}

QByteArray cffTable(const QByteArray &program)
{
    if (program.size() < 12)
        return QByteArray();
    for (uint32_t i = 0, n = be16(program, 4); i < n && 12 + 16 * qsizetype(i + 1) <= program.size(); ++i)
        if (be32(program, 12 + 16 * qsizetype(i)) == tag("CFF "))
            return program.mid(be32(program, 12 + 16 * qsizetype(i) + 8), be32(program, 12 + 16 * qsizetype(i) + 12));
    return QByteArray();
}

std::map<uint32_t, uint32_t> cffCharacterIds(const QByteArray &program, const std::set<uint32_t> &glyphs,
                                             bool &cidKeyedOut)
{
    std::map<uint32_t, uint32_t> ids;
    FT_Face f = nullptr;
    const auto *bytes = reinterpret_cast<const FT_Byte *>(program.constData());
    const bool open = FT_New_Memory_Face(freeType(), bytes, static_cast<FT_Long>(program.size()), 0, &f) == 0;
    FT_Bool cidKeyed = 0;
    if (open && FT_Get_CID_Is_Internally_CID_Keyed(f, &cidKeyed) != 0)
        cidKeyed = 0;
    for (uint32_t g : glyphs) {
        FT_UInt cid = g;
        if (cidKeyed && FT_Get_CID_From_Glyph_Index(f, g, &cid) != 0)
            cid = g;
        ids[g] = cid;
    }
    if (open)
        FT_Done_Face(f);
    cidKeyedOut = cidKeyed != 0;
    return ids;
}

QString packageOf(const QString &path)
{
    static std::mutex mutex;
    static std::map<QString, QString> known;
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = known.find(path); it != known.end())
        return it->second;
    QString package;
    const QString real = QFileInfo(path).canonicalFilePath();
    for (const QString &p : {path, real}) {
        if (p.isEmpty() || !package.isEmpty())
            continue;
        QProcess query;
        query.start(QStringLiteral("dpkg-query"), {QStringLiteral("-S"), p});
        if (query.waitForFinished(5000) && query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0)
            package = QString::fromUtf8(query.readAllStandardOutput()).section(QLatin1Char(':'), 0, 0).trimmed();
    }
    known[path] = package;
    return package;
}

namespace {

// The report's own font files, in the order they are asked for a character.
struct Source {
    const char *family;
    bool bold;
    const char *packagePath;
    const char *package;
    bool required;  // without it no PDF can be set; the others are passed over when not installed
};

constexpr Source kSources[] = {
    {"Liberation Sans", false, "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", "fonts-liberation2",
     true},
    {"Liberation Sans", true, "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf", "fonts-liberation2",
     true},
    {"DejaVu Sans", false, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "fonts-dejavu-core", false},
    {"DejaVu Sans", true, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", "fonts-dejavu-core", false},
};
constexpr int kSourceCount = static_cast<int>(std::size(kSources));

int bold(FontFace face) { return face == FontFace::Bold ? 1 : 0; }

// A file fontconfig knows, with the version its head table gives.
struct Candidate {
    QString path;
    int index = 0;
    double version = 0;
};

// The fontconfig configuration the characters' fonts are chosen from: the
// system's (the file FONTCONFIG_FILE names, else the default) or one file's.
// fontconfig reads its font folders once, so the configuration is built
// anew when one of them, or one of its configuration files, has changed
// since: a font installed while the program runs is found by the next report.
class FontConfig {
public:
    ~FontConfig() { drop(); }

    // From this file from now on; empty: the system's.
    void use(const QString &file)
    {
        drop();
        file_ = file;
    }

    // Null (fontconfig's current configuration) only when it cannot be loaded.
    FcConfig *get()
    {
        if (!built_)
            build();
        return config_;
    }

    // Whether it must be built anew: never built, or something it was built
    // from has changed (or changed while it was built).
    bool stale() const
    {
        if (!built_ || changedWhileBuilt_)
            return true;
        return std::any_of(watched_.begin(), watched_.end(),
                           [](const auto &w) { return FileStamp::of(w.first) != w.second; });
    }

    void drop()
    {
        if (config_)
            FcConfigDestroy(config_);
        config_ = nullptr;
        built_ = false;
        watched_.clear();
    }

private:
    void build()
    {
        // The file systems' own clock: anything written from now on carries this time or a later one.
        timespec start{};
        clock_gettime(CLOCK_REALTIME_COARSE, &start);
        built_ = true;
        if (file_.isEmpty()) {
            config_ = FcInitLoadConfigAndFonts();
        } else {
            config_ = FcConfigCreate();
            FcConfigParseAndLoad(config_, reinterpret_cast<const FcChar8 *>(QFile::encodeName(file_).constData()),
                                 FcTrue);
            FcConfigBuildFonts(config_);
        }
        std::set<QByteArray> paths;
        const auto add = [&paths](FcStrList *list, bool withFolder) {
            while (FcChar8 *p = FcStrListNext(list)) {
                const QByteArray path(reinterpret_cast<const char *>(p));
                paths.insert(path);
                if (withFolder)  // a configuration file added beside it
                    paths.insert(QFile::encodeName(QFileInfo(QFile::decodeName(path)).path()));
            }
            FcStrListDone(list);
        };
        if (config_) {
            add(FcConfigGetConfigFiles(config_), true);
            add(FcConfigGetConfigDirs(config_), false);  // named font folders, also those not there yet
            add(FcConfigGetFontDirs(config_), false);    // and every folder below them
        }
        if (!file_.isEmpty())
            paths.insert(QFile::encodeName(file_));
        watched_.clear();
        changedWhileBuilt_ = false;
        for (const QByteArray &p : paths) {
            const FileStamp s = FileStamp::of(p);
            changedWhileBuilt_ = changedWhileBuilt_ || (s.exists && s.changedNs >= nanoseconds(start));
            watched_.emplace_back(p, s);
        }
    }

    QString file_;
    FcConfig *config_ = nullptr;
    bool built_ = false;
    std::vector<std::pair<QByteArray, FileStamp>> watched_;
    bool changedWhileBuilt_ = false;
};

// The language as fontconfig names it, with the territory where that tells
// the written form apart ("zh-cn", "zh-tw"; "ja"); empty for none.
QString fontconfigLanguage(const QString &bcp47)
{
    if (bcp47.isEmpty())
        return QString();
    const QLocale locale(bcp47);
    const QByteArray name = (locale.language() == QLocale::C ? bcp47 : locale.name()).toUtf8();
    FcChar8 *normalised = FcLangNormalize(reinterpret_cast<const FcChar8 *>(name.constData()));
    const QString out =
        normalised ? QString::fromUtf8(reinterpret_cast<const char *>(normalised)).toLower() : QString();
    FcStrFree(normalised);
    return out;
}

class Registry {
public:
    static Registry &instance()
    {
        static Registry r;
        return r;
    }

    const FontFile *fontFor(FontFace face, char32_t c)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto &cache = chosen_[bold(face)];
        if (const auto it = cache.find(c); it != cache.end())
            return it->second;
        const FontFile *f = nullptr;
        for (int s : {bold(face), 2 + bold(face)})
            if (const FontFile *own = open(s); own && own->glyphIndex(c) != 0) {
                f = own;
                break;
            }
        if (!f)
            f = fontconfigChoice(c, face == FontFace::Bold);
        if (!f)
            f = primaryLocked(face);
        cache.emplace(c, f);
        return f;
    }

    const FontFile *primary(FontFace face)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return primaryLocked(face);
    }

    void begin(const QString &language)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fontconfig_.stale() || anyFileChanged()) {
            // Every font is looked for again as the machine now has them;
            // the glyphs of files that stayed the same are not checked again.
            closeFonts();
            fontconfig_.drop();
        } else {
            // Fonts that could not be used are looked for again (a damaged file is checked again).
            for (Slot &s : slots_)
                if (!s.file || isDamaged(s.file.get()))
                    s = Slot{};
            for (auto it = others_.begin(); it != others_.end();)
                it = !it->second.file || isDamaged(it->second.file.get()) ? others_.erase(it) : std::next(it);
        }
        damaged_.clear();
        passedOver_.clear();
        ++generation_;
        if (const QString asked = fontconfigLanguage(language); asked != language_) {
            language_ = asked;
            for (auto &c : chosen_)
                c.clear();
            sorts_.clear();
        }
        // Characters once without a font are looked for again.
        for (auto &c : chosen_)
            for (auto it = c.begin(); it != c.end();)
                it = it->second && it->second->glyphIndex(it->first) ? std::next(it) : c.erase(it);
    }

    QString language()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return language_;
    }

    QStringList failures()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        QStringList out;
        for (const Slot &s : slots_)
            if (!s.failure.isEmpty() && !out.contains(s.failure))
                out << s.failure;
        for (const QString &p : passedOver_)
            if (!out.contains(p))
                out << p;
        return out;
    }

    void damaged(const FontFile *file, const QString &why)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool first = damaged_.emplace(file, why).second;
        for (Slot &s : slots_)
            if (first && s.file.get() == file)
                s.failure = file->described() + QLatin1Char(' ') + why + QLatin1Char('.');
        for (auto &c : chosen_)
            for (auto it = c.begin(); it != c.end();)
                it = it->second == file ? c.erase(it) : std::next(it);
        ++generation_;
    }

    void setLocator(FontLocator locator)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        locator_ = std::move(locator);
        resetLocked();
    }

    void setConfigFile(const QString &path)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        resetLocked();
        fontconfig_.use(path);
    }

private:
    struct Slot {
        std::unique_ptr<FontFile> file;
        bool looked = false;
        QString failure;
    };

    // A font of fontconfig's choice: the file opened, or why a damaged one
    // could not be (empty for a file of a form the report cannot embed).
    struct Other {
        std::unique_ptr<FontFile> file;
        QString damage;
    };

    struct FontSetDeleter {
        void operator()(FcFontSet *s) const { FcFontSetDestroy(s); }
    };

    // Its glyphs cannot all be drawn: it is chosen no more.
    bool isDamaged(const FontFile *file) const { return damaged_.count(file) != 0; }

    // Whether a font file in use has been written or replaced since it was read.
    bool anyFileChanged() const
    {
        const auto changed = [](const FontFile *f) {
            return f && FileStamp::of(QFile::encodeName(f->path())) != f->stamp();
        };
        return std::any_of(std::begin(slots_), std::end(slots_),
                           [&](const Slot &s) { return changed(s.file.get()); }) ||
               std::any_of(others_.begin(), others_.end(), [&](const auto &o) { return changed(o.second.file.get()); });
    }

    // Closes every font file and forgets every choice made from them.
    void closeFonts()
    {
        for (Slot &s : slots_)
            s = Slot{};
        for (auto &c : chosen_)
            c.clear();
        others_.clear();
        sorts_.clear();
        coverage_.clear();
        coverageKnown_ = false;
        damaged_.clear();
    }

    void resetLocked()
    {
        ++generation_;
        closeFonts();
        passedOver_.clear();
    }

    const FontFile *primaryLocked(FontFace face)
    {
        for (int s : {bold(face), 2 + bold(face)})
            if (const FontFile *f = open(s))
                return f;
        return fontconfigChoice(U'A', face == FontFace::Bold);
    }

    // Opens one of the report's own fonts once: the newest file of the family
    // at the weight asked for, checked to be that family.
    const FontFile *open(int i)
    {
        Slot &slot = slots_[i];
        if (slot.looked)
            return isDamaged(slot.file.get()) ? nullptr : slot.file.get();
        slot.looked = true;
        const Source &src = kSources[i];
        const QString family = QString::fromLatin1(src.family);
        const QString package = QString::fromLatin1(src.package);
        const QString name = family + (src.bold ? QStringLiteral(" Bold") : QString());
        std::vector<Candidate> candidates;
        if (locator_) {
            candidates.push_back({locator_(family, src.bold), 0, 0});
        } else {
            candidates = familyFiles(family, src.bold);
            const QString packaged = QString::fromLatin1(src.packagePath);
            const bool listed = std::any_of(candidates.begin(), candidates.end(), [&](const Candidate &c) {
                return QFileInfo(c.path).canonicalFilePath() == QFileInfo(packaged).canonicalFilePath();
            });
            if (!listed)
                candidates.push_back({packaged, 0, 0});
        }
        candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                        [](const Candidate &c) { return c.path.isEmpty() || !QFileInfo::exists(c.path); }),
                         candidates.end());
        if (candidates.empty()) {
            if (src.required) {
                const QString asked = locator_ ? locator_(family, src.bold) : QString();
                slot.failure = QStringLiteral("The report's font ") + name + QStringLiteral(" was not found") +
                               (asked.isEmpty() ? QString() : QStringLiteral(" at ") + asked) +
                               QStringLiteral(". It comes with the package ") + package + QLatin1Char('.');
            }
            return nullptr;
        }
        for (const Candidate &c : candidates) {
            try {
                auto f = std::make_unique<FontFile>(c.path, c.index, package);
                if (f->family().compare(family, Qt::CaseInsensitive) != 0 || f->bold() != src.bold || f->italic())
                    throw FontError(utf8(f->described()) + " is " + utf8(f->family()) +
                                    (f->bold() ? " Bold" : "") + (f->italic() ? " Italic" : "") +
                                    ", not the report's font " + utf8(name) + ".");
                slot.file = std::move(f);
                slot.failure.clear();
                return slot.file.get();
            } catch (const FontError &e) {
                if (slot.failure.isEmpty())
                    slot.failure = QString::fromUtf8(e.what());
            }
        }
        return nullptr;
    }

    // The files fontconfig lists for the family at the weight, upright and of
    // normal width, the newest version first.
    std::vector<Candidate> familyFiles(const QString &family, bool isBold)
    {
        FcConfig *cfg = fontconfig_.get();
        const QByteArray name = family.toUtf8();
        FcPattern *pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(name.constData()));
        FcPatternAddInteger(pattern, FC_WEIGHT, isBold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
        FcPatternAddInteger(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
        FcObjectSet *objects = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_FONTVERSION, nullptr);
        FcFontSet *fonts = FcFontList(cfg, pattern, objects);
        std::vector<Candidate> out;
        for (int i = 0; fonts && i < fonts->nfont; ++i) {
            FcChar8 *file = nullptr;
            int index = 0, version = 0;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) != FcResultMatch)
                continue;
            FcPatternGetInteger(fonts->fonts[i], FC_INDEX, 0, &index);
            FcPatternGetInteger(fonts->fonts[i], FC_FONTVERSION, 0, &version);
            out.push_back({QString::fromUtf8(reinterpret_cast<const char *>(file)), index, version / 65536.0});
        }
        if (fonts)
            FcFontSetDestroy(fonts);
        FcObjectSetDestroy(objects);
        FcPatternDestroy(pattern);
        std::sort(out.begin(), out.end(), [](const Candidate &a, const Candidate &b) {
            return a.version != b.version ? a.version > b.version : a.path < b.path;
        });
        return out;
    }

    // fontconfig's choice for a character at the weight: the best font that
    // has it and whose outlines a PDF can embed; a font that cannot be used
    // (a colour font, bitmaps only, a damaged file) is passed over. Where
    // only damaged fonts have the character, they are among the failures:
    // its letters would otherwise print as boxes without a word.
    const FontFile *fontconfigChoice(char32_t c, bool isBold)
    {
        const FcFontSet *fonts = sortedFor(c, isBold);
        QStringList damaged;
        for (int i = 0; fonts && i < fonts->nfont; ++i) {
            FcPattern *font = fonts->fonts[i];
            FcCharSet *has = nullptr;
            if (FcPatternGetCharSet(font, FC_CHARSET, 0, &has) != FcResultMatch || !FcCharSetHasChar(has, c))
                continue;
            FcBool flag = FcFalse;
            if (FcPatternGetBool(font, FC_OUTLINE, 0, &flag) == FcResultMatch && !flag)
                continue;
            if (FcPatternGetBool(font, FC_COLOR, 0, &flag) == FcResultMatch && flag)
                continue;
            FcChar8 *file = nullptr;
            int index = 0;
            if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch)
                continue;
            FcPatternGetInteger(font, FC_INDEX, 0, &index);
            const Other &o = other(QString::fromUtf8(reinterpret_cast<const char *>(file)), index);
            if (o.file && isDamaged(o.file.get()))
                damaged << o.file->described(true) + QLatin1Char(' ') + damaged_.at(o.file.get()) + QLatin1Char('.');
            else if (!o.file && !o.damage.isEmpty())
                damaged << o.damage;
            else if (o.file && o.file->glyphIndex(c) != 0)
                return o.file.get();
        }
        for (const QString &d : damaged)
            if (!passedOver_.contains(d))
                passedOver_ << d;
        return nullptr;
    }

    // fontconfig's fonts for a character at the weight, best first. The
    // order depends on the character only through which fonts have it, so
    // the characters the same fonts have share one sort: a note of
    // thousands of distinct letters costs a handful of sorts, not thousands.
    const FcFontSet *sortedFor(char32_t c, bool isBold)
    {
        FcConfig *cfg = fontconfig_.get();
        if (!coverageKnown_) {
            coverageKnown_ = true;
            for (FcSetName set : {FcSetSystem, FcSetApplication}) {
                const FcFontSet *fonts = FcConfigGetFonts(cfg, set);
                for (int i = 0; fonts && i < fonts->nfont; ++i) {
                    FcCharSet *has = nullptr;
                    const bool listed = FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &has) == FcResultMatch;
                    coverage_.push_back(listed ? has : nullptr);
                }
            }
        }
        std::vector<uint64_t> key(1 + (coverage_.size() + 63) / 64, 0);
        key[0] = isBold;
        for (size_t i = 0; i < coverage_.size(); ++i)
            if (coverage_[i] && FcCharSetHasChar(coverage_[i], c))
                key[1 + i / 64] |= uint64_t(1) << (i % 64);
        std::unique_ptr<FcFontSet, FontSetDeleter> &sorted = sorts_[key];
        if (!sorted)
            sorted.reset(sort(cfg, c, isBold));
        return sorted.get();
    }

    // All of fontconfig's fonts in the order it prefers them for the
    // character at the weight in the report's language.
    FcFontSet *sort(FcConfig *cfg, char32_t c, bool isBold) const
    {
        FcPattern *pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>("sans-serif"));
        FcPatternAddInteger(pattern, FC_WEIGHT, isBold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
        FcCharSet *wanted = FcCharSetCreate();
        FcCharSetAddChar(wanted, c);
        FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
        FcCharSetDestroy(wanted);
        const QByteArray lang = language_.toUtf8();
        if (!lang.isEmpty())
            FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8 *>(lang.constData()));
        FcConfigSubstitute(cfg, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        // Untrimmed: a font passed over must not hide the next one with the same letters.
        FcFontSet *fonts = FcFontSort(cfg, pattern, FcFalse, nullptr, &result);
        FcPatternDestroy(pattern);
        return fonts;
    }

    const Other &other(const QString &path, int index)
    {
        const auto key = std::make_pair(path, index);
        if (const auto it = others_.find(key); it != others_.end())
            return it->second;
        Other o;
        try {
            o.file = std::make_unique<FontFile>(path, index);
        } catch (const FontFormatError &) {
            // passed over for the next font that has the character
        } catch (const FontError &e) {
            o.damage = QString::fromUtf8(e.what());
        }
        return others_[key] = std::move(o);
    }

public:
    std::atomic<unsigned> generation_{0};

private:
    std::mutex mutex_;
    FontLocator locator_;
    FontConfig fontconfig_;
    QString language_;  // as fontconfig is asked
    Slot slots_[kSourceCount];
    std::map<std::pair<QString, int>, Other> others_;
    std::map<const FontFile *, QString> damaged_;  // and why
    QStringList passedOver_;  // damaged fonts that were the only ones for a character
    std::unordered_map<char32_t, const FontFile *> chosen_[2];
    // Each font's characters, in the order of fontconfig's font sets, and
    // the sorts made for the characters the same fonts have.
    std::vector<FcCharSet *> coverage_;
    bool coverageKnown_ = false;
    std::map<std::vector<uint64_t>, std::unique_ptr<FcFontSet, FontSetDeleter>> sorts_;
};

} // namespace

const FontFile *fontFor(FontFace face, char32_t c) { return Registry::instance().fontFor(face, c); }

const FontFile *primaryFont(FontFace face) { return Registry::instance().primary(face); }

Glyph glyphFor(FontFace face, char32_t c)
{
    const FontFile *f = fontFor(face, c);
    if (!f)
        return Glyph{nullptr, 0, 556};  // no font at all: an average width keeps the layout going
    const uint32_t index = f->glyphIndex(c);
    return Glyph{f, index, f->advance(index)};
}

void fontIsDamaged(const FontFile *file, const QString &why) { Registry::instance().damaged(file, why); }

void beginFontUse(const QString &language) { Registry::instance().begin(language); }

QString fontLanguage() { return Registry::instance().language(); }

unsigned fontGeneration() { return Registry::instance().generation_.load(); }

QStringList fontFailures() { return Registry::instance().failures(); }

void setFontLocator(FontLocator locator) { Registry::instance().setLocator(std::move(locator)); }

void setFontConfigFile(const QString &path) { Registry::instance().setConfigFile(path); }

} // namespace Rpt
