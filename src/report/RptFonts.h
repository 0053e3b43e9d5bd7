// The font files the report prints with: Liberation Sans (Arial's and
// Helvetica's widths), with DejaVu Sans for the characters it lacks. The
// files are found through fontconfig, or at the Debian packages' paths, read
// with FreeType for their metrics and cut down to the glyphs a report uses
// with HarfBuzz's subsetter, so that a PDF can carry them.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

namespace Rpt {

// The two faces of the report: its line memos and its headings.
enum class FontFace { Regular, Bold };

// A font file that cannot be found or read: the report cannot be laid out.
class FontError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One TrueType font file, opened with FreeType. Lengths in 1/1000 em.
class FontFile {
public:
    // Throws FontError when the file is missing, unreadable or no TrueType font.
    explicit FontFile(const QString &path);
    ~FontFile();
    FontFile(const FontFile &) = delete;
    FontFile &operator=(const FontFile &) = delete;

    const QString &path() const { return path_; }
    const QByteArray &postScriptName() const { return psName_; }
    const QByteArray &data() const { return data_; }

    // The glyph of a character; 0 (the missing-glyph box) when the font has none.
    uint32_t glyphIndex(char32_t c) const;
    // The glyph's advance, rounded to whole 1/1000 em as a PDF's widths hold it.
    int advance(uint32_t glyph) const;

    int ascent = 0, descent = 0, capHeight = 0;
    int bbox[4] = {0, 0, 0, 0};

    // The file cut down to these glyphs (0 is always kept). The subset
    // numbers its glyphs anew: newIndex maps each old glyph to its number.
    // Throws FontError when the subsetter refuses.
    QByteArray subset(const std::set<uint32_t> &glyphs, std::map<uint32_t, uint32_t> &newIndex) const;

private:
    struct Face;
    QString path_;
    QByteArray data_;
    QByteArray psName_;
    int unitsPerEm_ = 1000;
    std::unique_ptr<Face> face_;
};

// What prints a character: the file, its glyph there and the glyph's advance.
struct Glyph {
    const FontFile *file = nullptr;
    uint32_t index = 0;
    int width = 0;  // 1/1000 em
};

// The glyph that prints c in the face: from Liberation Sans, else from
// DejaVu Sans, else Liberation's missing-glyph box (glyph 0). The fallback file is
// opened only when a character needs it. Throws FontError when a file that
// is needed cannot be found or read.
Glyph glyphFor(FontFace face, char32_t c);

// Finds a font file by family and weight; an empty path when there is none.
using FontLocator = std::function<QString(const QString &family, bool bold)>;
// Replaces how the report's font files are found (tests point it at missing
// files); an empty locator restores fontconfig and the package paths. The
// files already opened are closed.
void setFontLocator(FontLocator locator);

} // namespace Rpt
