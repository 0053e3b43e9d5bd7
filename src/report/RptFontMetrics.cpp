#include "report/RptFontMetrics.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <unicode/ubrk.h>

#include <fribidi.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <type_traits>
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

// The tab stop a tab at pen goes on to: the next multiple of stop.
double nextTabStop(double pen, double stop) { return (std::floor(pen / stop + 1e-9) + 1) * stop; }

// Whether a paragraph's first letter of a strong direction is right to left.
bool startsRightToLeft(const std::u32string &chars)
{
    std::vector<FriBidiCharType> types(chars.size());
    fribidi_get_bidi_types(reinterpret_cast<const FriBidiChar *>(chars.data()),
                           static_cast<FriBidiStrIndex>(chars.size()), types.data());
    return fribidi_get_par_direction(types.data(), static_cast<FriBidiStrIndex>(types.size())) == FRIBIDI_PAR_RTL;
}

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

// A glyph of the font cannot be drawn: the line is shaped again without that font.
struct DamagedGlyph {
    const FontFile *file;
    QString fault;
};

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
        const bool rtl = form.direction == LineForm::Auto ? startsRightToLeft(chars)
                                                          : form.direction == LineForm::RightToLeft;
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
                pen = nextTabStop(pen, stop);
            from = i + 1;
        }
        out_.width = pen;
        for (size_t k = 0; k < segments.size(); ++k) {
            const size_t s = rtl ? segments.size() - 1 - k : k;
            const double left = rtl ? pen - starts[s] - widths[s] : starts[s];
            for (ShapedGlyph g : segments[s]) {
                g.x += left;
                g.pen += left;
                out_.glyphs.push_back(g);
            }
        }
        out_.mixed = levels_.count(1) && levels_.count(0);
        orderForReading();
    }

    // The glyphs cluster by cluster as typed; within a cluster first the
    // glyph that begins it on the baseline (its left end), so that a reader
    // placing the cluster's text where its first glyph stands places it there.
    void orderForReading()
    {
        // A cluster's glyphs stand side by side: runs of one cluster, put in the clusters' order.
        struct Run {
            int cluster;
            size_t from, to;
        };
        std::vector<Run> runs;
        for (size_t i = 0; i < out_.glyphs.size(); ++i)
            if (runs.empty() || runs.back().cluster != out_.glyphs[i].cluster)
                runs.push_back(Run{out_.glyphs[i].cluster, i, i + 1});
            else
                runs.back().to = i + 1;
        std::stable_sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.cluster < b.cluster; });
        out_.reading.reserve(out_.glyphs.size());
        for (const Run &r : runs) {
            const size_t at = out_.reading.size();
            for (size_t i = r.from; i < r.to; ++i)
                out_.reading.push_back(i);
            if (r.to - r.from == 1)
                continue;
            const auto gs = out_.reading.begin() + static_cast<std::ptrdiff_t>(at);
            if (out_.rightToLeft[static_cast<size_t>(r.cluster)])
                std::reverse(gs, out_.reading.end());
            const auto lead = std::min_element(gs, out_.reading.end(), [&](size_t a, size_t b) {
                const auto rank = [&](size_t i) {
                    const ShapedGlyph &g = out_.glyphs[i];
                    const bool onPen = g.advance > 0 && g.x == g.pen && g.y == 0;
                    return std::make_pair(onPen ? 0 : 1, g.pen);
                };
                return rank(a) < rank(b);
            });
            std::rotate(gs, lead, lead + 1);
        }
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
                g.pen += width;
                glyphs.push_back(g);
            }
            width += items[i].width;
        }
        return glyphs;
    }

    static std::vector<FriBidiLevel> bidiLevels(const std::u32string &chars, bool rtl)
    {
        std::vector<FriBidiLevel> levels = embeddingLevels(chars, rtl);
        // Blanks that end the line (or come before a tab) take the paragraph's level.
        for (size_t i = chars.size(); i-- > 0 && FRIBIDI_IS_EXPLICIT_OR_BN_OR_WS(fribidi_get_bidi_type(chars[i]));)
            levels[i] = rtl ? 1 : 0;
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
        const bool rtl = item.level & 1;
        if (!item.font) {
            // No font can be used at all: an average width per character keeps the layout going.
            for (int i = item.from; i < item.to; ++i) {
                const int cluster = addCluster(chars, i, i + 1, offset, hyphenAt, rtl, false);
                item.glyphs.push_back(ShapedGlyph{nullptr, 0, item.width, 0, item.width, 556, cluster,
                                                  out_.clusters.back()});
                item.width += 556;
            }
            return;
        }
        if (!buffer_)
            buffer_ = hb_buffer_create();
        hb_buffer_clear_contents(buffer_);
        hb_buffer_add_utf32(buffer_, reinterpret_cast<const uint32_t *>(chars.data()), n,
                            static_cast<unsigned>(item.from), item.to - item.from);
        hb_buffer_set_direction(buffer_, rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(buffer_, item.script);
        // Every character its own cluster where the font draws it apart: a
        // glyph then stands for exactly its own characters.
        hb_buffer_set_cluster_level(buffer_, HB_BUFFER_CLUSTER_LEVEL_CHARACTERS);
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
        if (count == 0) {
            if (item.to > item.from && !out_.clusters.empty())
                out_.clusters.back() += QString::fromUcs4(chars.data() + item.from, item.to - item.from);
            return;
        }
        const FontFile &f = *item.font;
        // Every glyph drawn loads with a sound outline, or the font is passed over.
        std::vector<unsigned> firsts(count);
        for (unsigned i = 0; i < count; ++i)
            firsts[i] = info[i].cluster;
        std::sort(firsts.begin(), firsts.end());
        for (unsigned i = 0; i < count; ++i) {
            const auto next = std::upper_bound(firsts.begin(), firsts.end(), info[i].cluster);
            const int end = next == firsts.end() ? item.to : static_cast<int>(*next);
            const std::u32string own = chars.substr(info[i].cluster, static_cast<size_t>(end) - info[i].cluster);
            if (const QString fault = f.fault(info[i].codepoint, own); !fault.isEmpty())
                throw DamagedGlyph{&f, fault};
        }

        // The glyphs in reading order, cut into the fewest units whose
        // characters all come before the next unit's: a unit of one glyph
        // stands for its characters by itself; a unit of several (drawn
        // out of order, or one character in several pieces) only as a whole.
        std::vector<unsigned> reading(count);
        for (unsigned k = 0; k < count; ++k)
            reading[k] = rtl ? count - 1 - k : k;
        std::vector<unsigned> laterMin(count + 1, ~0u);
        for (unsigned k = count; k-- > 0;)
            laterMin[k] = std::min(laterMin[k + 1], info[reading[k]].cluster);
        struct Unit {
            unsigned from, to;  // into reading
            unsigned first;     // its first character
        };
        std::vector<Unit> units;
        unsigned highest = 0;
        for (unsigned k = 0, start = 0; k < count; ++k) {
            highest = std::max(highest, info[reading[k]].cluster);
            if (highest < laterMin[k + 1]) {
                units.push_back(Unit{start, k + 1, laterMin[start]});
                start = k + 1;
                highest = 0;
            }
        }
        // A mark the font places over its letter (moved from where the pen
        // stands) is read with that letter: a reader takes a glyph drawn
        // inside another's box for text of a line of its own.
        std::vector<Unit> joined;
        for (const Unit &u : units) {
            bool placedMark = !joined.empty();
            for (unsigned k = u.from; k < u.to && placedMark; ++k) {
                const hb_glyph_position_t &p = pos[reading[k]];
                placedMark = p.x_advance == 0 && (p.x_offset != 0 || p.y_offset != 0);
            }
            if (placedMark)
                joined.back().to = u.to;
            else
                joined.push_back(u);
        }
        // Where each glyph's pen stands, left to right.
        std::vector<double> pens(count);
        double pen = item.width;
        for (unsigned i = 0; i < count; ++i) {
            pens[i] = pen;
            pen += f.milli(pos[i].x_advance);
        }
        std::vector<ShapedGlyph> glyphs(count);
        for (size_t u = 0; u < joined.size(); ++u) {
            const Unit &unit = joined[u];
            const int from = u == 0 ? item.from : static_cast<int>(unit.first);
            const int to = u + 1 < joined.size() ? static_cast<int>(joined[u + 1].first) : item.to;
            const bool whole = unit.to - unit.from > 1;
            const int cluster = addCluster(chars, from, to, offset, hyphenAt, rtl, whole);
            for (unsigned k = unit.from; k < unit.to; ++k) {
                const unsigned i = reading[k];
                glyphs[i] = ShapedGlyph{&f, info[i].codepoint, pens[i] + f.milli(pos[i].x_offset),
                                        static_cast<double>(f.milli(pos[i].y_offset)), pens[i],
                                        static_cast<double>(f.milli(pos[i].x_advance)), cluster, QString()};
            }
            if (!whole) {
                glyphs[reading[unit.from]].text = out_.clusters.back();
                continue;
            }
            // Glyphs of the unit by the character they begin with.
            std::map<unsigned, std::vector<unsigned>> byCluster;
            for (unsigned k = unit.from; k < unit.to; ++k)
                byCluster[info[reading[k]].cluster].push_back(reading[k]);
            for (auto it = byCluster.begin(); it != byCluster.end(); ++it) {
                // Its own characters: up to the next character another glyph of the unit begins with.
                const auto next = std::next(it);
                const int end = next == byCluster.end() ? to : static_cast<int>(next->first);
                const int start = it->first == unit.first ? from : static_cast<int>(it->first);
                const QString own = typedText(chars, start, end, offset, hyphenAt);
                std::vector<unsigned> pieces = it->second;
                std::sort(pieces.begin(), pieces.end());  // left to right
                if (rtl)
                    std::reverse(pieces.begin(), pieces.end());
                // One character drawn in pieces (a vowel written around its
                // consonant): each piece stands for its part of the
                // character's decomposition, else for the whole character.
                const QString parts = own.normalized(QString::NormalizationForm_KD);
                const bool split = pieces.size() > 1 && own.toUcs4().size() == 1 &&
                                   parts.toUcs4().size() == static_cast<qsizetype>(pieces.size());
                const QList<uint> partChars = parts.toUcs4();
                for (size_t p = 0; p < pieces.size(); ++p)
                    glyphs[pieces[p]].text =
                        split ? QString::fromUcs4(reinterpret_cast<const char32_t *>(&partChars[static_cast<qsizetype>(p)]), 1)
                              : own;
            }
        }
        item.glyphs.insert(item.glyphs.end(), glyphs.begin(), glyphs.end());
        item.width = pen;
    }

    // The typed text of characters from..to of the segment: a soft hyphen
    // that shows as "-" at a break stands for itself.
    static QString typedText(const std::u32string &chars, int from, int to, int offset, int hyphenAt)
    {
        std::u32string typed = chars.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
        if (hyphenAt >= offset + from && hyphenAt < offset + to)
            typed[static_cast<size_t>(hyphenAt - offset - from)] = kSoftHyphen;
        return QString::fromUcs4(typed.data(), static_cast<qsizetype>(typed.size()));
    }

    int addCluster(const std::u32string &chars, int from, int to, int offset, int hyphenAt, bool rtl, bool whole)
    {
        out_.rightToLeft.push_back(rtl);
        out_.whole.push_back(whole);
        out_.clusters.push_back(typedText(chars, from, to, offset, hyphenAt));
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
        const QList<uint> ucs4 = text.toUcs4();
        const std::u32string chars(ucs4.begin(), ucs4.end());
        for (;;) {
            auto line = std::make_shared<ShapedLine>();
            line->text = text;
            try {
                LineShaper(face, sizePt, *line).shape(chars, form);
            } catch (const DamagedGlyph &d) {
                fontIsDamaged(d.file, d.fault);  // every font is passed over at most once
                continue;
            }
            lines_.emplace(key, line);
            return line;
        }
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

// Where the Unicode line breaking rules let a paragraph break (ICU's line
// break iterator, with its dictionaries for Thai, Lao, Khmer and Burmese):
// offsets after which a line may end, the paragraph's end last.
std::vector<int> breakOpportunities(const QString &para)
{
    static std::mutex mutex;
    static UBreakIterator *prototype = nullptr;
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator *it = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!prototype)
            prototype = ubrk_open(UBRK_LINE, "", nullptr, 0, &status);
        if (prototype) {
            status = U_ZERO_ERROR;
            it = ubrk_clone(prototype, &status);
        }
    }
    std::vector<int> out;
    if (it && U_SUCCESS(status)) {
        ubrk_setText(it, reinterpret_cast<const UChar *>(para.utf16()), static_cast<int32_t>(para.size()), &status);
        for (int32_t at = ubrk_first(it); U_SUCCESS(status) && at != UBRK_DONE; at = ubrk_next(it))
            if (at > 0)
                out.push_back(at);
    }
    if (it)
        ubrk_close(it);
    if (out.empty() || out.back() != para.size())
        out.push_back(static_cast<int>(para.size()));  // without ICU: one piece, broken only by clusters
    return out;
}

