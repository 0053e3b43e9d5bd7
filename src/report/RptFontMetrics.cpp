#include "report/RptFontMetrics.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <fribidi.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

namespace Rpt {

bool isDefaultIgnorable(char32_t c)
{
    // Unicode's Default_Ignorable_Code_Point.
    static constexpr std::pair<char32_t, char32_t> kRanges[] = {
        {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C},   {0x115F, 0x1160},   {0x17B4, 0x17B5},
        {0x180B, 0x180F}, {0x200B, 0x200F}, {0x202A, 0x202E},   {0x2060, 0x206F},   {0x3164, 0x3164},
        {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFF8},   {0x1BCA0, 0x1BCA3},
        {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
    };
    for (const auto &r : kRanges)
        if (c >= r.first && c <= r.second)
            return true;
    return false;
}

namespace {

constexpr double kEpsilonPt = 1e-6;
constexpr double kTabStopPt = 36.0;
constexpr char32_t kSoftHyphen = 0x00AD;

bool isBlank(char32_t c) { return c == U' ' || c == 0x3000; }

// The grapheme clusters of a text, as offsets into its code points.
std::vector<int> graphemeStarts(const std::u32string &chars)
{
    const QString text = QString::fromUcs4(chars.data(), static_cast<qsizetype>(chars.size()));
    std::vector<int> unitToChar(static_cast<size_t>(text.size()) + 1, 0);
    int c = 0;
    for (int u = 0; u < text.size(); ++u) {
        unitToChar[static_cast<size_t>(u)] = c;
        if (!(text[u].isHighSurrogate() && u + 1 < text.size() && text[u + 1].isLowSurrogate()))
            ++c;
    }
    unitToChar[static_cast<size_t>(text.size())] = c;
    std::vector<int> starts;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = 0; at >= 0 && at < text.size(); at = finder.toNextBoundary())
        starts.push_back(unitToChar[static_cast<size_t>(at)]);
    if (starts.empty() && !chars.empty())
        starts.push_back(0);
    return starts;
}

// A run of one level, font and script, and the glyphs it shapes into.
struct Item {
    int from = 0, to = 0;  // code points of the segment
    int level = 0;
    const FontFile *font = nullptr;
    hb_script_t script = HB_SCRIPT_COMMON;
    std::vector<ShapedGlyph> glyphs;  // x from the item's left end
    double width = 0;
};

class LineShaper {
public:
    LineShaper(FontFace face, double sizePt, ShapedLine &out) : face_(face), size_(sizePt), out_(out) {}
    ~LineShaper() { hb_buffer_destroy(buffer_); }

    void shape(std::u32string chars, LineForm form)
    {
        int hyphenAt = -1;
        if (form.hyphen && !chars.empty() && chars.back() == kSoftHyphen) {
            hyphenAt = static_cast<int>(chars.size()) - 1;
            chars.back() = U'-';
        }
        bool rtl = form.direction == LineForm::RightToLeft;
        if (form.direction == LineForm::Auto) {
            std::vector<FriBidiCharType> types(chars.size());
            fribidi_get_bidi_types(reinterpret_cast<const FriBidiChar *>(chars.data()),
                                   static_cast<FriBidiStrIndex>(chars.size()), types.data());
            rtl = fribidi_get_par_direction(types.data(), static_cast<FriBidiStrIndex>(types.size())) ==
                  FRIBIDI_PAR_RTL;
        }
        // Tab-separated segments, each laid out on its own: a tab goes on to
        // the next stop, counted from where the line begins to be read.
        const double stop = kTabStopPt * 1000.0 / size_;
        std::vector<std::vector<ShapedGlyph>> segments;
        std::vector<double> starts, widths;
        double pen = 0;
        size_t from = 0;
        for (size_t i = 0; i <= chars.size(); ++i) {
            if (i < chars.size() && chars[i] != U'\t')
                continue;
            double w = 0;
            segments.push_back(segment(chars, from, i, rtl, hyphenAt, w));
            starts.push_back(pen);
            widths.push_back(w);
            pen += w;
            if (i < chars.size())
                pen = (std::floor(pen / stop + 1e-9) + 1) * stop;
            from = i + 1;
        }
        out_.width = pen;
        for (size_t k = 0; k < segments.size(); ++k) {
            const size_t s = rtl ? segments.size() - 1 - k : k;
            const double left = rtl ? pen - starts[s] - widths[s] : starts[s];
            for (ShapedGlyph g : segments[s]) {
                g.x += left;
                out_.glyphs.push_back(g);
            }
        }
        out_.mixed = levels_.count(1) && levels_.count(0);
    }

private:
    std::vector<ShapedGlyph> segment(const std::u32string &all, size_t from, size_t to, bool rtl, int hyphenAt,
                                     double &width)
    {
        const std::u32string chars = all.substr(from, to - from);
        const int n = static_cast<int>(chars.size());
        width = 0;
        if (n == 0)
            return {};
        std::vector<FriBidiLevel> levels = bidiLevels(chars, rtl);
        const std::vector<int> starts = graphemeStarts(chars);
        std::vector<Item> items = itemise(chars, starts, levels);
        for (Item &item : items) {
            shapeItem(chars, item, static_cast<int>(from), hyphenAt);
            levels_.insert(item.level & 1);
        }
        // Runs in visual order: from the highest level down to the lowest
        // odd one, every stretch at that level or above is reversed.
        std::vector<size_t> order(items.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        int highest = 0, lowestOdd = 255;
        for (const Item &it : items) {
            highest = std::max(highest, it.level);
            if (it.level & 1)
                lowestOdd = std::min(lowestOdd, it.level);
        }
        for (int level = highest; level >= lowestOdd && level > 0; --level)
            for (size_t i = 0; i < order.size();) {
                if (items[order[i]].level < level) {
                    ++i;
                    continue;
                }
                size_t j = i;
                while (j < order.size() && items[order[j]].level >= level)
                    ++j;
                std::reverse(order.begin() + static_cast<std::ptrdiff_t>(i), order.begin() + static_cast<std::ptrdiff_t>(j));
                i = j;
            }
        std::vector<ShapedGlyph> glyphs;
        for (size_t i : order) {
            for (ShapedGlyph g : items[i].glyphs) {
                g.x += width;
                glyphs.push_back(g);
            }
            width += items[i].width;
        }
        return glyphs;
    }

    static std::vector<FriBidiLevel> bidiLevels(const std::u32string &chars, bool rtl)
    {
        const auto n = static_cast<FriBidiStrIndex>(chars.size());
        const auto *str = reinterpret_cast<const FriBidiChar *>(chars.data());
        std::vector<FriBidiCharType> types(chars.size());
        std::vector<FriBidiBracketType> brackets(chars.size());
        std::vector<FriBidiLevel> levels(chars.size(), rtl ? 1 : 0);
        fribidi_get_bidi_types(str, n, types.data());
        fribidi_get_bracket_types(str, n, types.data(), brackets.data());
        FriBidiParType base = rtl ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
        if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), n, &base, levels.data()) == 0)
            std::fill(levels.begin(), levels.end(), rtl ? 1 : 0);
        // Blanks that end the line (or come before a tab) take the paragraph's level.
        for (int i = n - 1; i >= 0 && FRIBIDI_IS_EXPLICIT_OR_BN_OR_WS(types[static_cast<size_t>(i)]); --i)
            levels[static_cast<size_t>(i)] = rtl ? 1 : 0;
        return levels;
    }

