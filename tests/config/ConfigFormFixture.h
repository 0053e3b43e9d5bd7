// Fixture images for the setup-dialog tests: every edited field holds a
// value inside its range, every other byte a pattern (so that a stray write
// shows), and a dialog built over them.
#pragma once

#include "config/ConfigFields.h"
#include "config/ConfigFormUnit.h"
#include "link/Z960Port.h"
#include "support/ScriptedPrompter.h"

#include <QLineEdit>
#include <QTest>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

namespace ConfigTest {

using ConfigBytes = std::array<uint8_t, Config::kConfigSize>;
using CalBytes = std::array<uint8_t, Config::kCalSize>;
using BasicCalBytes = std::array<uint8_t, Config::kBasicCalSize>;

inline void putU16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void putF32(uint8_t *p, float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    putU32(p, bits);
}
inline uint16_t getU16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t getU32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline float getF32(const uint8_t *p)
{
    const uint32_t bits = getU32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Copies of the three images, compared and patched byte by byte.
struct Images {
    ConfigBytes config{};
    CalBytes cal{};
    BasicCalBytes basicCal{};

    uint8_t *of(Config::Image image)
    {
        return image == Config::Image::Config ? config.data()
               : image == Config::Image::Cal  ? cal.data()
                                              : basicCal.data();
    }
    uint8_t *at(const Config::FieldDesc &f) { return of(f.image) + f.offset; }
    bool operator==(const Images &o) const
    {
        return config == o.config && cal == o.cal && basicCal == o.basicCal;
    }
};

// A value inside the field's range, with more precision than the dialog shows
// for decimals (so a store-back at load would show in the bytes).
inline void putValid(Images &im, const Config::FieldDesc &f)
{
    using Config::Kind;
    uint8_t *p = im.at(f);
    switch (f.kind) {
    case Kind::Decimal:
    case Kind::TubeZero:
    case Kind::FreeDecimal:
        putF32(p, float(f.min + (f.max - f.min) * 0.3) + 0.0000045f);
        break;
    case Kind::Unsigned:
    case Kind::AccessCode:
        if (f.width == Config::Width::U32)
            putU32(p, uint32_t(f.min) + 7);
        else
            putU16(p, uint16_t(f.min + 1));
        break;
    case Kind::Signed: putU16(p, uint16_t(int16_t(-250))); break;
    case Kind::Combo: putU16(p, 1); break;
    case Kind::Check: putU16(p, 1); break;
    case Kind::FlagBit: break; // the flags word keeps its pattern
    case Kind::TimePicker:
    case Kind::DatePicker: {
        const uint8_t stamp[6] = {24, 2, 29, 22, 30, 15};
        std::memcpy(p, stamp, 6);
        break;
    }
    }
}

inline Images validImages()
{
    Images im;
    for (std::size_t i = 0; i < im.config.size(); ++i)
        im.config[i] = uint8_t(0x5A ^ (i * 7));
    for (std::size_t i = 0; i < im.cal.size(); ++i)
        im.cal[i] = uint8_t(0xA5 ^ (i * 11));
    for (std::size_t i = 0; i < im.basicCal.size(); ++i)
        im.basicCal[i] = uint8_t(0x3C ^ (i * 13));
    for (const Config::FieldTable t : {Config::configurationFields(), Config::calibrationFields(),
                                       Config::basicCalibrationFields(), Config::accessFields()})
        for (const Config::FieldDesc *f = t.begin; f != t.end(); ++f)
            putValid(im, *f);
    putF32(im.cal.data() + 56, 1.0f); // detector: the meter's own
    return im;
}

// A link holding fixture images and a dialog over them, with a prompter
// that records every message.
struct Dialog {
    explicit Dialog(const Images &images = validImages(), short accessLevel = 3, QWidget *mainForm = nullptr)
        : original(images)
    {
        port.configImage.assign(images.config);
        port.calImage.assign(images.cal);
        port.basicCalImage.assign(images.basicCal);
        form = std::make_unique<TConfigForm>(nullptr, mainForm, &port, accessLevel);
    }

    // The link's images as they stand now.
    Images now() const
    {
        Images im;
        im.config = port.configImage.bytes();
        im.cal = port.calImage.bytes();
        im.basicCal = port.basicCalImage.bytes();
        return im;
    }
    const uint8_t *at(const Config::FieldDesc &f) const
    {
        const uint8_t *base = f.image == Config::Image::Config ? port.configImage.data()
                              : f.image == Config::Image::Cal  ? port.calImage.data()
                                                               : port.basicCalImage.data();
        return base + f.offset;
    }
    const uint8_t *at(Config::Image image, std::size_t offset) const
    {
        const uint8_t *base = image == Config::Image::Config ? port.configImage.data()
                              : image == Config::Image::Cal  ? port.calImage.data()
                                                             : port.basicCalImage.data();
        return base + offset;
    }

    QLineEdit *edit(const char *name) const
    {
        return qobject_cast<QLineEdit *>(form->fieldControl(QString::fromLatin1(name)));
    }
    template <typename T>
    T *control(const char *name) const
    {
        return qobject_cast<T *>(form->fieldControl(QString::fromLatin1(name)));
    }
    // Replaces the text as a paste would (no key filter).
    void paste(const char *name, const QString &text) const { edit(name)->setText(text); }
    // Empties the edit, then types the text key by key through its filter.
    void type(const char *name, const QString &text) const
    {
        edit(name)->clear();
        QTest::keyClicks(edit(name), text);
    }
    bool red(const char *name) const { return isRed(edit(name)); }
    static bool isRed(const QLineEdit *e)
    {
        return e->palette().color(QPalette::Text) == QColor(Qt::red) && e->font().bold();
    }
    static bool isBlack(const QLineEdit *e)
    {
        return e->palette().color(QPalette::Text) == QColor(Qt::black) && !e->font().bold();
    }

    // True when no byte differs from the images the dialog was built over,
    // except width bytes at offset of one image.
    bool unchangedExcept(Config::Image image = Config::Image::Config, std::size_t offset = 0,
                         std::size_t width = 0) const
    {
        Images expect = original;
        Images actual = now();
        std::memcpy(expect.of(image) + offset, actual.of(image) + offset, width);
        return actual == expect;
    }

    TestSupport::ScriptedPrompter prompter;
    Images original;
    Z960Port port{nullptr, 1};
    std::unique_ptr<TConfigForm> form;
};

} // namespace ConfigTest
