#include "report/RptSubsetWidths.h"

#include <algorithm>
#include <map>

namespace Rpt {
namespace {

// Most glyphs a TrueType font can number.
constexpr size_t kMostGlyphs = 0xFFFF;

uint16_t u16(const QByteArray &b, qsizetype at)
{
    return static_cast<uint16_t>(uint8_t(b[at]) << 8 | uint8_t(b[at + 1]));
}

uint32_t u32(const QByteArray &b, qsizetype at) { return uint32_t(u16(b, at)) << 16 | u16(b, at + 2); }

void put16(QByteArray &b, qsizetype at, uint32_t v)
{
    b[at] = static_cast<char>(v >> 8 & 0xFF);
    b[at + 1] = static_cast<char>(v & 0xFF);
}

void put32(QByteArray &b, qsizetype at, uint32_t v)
{
    put16(b, at, v >> 16);
    put16(b, at + 2, v & 0xFFFF);
}

QByteArray be16(uint32_t v)
{
    QByteArray b(2, '\0');
    put16(b, 0, v);
    return b;
}

// The tables of a font file by tag (sorted, as the table directory wants them).
using Tables = std::map<QByteArray, QByteArray>;

bool readTables(const QByteArray &font, Tables &out)
{
    if (font.size() < 12)
        return false;
    const int count = u16(font, 4);
    if (font.size() < 12 + 16 * count)
        return false;
    for (int i = 0; i < count; ++i) {
        const qsizetype at = 12 + 16 * i;
        const uint32_t offset = u32(font, at + 8), length = u32(font, at + 12);
        if (offset > static_cast<uint32_t>(font.size()) || length > font.size() - offset)
            return false;
        out[font.mid(at, 4)] = font.mid(offset, length);
    }
    return true;
}

uint32_t checksum(const QByteArray &data)
{
    QByteArray padded = data;
    padded.append((4 - padded.size() % 4) % 4, '\0');
    uint32_t sum = 0;
    for (qsizetype i = 0; i < padded.size(); i += 4)
        sum += u32(padded, i);
    return sum;
}

QByteArray writeFont(uint32_t version, Tables tables)
{
    put32(tables[QByteArrayLiteral("head")], 8, 0);
    const uint16_t count = static_cast<uint16_t>(tables.size());
    uint16_t power = 1, log2 = 0;
    while (power * 2 <= count) {
        power *= 2;
        ++log2;
    }
    QByteArray out(12 + 16 * count, '\0');
    put32(out, 0, version);
    put16(out, 4, count);
    put16(out, 6, power * 16);
    put16(out, 8, log2);
    put16(out, 10, count * 16 - power * 16);
    qsizetype at = 12, headAt = 0;
    for (const auto &[tag, data] : tables) {
        if (tag == "head")
            headAt = out.size();
        out.replace(at, 4, tag);
        put32(out, at + 4, checksum(data));
        put32(out, at + 8, static_cast<uint32_t>(out.size()));
        put32(out, at + 12, static_cast<uint32_t>(data.size()));
        out += data;
        out.append((4 - out.size() % 4) % 4, '\0');
        at += 16;
    }
    put32(out, headAt + 8, 0xB1B0AFBA - checksum(out));
    return out;
}

// The glyphs of a font with their metrics, one entry each.
struct Glyphs {
    std::vector<QByteArray> outline;  // its glyf entry
    std::vector<uint32_t> advance;
    std::vector<int16_t> lsb;
};

bool readGlyphs(const Tables &t, Glyphs &g)
{
    const QByteArray &head = t.at("head"), &hhea = t.at("hhea"), &hmtx = t.at("hmtx");
    const QByteArray &maxp = t.at("maxp"), &loca = t.at("loca"), &glyf = t.at("glyf");
    if (head.size() < 54 || hhea.size() < 36 || maxp.size() < 6)
        return false;
    const bool longOffsets = u16(head, 50) == 1;
    const size_t count = u16(maxp, 4), metrics = u16(hhea, 34);
    if (metrics == 0 || metrics > count || hmtx.size() < qsizetype(4 * metrics + 2 * (count - metrics)) ||
        loca.size() < qsizetype((longOffsets ? 4 : 2) * (count + 1)))
        return false;
    const auto offset = [&](size_t i) { return longOffsets ? u32(loca, qsizetype(4 * i)) : 2u * u16(loca, qsizetype(2 * i)); };
    for (size_t i = 0; i < count; ++i) {
        const uint32_t from = offset(i), to = offset(i + 1);
        if (to < from || to > static_cast<uint32_t>(glyf.size()))
            return false;
        g.outline.push_back(glyf.mid(from, to - from));
        g.advance.push_back(u16(hmtx, qsizetype(4 * std::min(i, metrics - 1))));
        g.lsb.push_back(static_cast<int16_t>(i < metrics ? u16(hmtx, qsizetype(4 * i + 2))
                                                         : u16(hmtx, qsizetype(4 * metrics + 2 * (i - metrics)))));
    }
    return true;
}

// A composite glyph of this one alone, where it is: the same outline, so
// that it draws the same. An empty glyph's copy is empty.
QByteArray copyOf(const QByteArray &outline, uint32_t glyph)
{
    if (outline.size() < 10)
        return QByteArray();
    constexpr uint16_t kArgsAreXyValues = 0x0002;
    return be16(0xFFFF) + outline.mid(2, 8) + be16(kArgsAreXyValues) + be16(glyph) + QByteArray(2, '\0');
}

bool isComposite(const QByteArray &outline) { return outline.size() >= 10 && u16(outline, 0) == 0xFFFF; }

void writeGlyphs(Tables &t, const Glyphs &g, bool copiedComposite)
{
    QByteArray glyf;
    std::vector<uint32_t> offsets;
    for (const QByteArray &o : g.outline) {
        offsets.push_back(static_cast<uint32_t>(glyf.size()));
        glyf += o;
        glyf.append((4 - glyf.size() % 4) % 4, '\0');
    }
    offsets.push_back(static_cast<uint32_t>(glyf.size()));
    const bool longOffsets = glyf.size() > 0x1FFFE;
    QByteArray loca;
    for (uint32_t o : offsets)
        loca += longOffsets ? be16(o >> 16) + be16(o & 0xFFFF) : be16(o / 2);
    QByteArray hmtx;
    uint32_t widest = 0;
    for (size_t i = 0; i < g.outline.size(); ++i) {
        hmtx += be16(g.advance[i]) + be16(static_cast<uint16_t>(g.lsb[i]));
        widest = std::max(widest, g.advance[i]);
    }
    t["glyf"] = glyf;
    t["loca"] = loca;
    t["hmtx"] = hmtx;
    put16(t["head"], 50, longOffsets ? 1 : 0);
    QByteArray &hhea = t["hhea"];
    put16(hhea, 10, widest);
    put16(hhea, 34, static_cast<uint32_t>(g.outline.size()));
    QByteArray &maxp = t["maxp"];
    put16(maxp, 4, static_cast<uint32_t>(g.outline.size()));
    if (maxp.size() >= 32) {
        // A copy holds as many points and contours as what it copies, one
        // level deeper.
        put16(maxp, 10, std::max(u16(maxp, 10), u16(maxp, 6)));
        put16(maxp, 12, std::max(u16(maxp, 12), u16(maxp, 8)));
        put16(maxp, 28, std::max<uint16_t>(u16(maxp, 28), 1));
        put16(maxp, 30, std::max<uint16_t>(u16(maxp, 30), 1) + (copiedComposite ? 1 : 0));
    }
    // Glyph names are counted per glyph: a font without them has none to count.
    QByteArray &post = t["post"];
    if (post.size() >= 32 && u32(post, 0) == 0x00020000) {
        post.truncate(32);
        put32(post, 0, 0x00030000);
    }
}

} // namespace

QByteArray withAdvances(const QByteArray &program, const std::vector<std::pair<uint32_t, int>> &wanted,
                        std::vector<uint32_t> &glyphOf)
{
    glyphOf.clear();
    for (const auto &w : wanted)
        glyphOf.push_back(w.first);
    Tables tables;
    Glyphs glyphs;
    if (!readTables(program, tables))
        return program;
    for (const char *tag : {"head", "hhea", "hmtx", "maxp", "loca", "glyf"})
        if (!tables.count(tag))
            return program;
    if (!readGlyphs(tables, glyphs))
        return program;
    const size_t count = glyphs.outline.size();
    std::map<std::pair<uint32_t, int>, uint32_t> drawnBy;
    std::vector<bool> set(count, false);
    bool changed = false, copiedComposite = false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        const auto [glyph, units] = wanted[i];
        const uint32_t width = static_cast<uint32_t>(std::clamp(units, 0, 0xFFFF));
        if (glyph >= count)
            continue;
        if (const auto it = drawnBy.find({glyph, int(width)}); it != drawnBy.end()) {
            glyphOf[i] = it->second;
        } else if (!set[glyph]) {
            set[glyph] = true;
            changed = changed || glyphs.advance[glyph] != width;
            glyphs.advance[glyph] = width;
            drawnBy[{glyph, int(width)}] = glyph;
        } else if (glyphs.outline.size() < kMostGlyphs) {
            changed = true;
            copiedComposite = copiedComposite || isComposite(glyphs.outline[glyph]);
            glyphs.outline.push_back(copyOf(glyphs.outline[glyph], glyph));
            glyphs.advance.push_back(width);
            glyphs.lsb.push_back(glyphs.lsb[glyph]);
            glyphOf[i] = drawnBy[{glyph, int(width)}] = static_cast<uint32_t>(glyphs.outline.size() - 1);
        }
    }
    if (!changed)
        return program;
    writeGlyphs(tables, glyphs, copiedComposite);
    return writeFont(u32(program, 0), tables);
}

} // namespace Rpt