bool isBreakBlank(QChar c) { return isBlank(c.unicode()) || c == QLatin1Char('\t'); }

// A stretch of the paragraph between two break opportunities.
struct Piece {
    int from = 0, to = 0;  // into the paragraph
    int content = 0;       // where the blanks and tabs that end it begin
    bool softHyphen = false;  // its content ends in a soft hyphen
};

// Fills lines with pieces: as many as fit, measured piece by piece, so that
// the work grows with the text and not with the square of a line's length.
class Wrapper {
public:
    Wrapper(const QString &para, FontFace face, double sizePt, double widthPt, LineForm::Direction direction)
        : para_(para), face_(face), size_(sizePt), max_(widthPt), direction_(direction)
    {
    }

    void run()
    {
        // Most paragraphs fit whole: one measure.
        if (fits(para_, false)) {
            push(0, static_cast<int>(para_.size()), false);
            return;
        }
        cut();
        fill();
    }

    WrappedLines out;

private:
    // The paragraph's pieces, between its break opportunities.
    void cut()
    {
        int from = 0;
        for (const int at : breakOpportunities(para_)) {
            Piece p{from, at, at, false};
            while (p.content > p.from && isBreakBlank(para_[p.content - 1]))
                --p.content;
            p.softHyphen = p.content > p.from && para_[p.content - 1] == QChar(kSoftHyphen);
            pieces_.push_back(p);
            from = at;
        }
    }

