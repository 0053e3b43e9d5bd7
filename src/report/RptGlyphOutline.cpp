#include "report/RptGlyphOutline.h"

#include <hb.h>

namespace Rpt {
namespace {

QByteArray num(float v)
{
    QByteArray s = QByteArray::number(static_cast<double>(v), 'f', 3);  // never a decimal comma
    while (s.contains('.') && (s.endsWith('0') || s.endsWith('.')))
        s.chop(1);
    return s == "-0" ? QByteArray("0") : s;
}

QByteArray point(float x, float y) { return num(x) + ' ' + num(y); }

QByteArray &path(void *data) { return *static_cast<QByteArray *>(data); }

void moveTo(hb_draw_funcs_t *, void *data, hb_draw_state_t *, float x, float y, void *)
{
    path(data) += point(x, y) + " m\n";
}

void lineTo(hb_draw_funcs_t *, void *data, hb_draw_state_t *, float x, float y, void *)
{
    path(data) += point(x, y) + " l\n";
}

// A quadratic curve (TrueType's) as the cubic one PDF draws: the same curve.
void quadraticTo(hb_draw_funcs_t *, void *data, hb_draw_state_t *st, float cx, float cy, float x, float y, void *)
{
    const float x1 = st->current_x + 2.f / 3.f * (cx - st->current_x), y1 = st->current_y + 2.f / 3.f * (cy - st->current_y);
    const float x2 = x + 2.f / 3.f * (cx - x), y2 = y + 2.f / 3.f * (cy - y);
    path(data) += point(x1, y1) + ' ' + point(x2, y2) + ' ' + point(x, y) + " c\n";
}

void cubicTo(hb_draw_funcs_t *, void *data, hb_draw_state_t *, float x1, float y1, float x2, float y2, float x,
             float y, void *)
{
    path(data) += point(x1, y1) + ' ' + point(x2, y2) + ' ' + point(x, y) + " c\n";
}

void closePath(hb_draw_funcs_t *, void *data, hb_draw_state_t *, void *) { path(data) += "h\n"; }

hb_draw_funcs_t *drawFuncs()
{
    static hb_draw_funcs_t *const funcs = [] {
        hb_draw_funcs_t *f = hb_draw_funcs_create();
        hb_draw_funcs_set_move_to_func(f, moveTo, nullptr, nullptr);
        hb_draw_funcs_set_line_to_func(f, lineTo, nullptr, nullptr);
        hb_draw_funcs_set_quadratic_to_func(f, quadraticTo, nullptr, nullptr);
        hb_draw_funcs_set_cubic_to_func(f, cubicTo, nullptr, nullptr);
        hb_draw_funcs_set_close_path_func(f, closePath, nullptr, nullptr);
        hb_draw_funcs_make_immutable(f);
        return f;
    }();
    return funcs;
}

} // namespace

QByteArray glyphOutline(const FontFile &file, uint32_t glyph)
{
    QByteArray out;
    hb_font_get_glyph_shape(file.shaper(), glyph, drawFuncs(), &out);
    return out;
}

} // namespace Rpt