    // The font of a grapheme: the first font of the chain that has all its
    // visible characters, else the one for its first character.
    const FontFile *fontOf(const std::u32string &chars, int from, int to) const
    {
        const auto hasAll = [&](const FontFile *f) {
            if (!f)
                return false;
            for (int i = from; i < to; ++i)
                if (!isDefaultIgnorable(chars[static_cast<size_t>(i)]) && f->glyphIndex(chars[static_cast<size_t>(i)]) == 0)
                    return false;
            return true;
        };
        const FontFile *first = nullptr;
        for (int i = from; i < to; ++i) {
            const char32_t c = chars[static_cast<size_t>(i)];
            if (isDefaultIgnorable(c))
                continue;
            const FontFile *f = fontFor(face_, c);
            if (!first)
                first = f;
            if (hasAll(f))
                return f;
        }
        return first;
    }

    std::vector<Item> itemise(const std::u32string &chars, const std::vector<int> &starts,
                              const std::vector<FriBidiLevel> &levels) const
    {
        const int n = static_cast<int>(chars.size());
        hb_unicode_funcs_t *unicode = hb_unicode_funcs_get_default();
        // Scripts, with the common and inherited characters taking their neighbours'.
        std::vector<hb_script_t> scripts(chars.size(), HB_SCRIPT_COMMON);
        hb_script_t last = HB_SCRIPT_INVALID;
        for (size_t i = 0; i < chars.size(); ++i) {
            const hb_script_t s = hb_unicode_script(unicode, chars[i]);
            if (s != HB_SCRIPT_COMMON && s != HB_SCRIPT_INHERITED && s != HB_SCRIPT_UNKNOWN)
                last = s;
            scripts[i] = s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN ? last : s;
        }
        hb_script_t next = HB_SCRIPT_LATIN;
        for (size_t i = chars.size(); i-- > 0;) {
            if (scripts[i] == HB_SCRIPT_INVALID)
                scripts[i] = next;
            next = scripts[i];
        }
        std::vector<Item> items;
        int pending = -1;  // invisible characters that begin the segment go with what follows them
        for (size_t g = 0; g < starts.size(); ++g) {
            const int from = starts[g], to = g + 1 < starts.size() ? starts[g + 1] : n;
            bool visible = false;
            int lead = from;
            for (int i = from; i < to; ++i)
                if (!isDefaultIgnorable(chars[static_cast<size_t>(i)])) {
                    if (!visible)
                        lead = i;
                    visible = true;
                }
            Item cur;
            cur.from = pending >= 0 ? pending : from;
            cur.to = to;
            if (!visible && !items.empty()) {
                items.back().to = to;  // marks and joiners without a glyph stay with what they follow
                continue;
            }
            if (!visible && g + 1 < starts.size()) {
                if (pending < 0)
                    pending = from;
                continue;
            }
            pending = -1;
            cur.level = levels[static_cast<size_t>(lead)];
            cur.script = scripts[static_cast<size_t>(lead)];
            cur.font = visible ? fontOf(chars, from, to) : primaryFont(face_);
            if (!items.empty() && items.back().level == cur.level && items.back().font == cur.font &&
                items.back().script == cur.script)
                items.back().to = to;
            else
                items.push_back(cur);
        }
        return items;
    }

