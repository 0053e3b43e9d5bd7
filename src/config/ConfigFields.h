// The field tables of the setup dialog: one descriptor per control, binding
// its control name to the image, offset and width it edits, its kind (which
// decides the key filter and the one change handler that serves it), its
// range, hint and label, and the place where it is laid out.
// The tables are in creation order: the order of the controls on the pages,
// which decides which red field the validation reports.
#pragma once

#include "link/Z960Data.h"

#include <cstddef>
#include <cstdint>

namespace Config {

// The three structure images that the dialog edits in place.
enum class Image : uint8_t { Config, Cal, BasicCal };

constexpr std::size_t kConfigSize = 332;
constexpr std::size_t kCalSize = 158;
constexpr std::size_t kBasicCalSize = 222;

constexpr std::size_t imageSize(Image image)
{
    return image == Image::Config ? kConfigSize : image == Image::Cal ? kCalSize : kBasicCalSize;
}

enum class Kind : uint8_t {
    Decimal,      // float32 edit, range-checked as float
    TubeZero,     // float32 edit, its value truncated toward zero is range-checked
    FreeDecimal,  // float32 edit stored as typed, no range check
    Unsigned,     // uint16 or uint32 edit, range-checked as integer
    Signed,       // int16 edit, range-checked as integer
    AccessCode,   // uint16 access code 1 to 9999
    Combo,        // item index stored as uint16
    Check,        // 1 or 0 stored as uint16
    FlagBit,      // one bit of a uint16 set or cleared
    TimePicker,   // Timestamp record, time of day shown
    DatePicker,   // Timestamp record, date shown
};

enum class Width : uint8_t { U16, U32, I16, F32, Stamp };

constexpr std::size_t widthBytes(Width w)
{
    return w == Width::U16 || w == Width::I16 ? 2 : w == Width::Stamp ? 6 : 4;
}

// Key filter of an edit.
enum class Filter : uint8_t { None, Decimal, Unsigned, Signed };

// Lists of combo items (texts of the setup dialog).
enum class Items : uint8_t {
    None,
    VolumeUnit,
    TimeUnit,
    FailSafeMode,
    AlarmCause,
    DigitalOutType,
    DigitalOutChannel,
    AnalogOutMode,
    AnalogOutChannel,
    FilterFrequency,
    PipeUnits,
};

// Where a control is laid out: a tab of the configuration page, a panel of
// the calibration page, the basic-calibration page or a row of the access page.
enum class Place : uint8_t {
    Units, Values, Totals, Scanning, Alarms, DigitalOutputs, AnalogOutputs, General, Modem,
    FlowMeter, FlowTube, CoilDriver, CalAnalogOutputs,
    BasicCal,
    AccessFront, AccessComms,
};

struct FieldDesc {
    const char *name;   // control name (objectName)
    Place place;
    Image image;
    uint16_t offset;    // byte offset in the image
    Kind kind;
    Width width;
    double min;         // inclusive range (range-checked kinds)
    double max;
    const char *hint;   // the range text; nullptr: no hint
    const char *label;  // nullptr: the start of the hint up to " valid range", or none
    Items items = Items::None;
    uint8_t bit = 0;    // FlagBit: the bit of the field
    uint8_t row = 0;    // grid places (alarms, digital and analog outputs)
    uint8_t col = 0;
    bool unfiltered = false; // a decimal edit without key filter
    // The structure field it edits; the image is read and written through it.
    Z960Data::FieldDesc data{};
};

struct FieldTable {
    const FieldDesc *begin;
    std::size_t count;
    const FieldDesc *end() const { return begin + count; }
};

// The fields of the configuration page, the calibration page, the
// basic-calibration page and the access page (in this creation order), each
// table in the creation order of its page.
FieldTable configurationFields();
FieldTable calibrationFields();
FieldTable basicCalibrationFields();
FieldTable accessFields();

// Key filter used by a field's edit.
Filter filterOf(const FieldDesc &field);

// Whether a field is shown in a line edit.
constexpr bool isEdit(Kind k)
{
    return k == Kind::Decimal || k == Kind::TubeZero || k == Kind::FreeDecimal || k == Kind::Unsigned
           || k == Kind::Signed || k == Kind::AccessCode;
}

} // namespace Config