    // Lines of as many pieces as fit.
    void fill()
    {
        size_t i = 0;
        // Blanks and tabs that begin the text stay with its first word.
        while (i + 1 < pieces_.size() && pieces_[i].content == pieces_[i].from)
            ++i;
        int start = 0;  // where the next line begins: a piece's start, or inside an overlong one
        while (i < pieces_.size()) {
            // The most pieces from start on that fit, with a hyphen shown where the last ends in a soft one.
            double pen = 0;
            size_t best = i, j = i;
            if (start > pieces_[i].from) {
                // The rest of a piece too wide for a line: measured cluster by cluster only as far as a line goes.
                const Piece &p = pieces_[i];
                const double rest = clusterAdvance(start, p.content);
                if (rest > max_ + kEpsilonPt || !fits(text(start, p.content), false)) {
                    start = overlong(start, p);
                    if (start >= p.to)
                        ++i;
                    continue;
                }
                if (!p.softHyphen || rest + hyphenWidth() <= max_ + kEpsilonPt)
                    best = i + 1;
                pen = advance(p.content, p.to, rest);
                ++j;
            }
            for (; j < pieces_.size(); ++j) {
                const Piece &p = pieces_[j];
                const double content = advance(j == i ? start : p.from, p.content, pen);
                if (content > max_ + kEpsilonPt)
                    break;
                if (!p.softHyphen || content + hyphenWidth() <= max_ + kEpsilonPt)
                    best = j + 1;
                pen = advance(p.content, p.to, content);
            }
            if (best == i) {
                start = overlong(start, pieces_[i]);
                if (start >= pieces_[i].to)
                    ++i;
                continue;
            }
            best = checked(start, i, best);
            push(start, pieces_[best - 1].content, pieces_[best - 1].softHyphen);
            i = best;
            if (i < pieces_.size())
                start = pieces_[i].from;
        }
    }