    void shapeItem(const std::u32string &chars, Item &item, int offset, int hyphenAt)
    {
        const int n = static_cast<int>(chars.size());
        if (!item.font) {
            // No font can be used at all: an average width per character keeps the layout going.
            for (int i = item.from; i < item.to; ++i) {
                const int cluster = addCluster(chars, i, i + 1, offset, hyphenAt, item.level & 1);
                item.glyphs.push_back(ShapedGlyph{nullptr, 0, item.width, 0, cluster});
                item.width += 556;
            }
            return;
        }
        if (!buffer_)
            buffer_ = hb_buffer_create();
        hb_buffer_clear_contents(buffer_);
        hb_buffer_add_utf32(buffer_, reinterpret_cast<const uint32_t *>(chars.data()), n,
                            static_cast<unsigned>(item.from), item.to - item.from);
        hb_buffer_set_direction(buffer_, item.level & 1 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer_, item.script);
        hb_buffer_set_cluster_level(buffer_, HB_BUFFER_CLUSTER_LEVEL_MONOTONE_GRAPHEMES);
        unsigned flags = HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES;
        if (item.from == 0)
            flags |= HB_BUFFER_FLAG_BOT;
        if (item.to == n)
            flags |= HB_BUFFER_FLAG_EOT;
        hb_buffer_set_flags(buffer_, static_cast<hb_buffer_flags_t>(flags));
        // Kerning off: Latin text keeps the widths it always printed with.
        static const hb_feature_t kNoKerning = {HB_TAG('k', 'e', 'r', 'n'), 0, HB_FEATURE_GLOBAL_START,
                                                HB_FEATURE_GLOBAL_END};
        hb_shape(item.font->shaper(), buffer_, &kNoKerning, 1);
        unsigned count = 0;
        const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(buffer_, &count);
        const hb_glyph_position_t *pos = hb_buffer_get_glyph_positions(buffer_, &count);
        // Each cluster covers its characters up to the next cluster's first one.
        std::vector<unsigned> firsts;
        for (unsigned i = 0; i < count; ++i)
            firsts.push_back(info[i].cluster);
        std::sort(firsts.begin(), firsts.end());
        firsts.erase(std::unique(firsts.begin(), firsts.end()), firsts.end());
        const auto endOf = [&](unsigned first) {
            const auto it = std::upper_bound(firsts.begin(), firsts.end(), first);
            return it == firsts.end() ? item.to : static_cast<int>(*it);
        };
        std::map<unsigned, int> clusterOf;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned first = info[i].cluster;
            auto it = clusterOf.find(first);
            if (it == clusterOf.end()) {
                // Characters before the first cluster (only removed ones) join it.
                const int from = first == firsts.front() ? item.from : static_cast<int>(first);
                it = clusterOf.emplace(first, addCluster(chars, from, endOf(first), offset, hyphenAt, item.level & 1)).first;
            }
            const FontFile &f = *item.font;
            item.glyphs.push_back(ShapedGlyph{&f, info[i].codepoint, item.width + f.milli(pos[i].x_offset),
                                              static_cast<double>(f.milli(pos[i].y_offset)), it->second});
            item.width += f.milli(pos[i].x_advance);
        }
        if (count == 0 && item.to > item.from && !out_.clusters.empty())
            out_.clusters.back() += QString::fromUcs4(chars.data() + item.from, item.to - item.from);
    }

    int addCluster(const std::u32string &chars, int from, int to, int offset, int hyphenAt, bool rtl)
    {
        out_.rightToLeft.push_back(rtl);
        std::u32string typed = chars.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
        if (hyphenAt >= offset + from && hyphenAt < offset + to)
            typed[static_cast<size_t>(hyphenAt - offset - from)] = kSoftHyphen;  // the hyphen stands for the typed soft hyphen
        out_.clusters.push_back(QString::fromUcs4(typed.data(), static_cast<qsizetype>(typed.size())));
        return static_cast<int>(out_.clusters.size()) - 1;
    }

    FontFace face_;
    double size_;
    ShapedLine &out_;
    hb_buffer_t *buffer_ = nullptr;
    std::set<int> levels_;
};

