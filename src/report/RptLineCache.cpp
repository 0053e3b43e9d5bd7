#include "report/RptLineCache.h"

#include <mutex>
#include <unordered_map>

namespace Rpt {
namespace {

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
                shapeInto(*line, chars, face, sizePt, form);
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

} // namespace

std::shared_ptr<const ShapedLine> shapeLine(const QString &text, FontFace face, double sizePt, LineForm form)
{
    return cache().get(text, face, sizePt, form);
}

double textWidthPt(const QString &text, FontFace face, double sizePt, LineForm form)
{
    return shapeLine(text, face, sizePt, form)->width * sizePt / 1000.0;
}

} // namespace Rpt