    QString text(int from, int to) const { return para_.mid(from, to - from); }

    bool fits(const QString &s, bool hyphen) const
    {
        return textWidthPt(s, face_, size_, LineForm{direction_, hyphen}) <= max_ + kEpsilonPt;
    }

    double hyphenWidth() const { return textWidthPt(QStringLiteral("-"), face_, size_); }

    // The pen after the text from..to, set from pen on: its stretches
    // between tabs measured one by one, each tab going to the next stop.
    double advance(int from, int to, double pen) const
    {
        for (int at = from; at < to;) {
            int tab = para_.indexOf(QLatin1Char('\t'), at);
            if (tab < 0 || tab >= to)
                tab = to;
            if (tab > at)
                pen += textWidthPt(text(at, tab), face_, size_, LineForm{direction_, false});
            if (tab < to)
                pen = nextTabStop(pen, kTabStopPt);
            at = tab + 1;
        }
        return pen;
    }

    // Measured piece by piece, a line may differ from the line shaped
    // whole (letters that change shape across a piece's end): while the
    // whole is too wide, the line gives back its last piece.
    size_t checked(int start, size_t first, size_t best) const
    {
        while (best > first + 1) {
            const Piece &last = pieces_[best - 1];
            if (fits(text(start, last.content), last.softHyphen))
                break;
            --best;
        }
        return best;
    }

