// The font files the report prints with: Liberation Sans (Arial's and
// Helvetica's widths), then DejaVu Sans, then the font fontconfig chooses
// for a character neither has. The files are read with FreeType for their
// metrics, shaped with HarfBuzz and cut down to the glyphs a report uses
// with HarfBuzz's subsetter, so that a PDF can carry them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>

struct hb_font_t;

namespace Rpt {

// The two faces of the report: its line memos and its headings.
enum class FontFace { Regular, Bold };

// A font file that cannot be found, read, cut down or used; the text names
// the file, its package and what is wrong with it.
class FontError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A sound file in a form the report cannot embed (another font format, no
// outlines of the kinds a PDF carries, no Unicode character map): where
// another font can print the characters, it is passed over without a word.
class FontFormatError : public FontError {
public:
    using FontError::FontError;
};

// What tells whether a file is still the one read: its device and inode,
// size and times. Writing it in place or putting another file at its path
// changes one of them.
struct FileStamp {
    bool exists = false;
    uint64_t device = 0, inode = 0;
    int64_t size = 0, modifiedNs = 0, changedNs = 0;

    static FileStamp of(const QByteArray &path);
    static FileStamp of(int descriptor);
    bool operator==(const FileStamp &o) const;
    bool operator!=(const FileStamp &o) const { return !(*this == o); }
};

// How a font draws its glyphs: TrueType outlines ("glyf") or CFF outlines.
enum class Outlines { TrueType, Cff };

// One face of a font file (a TrueType collection holds several), opened
// with FreeType and HarfBuzz. Lengths in 1/1000 em.
class FontFile {
public:
    // Throws FontError when the file is missing, unreadable, cut short or
    // otherwise damaged, FontFormatError when it is sound but of a form a PDF
    // cannot embed. The package (given, or for a damaged file looked up)
    // names where the file comes from in the message.
    explicit FontFile(const QString &path, int index = 0, const QString &package = QString());
    ~FontFile();
    FontFile(const FontFile &) = delete;
    FontFile &operator=(const FontFile &) = delete;

    const QString &path() const { return path_; }
    int index() const { return index_; }
    const QByteArray &postScriptName() const { return psName_; }
    const QString &family() const { return family_; }
    bool bold() const { return bold_; }
    bool italic() const { return italic_; }
    Outlines outlines() const { return outlines_; }
    int unitsPerEm() const { return unitsPerEm_; }
    hb_font_t *shaper() const { return hb_; }
    // The file as it was when its bytes were read.
    const FileStamp &stamp() const { return stamp_; }

    // The glyph of a character; 0 (the missing-glyph box) when the font has none.
    uint32_t glyphIndex(char32_t c) const;
    // The glyph's advance, rounded to whole 1/1000 em as a PDF's widths hold it.
    int advance(uint32_t glyph) const;
    // Font units in 1/1000 em, rounded.
    int milli(int units) const;
    // Why the glyph, drawn for these characters, cannot be used: FreeType
    // cannot load it, its outline is not sound, or it has none where the
    // characters print ink. Empty when it can be drawn.
    QString fault(uint32_t glyph, const std::u32string &chars) const;

    int ascent = 0, descent = 0, capHeight = 0;
    int bbox[4] = {0, 0, 0, 0};

    // "The font file <path> (package <name>)", for messages; the package is
    // the one given, or with lookUpPackage the one Debian's records name.
    QString described(bool lookUpPackage = false) const;

    // The face cut down to these glyphs (0 is always kept), as a font file of
    // its own. The subset numbers its glyphs anew: newIndex maps each old
    // glyph to its number. Throws FontError when the subsetter refuses.
    QByteArray subset(const std::set<uint32_t> &glyphs, std::map<uint32_t, uint32_t> &newIndex) const;

private:
    struct Face;
    QString path_;
    int index_ = 0;
    QString package_;
    QByteArray data_;
    QByteArray psName_;
    QString family_;
    bool bold_ = false, italic_ = false;
    Outlines outlines_ = Outlines::TrueType;
    int unitsPerEm_ = 1000;
    std::unique_ptr<Face> face_;
    hb_font_t *hb_ = nullptr;
    FileStamp stamp_;
    struct Checked {
        QString error;
        int points = 0;
    };
    // The glyphs of the face checked so far, shared by every FontFile of the
    // same file while it stays as read (same stamp, so the same bytes): a
    // glyph is checked once per font, however often the font is opened, and
    // again once the file has changed.
    struct Checks {
        std::mutex mutex;
        std::unordered_map<uint32_t, Checked> glyphs;
    };
    std::shared_ptr<Checks> checks_;
    static std::shared_ptr<Checks> checksOf(const QString &path, int index, const FileStamp &stamp);
    Checked check(uint32_t glyph) const;
};

// The character identifiers a CFF font program (an OpenType file) numbers
// its glyphs with: its charset for a CID-keyed font, else the glyph numbers
// themselves; cidKeyed tells which.
std::map<uint32_t, uint32_t> cffCharacterIds(const QByteArray &program, const std::set<uint32_t> &glyphs,
                                             bool &cidKeyed);
// The CFF table of an OpenType file: the bare CFF program.
QByteArray cffTable(const QByteArray &program);

// What prints a character: the file, its glyph there and the glyph's advance.
struct Glyph {
    const FontFile *file = nullptr;  // null only when no font at all can be used
    uint32_t index = 0;
    int width = 0;  // 1/1000 em
};

// The font that prints a character in the face: Liberation Sans, else
// DejaVu Sans, else fontconfig's choice for the character at the face's
// weight; a character none of them has takes the first usable font's
// missing-glyph box. Fonts are opened only when a character needs them.
const FontFile *fontFor(FontFace face, char32_t c);
// The first of the report's own fonts that can be used: the one whose
// missing-glyph box prints a character no font has. Null when none can.
const FontFile *primaryFont(FontFace face);
// The glyph that prints c in the face.
Glyph glyphFor(FontFace face, char32_t c);

// The glyphs of this file cannot all be drawn (why: the fault): it is no
// longer chosen, and when it is one of the report's own fonts its file and
// fault are among fontFailures.
void fontIsDamaged(const FontFile *file, const QString &why);

// Starts a report: fontconfig's configuration is brought up to date (a
// font installed or removed since the last report counts), font files
// changed on disk and fonts that could not be used are looked for again,
// and the characters' fonts are chosen anew for the locale's language (a
// BCP 47 name).
void beginFontUse(const QString &language);
// The language fontconfig is asked for the characters' fonts in its own
// form ("ja", "zh-cn"); empty when beginFontUse was given none.
QString fontLanguage();
// Changes whenever the fonts chosen for characters may have changed (a new
// report, another locator): layouts made before are stale.
unsigned fontGeneration();
// Why fonts could not be used since beginFontUse, so that no PDF can be set:
// the report's own fonts (Liberation Sans, DejaVu Sans), and a damaged font
// of fontconfig's choice that was the only one for a character. A DejaVu
// Sans that is simply not installed is no failure: fontconfig's choice
// prints instead; nor is a character no font has (it prints as a box).
QStringList fontFailures();

// The Debian package a file comes from, or empty.
QString packageOf(const QString &path);

// Finds a font file by family and weight; an empty path when there is none.
using FontLocator = std::function<QString(const QString &family, bool bold)>;
// Replaces how the report's own font files are found (tests point it at
// missing, damaged or wrong files); an empty locator restores fontconfig
// and the package paths. The files already opened are closed.
void setFontLocator(FontLocator locator);
// Makes fontconfig's choices come from this configuration file (tests
// leave fonts out this way); empty restores the system's configuration.
void setFontConfigFile(const QString &path);

} // namespace Rpt