// The lines shaped since the fonts last changed.
class LineCache {
public:
    std::shared_ptr<const ShapedLine> get(const QString &text, FontFace face, double sizePt, LineForm form)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const unsigned generation = fontGeneration();
        if (generation != generation_ || lines_.size() > 20000) {
            lines_.clear();
            generation_ = generation;
        }
        const QString key = text + QChar(0xFFFF) + QString::number(int(face)) + QLatin1Char('/') +
                            QString::number(sizePt) + QLatin1Char('/') + QString::number(form.direction) +
                            QLatin1Char(form.hyphen ? '-' : ' ');
        if (const auto it = lines_.find(key); it != lines_.end())
            return it->second;
        auto line = std::make_shared<ShapedLine>();
        line->text = text;
        const QList<uint> ucs4 = text.toUcs4();
        LineShaper(face, sizePt, *line).shape(std::u32string(ucs4.begin(), ucs4.end()), form);
        lines_.emplace(key, line);
        return line;
    }

private:
    std::mutex mutex_;
    unsigned generation_ = ~0u;
    std::unordered_map<QString, std::shared_ptr<const ShapedLine>> lines_;
};

LineCache &cache()
{
    static LineCache c;
    return c;
}

// One paragraph's pieces: graphemes, told apart as blanks, tabs and the rest.
struct Piece {
    QString text;
    enum Kind { Blank, Tab, Other } kind = Other;
    bool softHyphen = false;
};

std::vector<Piece> pieces(const QString &para)
{
    const QList<uint> ucs4 = para.toUcs4();
    const std::u32string chars(ucs4.begin(), ucs4.end());
    const std::vector<int> starts = graphemeStarts(chars);
    std::vector<Piece> out;
    for (size_t g = 0; g < starts.size(); ++g) {
        const int from = starts[g], to = g + 1 < starts.size() ? starts[g + 1] : static_cast<int>(chars.size());
        Piece p;
        p.text = QString::fromUcs4(chars.data() + from, to - from);
        const char32_t c = chars[static_cast<size_t>(from)];
        p.kind = c == U'\t' ? Piece::Tab : to - from == 1 && isBlank(c) ? Piece::Blank : Piece::Other;
        p.softHyphen = to - from == 1 && c == kSoftHyphen;
        out.push_back(p);
    }
    return out;
}

class Wrapper {
public:
    Wrapper(FontFace face, double sizePt, double widthPt, LineForm::Direction direction)
        : face_(face), size_(sizePt), max_(widthPt), direction_(direction) {}

    void paragraph(const std::vector<Piece> &ps)
    {
        const size_t n = ps.size();
        // Most lines fit whole: one measure.
        size_t end = n;
        while (end > 0 && ps[end - 1].kind != Piece::Other)
            --end;
        if (const std::vector<Piece> all(ps.begin(), ps.begin() + static_cast<std::ptrdiff_t>(end));
            fits(join(all, 0, all.size()))) {
            push(join(all, 0, all.size()), false);
            return;
        }
        size_t i = 0;
        QString line;
        while (i < n && ps[i].kind != Piece::Other)
            line += ps[i++].text;
        bool content = false;  // the line holds more than leading blanks
        while (i < n) {
            QString separators;
            while (i < n && ps[i].kind != Piece::Other)
                separators += ps[i++].text;
            if (i >= n)
                break;
            std::vector<Piece> word;
            while (i < n && ps[i].kind == Piece::Other)
                word.push_back(ps[i++]);
            const QString whole = join(word, 0, word.size());
            if (fits(line + separators + whole)) {
                line += separators + whole;
            } else if (!content) {
                line = place(line + separators, word);
            } else {
                // The first part of the word up to a soft hyphen may still end this line.
                const size_t cut = hyphenCut(line + separators, word, 0);
                if (cut > 0) {
                    push(line + separators + join(word, 0, cut), true);
                    word.erase(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(cut));
                } else {
                    push(line, false);
                }
                line = place(QString(), word);
            }
            content = true;
        }
        push(line, false);
    }

