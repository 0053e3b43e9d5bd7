#include "report/RptShaper.h"

#include <QTextBoundaryFinder>

#include <fribidi.h>
#include <hb.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <tuple>

namespace Rpt {
namespace {

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

    // The glyphs cluster by cluster as typed, each cluster's glyphs in the
    // order of the pen, and each glyph given its share of the cluster's text.
    void orderForReading()
    {
        std::vector<std::vector<size_t>> byCluster(out_.clusters.size());
        for (size_t i = 0; i < out_.glyphs.size(); ++i)
            byCluster[static_cast<size_t>(out_.glyphs[i].cluster)].push_back(i);
        out_.reading.reserve(out_.glyphs.size());
        for (size_t c = 0; c < byCluster.size(); ++c) {
            std::vector<size_t> &gs = byCluster[c];
            const bool rtl = out_.rightToLeft[c];
            // Left to right by the pen (rightwards from where a right-to-left
            // glyph ends); a glyph that moves the pen before the marks that
            // sit on it, marks as typed.
            const auto key = [&](size_t i) {
                const ShapedGlyph &g = out_.glyphs[i];
                const double at = rtl ? -(g.pen + g.advance) : g.pen;
                return std::make_tuple(at, (g.advance > 0) == rtl ? 0 : 1, g.origin, rtl ? -double(i) : double(i));
            };
            std::sort(gs.begin(), gs.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
            shareOut(gs, c);
            out_.reading.insert(out_.reading.end(), gs.begin(), gs.end());
        }
    }

    // Gives the cluster's glyphs, in reading order, their shares of its
    // text: the characters in turn, to each glyph as many as the shaper gave
    // it (from where it begins it to where the cluster's next glyph begins),
    // the last glyph that has any taking the rest. Glyphs in the order of
    // their characters so stand for their own; a further piece of a
    // character drawn in several stands for nothing.
    void shareOut(const std::vector<size_t> &gs, size_t c)
    {
        const QList<uint> text = out_.clusters[c].toUcs4();
        const int n = static_cast<int>(text.size());
        const auto begin = [&](size_t g) { return std::clamp(out_.glyphs[g].origin - clusterStarts_[c], 0, n); };
        std::set<int> origins;
        for (size_t g : gs)
            origins.insert(begin(g));
        std::vector<int> count(gs.size(), 0);
        std::set<int> given;
        size_t last = 0;
        for (size_t k = 0; k < gs.size(); ++k) {
            const int from = begin(gs[k]);
            if (!given.insert(from).second)
                continue;
            const auto next = origins.upper_bound(from);
            count[k] = (next == origins.end() ? n : *next) - (from == *origins.begin() ? 0 : from);
            last = k;
        }
        int at = 0;
        for (size_t k = 0; k < gs.size(); ++k) {
            const int take = k == last ? n - at : std::min(count[k], n - at);
            out_.glyphs[gs[k]].text = QString::fromUcs4(reinterpret_cast<const char32_t *>(text.constData()) + at, take);
            at += take;
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
                const int cluster = addCluster(chars, i, i + 1, offset, hyphenAt, rtl);
                item.glyphs.push_back(ShapedGlyph{nullptr, 0, item.width, 0, item.width, 556, cluster, offset + i,
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
        // out of order, or one character in several pieces) shares them out.
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
            const int cluster = addCluster(chars, from, to, offset, hyphenAt, rtl);
            for (unsigned k = unit.from; k < unit.to; ++k) {
                const unsigned i = reading[k];
                const int origin = info[i].cluster == unit.first ? from : static_cast<int>(info[i].cluster);
                glyphs[i] = ShapedGlyph{&f, info[i].codepoint, pens[i] + f.milli(pos[i].x_offset),
                                        static_cast<double>(f.milli(pos[i].y_offset)), pens[i],
                                        static_cast<double>(f.milli(pos[i].x_advance)), cluster, offset + origin, QString()};
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

    int addCluster(const std::u32string &chars, int from, int to, int offset, int hyphenAt, bool rtl)
    {
        out_.rightToLeft.push_back(rtl);
        clusterStarts_.push_back(offset + from);
        out_.clusters.push_back(typedText(chars, from, to, offset, hyphenAt));
        return static_cast<int>(out_.clusters.size()) - 1;
    }

    FontFace face_;
    double size_;
    ShapedLine &out_;
    hb_buffer_t *buffer_ = nullptr;
    std::set<int> levels_;
    std::vector<int> clusterStarts_;  // where each cluster begins, code points into the line
};

} // namespace

void shapeInto(ShapedLine &line, std::u32string chars, FontFace face, double sizePt, LineForm form)
{
    LineShaper(face, sizePt, line).shape(std::move(chars), form);
}

} // namespace Rpt
