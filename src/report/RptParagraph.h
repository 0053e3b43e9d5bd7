// A paragraph's reading order: its base direction and the embedding levels
// of its characters by the Unicode bidirectional algorithm (FriBidi), and
// the characters that show nothing of their own.
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace Rpt {

// How a line prints beyond its text.
struct LineForm {
    // The base direction of the paragraph the line belongs to; Auto takes it
    // from the line's first letter of a strong direction.
    enum Direction : uint8_t { Auto, LeftToRight, RightToLeft };
    Direction direction = Auto;
    // The line was broken at the soft hyphen that ends it: it shows "-".
    bool hyphen = false;

    bool operator==(const LineForm &o) const { return direction == o.direction && hyphen == o.hyphen; }
};

constexpr char32_t kSoftHyphen = 0x00AD;

// Characters without a visible glyph of their own (soft hyphen, direction
// marks, joiners, variation selectors).
bool isDefaultIgnorable(char32_t c);

// Whether a paragraph's first letter of a strong direction is right to left.
bool startsRightToLeft(const std::u32string &chars);

// A paragraph's direction: that of its first letter of a strong direction
// (left to right when it has none).
LineForm::Direction paragraphDirection(const QString &para);

// The embedding levels of a line's characters in a paragraph of the given
// direction (odd: right to left), by the Unicode bidirectional algorithm.
std::vector<signed char> embeddingLevels(const std::u32string &chars, bool rightToLeft);

} // namespace Rpt