    WrappedLines out;

private:
    static QString join(const std::vector<Piece> &w, size_t from, size_t to)
    {
        QString s;
        for (size_t k = from; k < to; ++k)
            s += w[k].text;
        return s;
    }

    bool fits(const QString &s, bool hyphen = false) const
    {
        return textWidthPt(s, face_, size_, LineForm{direction_, hyphen}) <= max_ + kEpsilonPt;
    }

    // The most pieces of the word from `from` on that end at a soft hyphen
    // and fit after cur with the hyphen shown; 0 when none.
    size_t hyphenCut(const QString &cur, const std::vector<Piece> &w, size_t from) const
    {
        for (size_t k = w.size(); k-- > from + 1;)
            if (w[k - 1].softHyphen && fits(cur + join(w, from, k), true))
                return k - from;
        return 0;
    }

    // Places a word too wide for what is left of the line: at its soft
    // hyphens where it can, else between grapheme clusters; returns the
    // unfinished last line. Every line takes at least one cluster.
    QString place(QString cur, std::vector<Piece> word)
    {
        while (!word.empty()) {
            if (fits(cur + join(word, 0, word.size())))
                return cur + join(word, 0, word.size());
            size_t take = hyphenCut(cur, word, 0);
            bool hyphen = take > 0;
            if (!hyphen) {
                take = 1;
                while (take < word.size() && fits(cur + join(word, 0, take + 1)))
                    ++take;
                if (take == word.size())
                    return cur + join(word, 0, take);
            }
            push(cur + join(word, 0, take), hyphen);
            word.erase(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(take));
            cur.clear();
        }
        return cur;
    }

    void push(QString line, bool hyphen)
    {
        while (!line.isEmpty() && (isBlank(line.back().unicode()) || line.back() == QLatin1Char('\t')))
            line.chop(1);
        out.lines.push_back(line);
        out.forms.push_back(LineForm{direction_, hyphen});
    }

    FontFace face_;
    double size_;
    double max_;
    LineForm::Direction direction_;
};

LineForm::Direction paragraphDirection(const QString &para)
{
    const QList<uint> ucs4 = para.toUcs4();
    std::vector<FriBidiCharType> types(static_cast<size_t>(ucs4.size()));
    fribidi_get_bidi_types(reinterpret_cast<const FriBidiChar *>(ucs4.constData()),
                           static_cast<FriBidiStrIndex>(ucs4.size()), types.data());
    return fribidi_get_par_direction(types.data(), static_cast<FriBidiStrIndex>(types.size())) == FRIBIDI_PAR_RTL
               ? LineForm::RightToLeft
               : LineForm::LeftToRight;
}

} // namespace

std::shared_ptr<const ShapedLine> shapeLine(const QString &text, FontFace face, double sizePt, LineForm form)
{
    return cache().get(text, face, sizePt, form);
}

double textWidthPt(const QString &text, FontFace face, double sizePt, LineForm form)
{
    return shapeLine(text, face, sizePt, form)->width * sizePt / 1000.0;
}

WrappedLines wrapLines(const QString &text, FontFace face, double sizePt, double widthPt)
{
    QString normalised = text.normalized(QString::NormalizationForm_C);
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (QChar &c : normalised) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n') || (u >= 0x7F && u < 0xA0))
            c = QLatin1Char(' ');
    }
    WrappedLines all;
    for (const QString &p : normalised.split(QLatin1Char('\n'))) {
        Wrapper w(face, sizePt, widthPt, paragraphDirection(p));
        w.paragraph(pieces(p));
        all.lines.insert(all.lines.end(), w.out.lines.begin(), w.out.lines.end());
        all.forms.insert(all.forms.end(), w.out.forms.begin(), w.out.forms.end());
    }
    return all;
}

std::vector<QString> wrapText(const QString &text, FontFace face, double sizePt, double widthPt)
{
    return wrapLines(text, face, sizePt, widthPt).lines;
}

} // namespace Rpt
