#include "report/RptParagraph.h"

#include <fribidi.h>

#include <algorithm>
#include <type_traits>
#include <utility>

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

bool startsRightToLeft(const std::u32string &chars)
{
    std::vector<FriBidiCharType> types(chars.size());
    fribidi_get_bidi_types(reinterpret_cast<const FriBidiChar *>(chars.data()),
                           static_cast<FriBidiStrIndex>(chars.size()), types.data());
    return fribidi_get_par_direction(types.data(), static_cast<FriBidiStrIndex>(types.size())) == FRIBIDI_PAR_RTL;
}

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

} // namespace Rpt