    QTextBoundaryFinder &graphemes()
    {
        if (!graphemes_)
            graphemes_ = std::make_unique<QTextBoundaryFinder>(QTextBoundaryFinder::Grapheme, para_);
        return *graphemes_;
    }

    // The clusters from start on that fit on a line (at least one), measured
    // one by one, up to end at most; where they end.
    int fittingClusters(int start, int end, double *width = nullptr)
    {
        QTextBoundaryFinder &finder = graphemes();
        finder.setPosition(start);
        double pen = 0;
        int at = start;
        for (qsizetype next = finder.toNextBoundary(); next > 0 && next <= end; next = finder.toNextBoundary()) {
            const double further = advance(at, static_cast<int>(next), pen);
            if (at > start && further > max_ + kEpsilonPt)
                break;
            pen = further;
            at = static_cast<int>(next);
        }
        if (width)
            *width = pen;
        return at;
    }

    // The width of the text from start to end measured cluster by cluster,
    // or more than a line when it is wider than one.
    double clusterAdvance(int start, int end)
    {
        double width = 0;
        return fittingClusters(start, end, &width) < end ? max_ + 1 : width;
    }

    // Places as much of a piece too wide for a line, from start on, as fits
    // on a line of its own, at least one grapheme cluster; where it goes on.
    int overlong(int start, const Piece &p)
    {
        QTextBoundaryFinder &finder = graphemes();
        int end = fittingClusters(start, p.content);
        // Clusters measured one by one: the line shaped whole may be wider.
        while (!fits(text(start, end), false)) {
            finder.setPosition(end);
            const qsizetype before = finder.toPreviousBoundary();
            if (before <= start)
                break;
            end = static_cast<int>(before);
        }
        if (end <= start)
            end = p.content;
        push(start, end, false);
        return end >= p.content ? p.to : end;
    }

    void push(int from, int to, bool hyphen)
    {
        QString line = text(from, to);
        while (!line.isEmpty() && isBreakBlank(line.back()))
            line.chop(1);
        out.lines.push_back(line);
        out.forms.push_back(LineForm{direction_, hyphen && line.endsWith(QChar(kSoftHyphen))});
    }

    const QString &para_;
    FontFace face_;
    double size_;
    double max_;
    LineForm::Direction direction_;
    std::vector<Piece> pieces_;
    std::unique_ptr<QTextBoundaryFinder> graphemes_;  // made for the first overlong piece
};

} // namespace

LineForm::Direction paragraphDirection(const QString &para)
{
    return startsRightToLeft(para.toStdU32String()) ? LineForm::RightToLeft : LineForm::LeftToRight;
}

std::vector<signed char> embeddingLevels(const std::u32string &chars, bool rightToLeft)
{
    static_assert(std::is_same_v<FriBidiLevel, signed char>);
    const auto n = static_cast<FriBidiStrIndex>(chars.size());
    const auto *str = reinterpret_cast<const FriBidiChar *>(chars.data());
    std::vector<FriBidiCharType> types(chars.size());
    std::vector<FriBidiBracketType> brackets(chars.size());
    std::vector<FriBidiLevel> levels(chars.size(), rightToLeft ? 1 : 0);
    fribidi_get_bidi_types(str, n, types.data());
    fribidi_get_bracket_types(str, n, types.data(), brackets.data());
    FriBidiParType base = rightToLeft ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), n, &base, levels.data()) == 0)
        std::fill(levels.begin(), levels.end(), rightToLeft ? 1 : 0);
    return levels;
}

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
    normalised.replace(QChar(0x2028), QLatin1Char('\n'));  // line and paragraph separators break too
    normalised.replace(QChar(0x2029), QLatin1Char('\n'));
    for (const QString &p : normalised.split(QLatin1Char('\n'))) {
        Wrapper w(p, face, sizePt, widthPt, paragraphDirection(p));
        w.run();
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
