// Number texts of the setup dialog: shown with "." and read with "." or ","
// in any locale.
#include "config/ConfigNumbers.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

using namespace Config;

TEST(ConfigNumbers, FormatFloatShowsOneToFiveDecimals)
{
    const struct {
        float value;
        const char *text;
    } cases[] = {
        {0.0f, "0.0"},          {1000.0f, "1000.0"},     {3.14159265f, "3.14159"}, {0.000001f, "0.0"},
        {-0.000001f, "0.0"},    {-0.0f, "0.0"},          {0.1f, "0.1"},            {-250.5f, "-250.5"},
        {100.5f, "100.5"},      {0.0000045f, "0.0"},     {10000000.0f, "10000000.0"},
        {-1000000.0f, "-1000000.0"}, {2.123456f, "2.12346"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatFloat(c.value), QString::fromLatin1(c.text)) << c.value;
}

TEST(ConfigNumbers, NotFiniteValuesShowTextsThatNeverParse)
{
    for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()}) {
        const QString text = formatFloat(v);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(parseFloat32(text).has_value()) << text.toStdString();
    }
}

TEST(ConfigNumbers, DecimalSyntax)
{
    const struct {
        const char *text;
        bool ok;
        double value;
    } cases[] = {
        {"12.5", true, 12.5}, {"-12.5", true, -12.5}, {"+7", true, 7},   {"5.", true, 5},     {".5", true, 0.5},
        {"-.5", true, -0.5},  {" 3 ", true, 3},       {"1e3", true, 1000}, {"2.5E-1", true, 0.25},
        {".", false, 0},      {"-.", false, 0},       {"-", false, 0},   {"+", false, 0},     {"", false, 0},
        {"1,5", true, 1.5},   {",5", true, 0.5},      {"-2,5e1", true, -25}, {",", false, 0},
        {"2,5,1", false, 0},  {"1.2,3", false, 0},    {"1,2.3", false, 0},   {"1.2.3", false, 0},
        {"abc", false, 0},    {"--1", false, 0},      {"+-1", false, 0},
        {"1e", false, 0},     {"e5", false, 0},       {"nan", false, 0}, {"inf", false, 0},   {"0x10", false, 0},
        {"1e400", false, 0},  {"12a", false, 0},
    };
    for (const auto &c : cases) {
        const auto v = parseDecimal(QString::fromLatin1(c.text));
        ASSERT_EQ(v.has_value(), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(*v, c.value) << c.text;
        }
    }
}

TEST(ConfigNumbers, Float32RejectsValuesBeyondTheFloatRange)
{
    EXPECT_FALSE(parseFloat32(QStringLiteral("1e39")).has_value());
    EXPECT_FALSE(parseFloat32(QStringLiteral("-1e39")).has_value());
    ASSERT_TRUE(parseFloat32(QStringLiteral("3.4e38")).has_value());
    // A value just above a float is compared as the nearest float.
    EXPECT_EQ(*parseFloat32(QStringLiteral("10.0000001")), 10.0f);
    EXPECT_GT(*parseFloat32(QStringLiteral("10.000001")), 10.0f);
}

TEST(ConfigNumbers, Int32Syntax)
{
    const struct {
        const char *text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"0", true, 0},          {"0042", true, 42},     {"-1000", true, -1000}, {"+5", true, 5},
        {"2147483647", true, 2147483647}, {"-2147483648", true, std::numeric_limits<int32_t>::min()},
        {"2147483648", false, 0}, {"99999999999", false, 0}, {"-", false, 0}, {"+", false, 0}, {"", false, 0},
        {"1.0", false, 0},       {"1,0", false, 0},      {"12a", false, 0},      {"1 2", false, 0},
    };
    for (const auto &c : cases) {
        const auto v = parseInt32(QString::fromLatin1(c.text));
        ASSERT_EQ(v.has_value(), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(*v, c.value) << c.text;
        }
    }
}

TEST(ConfigNumbers, TextsIgnoreTheRegionalFormat)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8"); // ignored where the locale is missing
    EXPECT_EQ(formatFloat(1234.5f), QStringLiteral("1234.5"));
    ASSERT_TRUE(parseDecimal(QStringLiteral("1234.5")).has_value());
    EXPECT_DOUBLE_EQ(*parseDecimal(QStringLiteral("1234.5")), 1234.5);
    // A decimal comma reads as the point, as it does in every other locale.
    ASSERT_TRUE(parseDecimal(QStringLiteral("1234,5")).has_value());
    EXPECT_DOUBLE_EQ(*parseDecimal(QStringLiteral("1234,5")), 1234.5);
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(saved);
}
