// Checksums, the hex codec and the byte-order helpers of the three framings.
#include "link/Z960Frames.h"
#include "link/Z960Port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace Z960Frames;

namespace {

const unsigned char kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

// Bit-wise reference forms, written independently of the byte-wise steps.
unsigned short kermitBitwise(const std::vector<unsigned char> &data, unsigned short crc = 0)
{
    for (unsigned char b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<unsigned short>((crc >> 1) ^ 0x8408) : static_cast<unsigned short>(crc >> 1);
    }
    return crc;
}

} // namespace

TEST(Checksums, CheckValuesOverTheNineDigits)
{
    EXPECT_EQ(ccittCrc(kDigits, 0, sizeof kDigits), 0x2189);
    EXPECT_EQ(crc16(kDigits, sizeof kDigits), 0x4B37);
}

TEST(Checksums, ByteWiseKermitMatchesTheBitWiseFormForAnyData)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        std::vector<unsigned char> data(rng() % 64 + 1);
        for (auto &b : data)
            b = static_cast<unsigned char>(rng());
        const auto init = static_cast<unsigned short>(rng());
        ASSERT_EQ(ccittCrc(data.data(), init, data.size()), kermitBitwise(data, init)) << "round " << round;
    }
}

TEST(Checksums, KermitContinuesFromAnInitialValue)
{
    // Address and control stepped one by one, then the payload in one block:
    // the same as one pass over all bytes.
    unsigned short crc = 0;
    updateCcittCrc(&crc, 0x01);
    updateCcittCrc(&crc, 0x80);
    const unsigned char payload[] = {0x00};
    EXPECT_EQ(ccittCrc(payload, crc, 1), 0xD610); // the ping request of address 1
}

TEST(Checksums, BlockCrcOverNothingIsAFaultAndReturnsTheStart)
{
    Z960Port port(nullptr, 1);
    std::vector<std::string> faults;
    port.OnPortDebugEvent = [&](QObject *, std::string text) { faults.push_back(text); };
    EXPECT_EQ(port.blockCalcCcittCrc(kDigits, 0x1234, 0), 0x1234);
    EXPECT_EQ(faults, std::vector<std::string>{"file:Z960Port line: 559"});
    EXPECT_EQ(port.blockCalcCcittCrc(kDigits, 0, 9), 0x2189);
    EXPECT_EQ(faults.size(), 1u);
}

TEST(Checksums, ModbusCrcStepRestartsWithStart)
{
    unsigned short crc = 0x5555;
    Z960Port::updateCrc16(true, '1', &crc);
    for (std::size_t i = 1; i < sizeof kDigits; ++i)
        Z960Port::updateCrc16(false, kDigits[i], &crc);
    EXPECT_EQ(crc, 0x4B37);
}

TEST(Checksums, LrcOfTheWorkedRegisterRead)
{
    // 0x01 + 0x03 + 0x00 + 0x74 + 0x00 + 0x28 = 0xA0; two's complement 0x60.
    Z960Port port(nullptr, 1);
    port.frame.function = 3;
    const unsigned char data[] = {0x00, 0x74, 0x00, 0x28};
    std::memcpy(port.frame.data, data, sizeof data);
    port.frame.length = 4;
    EXPECT_EQ(port.blockCalcLrc(), 0x60);

    // The address in the sum is always the link's own.
    port.modbusAddress = 2;
    EXPECT_EQ(port.blockCalcLrc(), 0x5F);

    // An exception reply sums address, function and the exception code only.
    port.modbusAddress = 1;
    port.frame.function = 0x83;
    port.frame.exceptionCode = 2;
    EXPECT_EQ(port.blockCalcLrc(), static_cast<unsigned char>(0x100 - (0x01 + 0x83 + 0x02)));
}

TEST(Checksums, LrcOfAnEmptyListIsTheComplementOfTheStart)
{
    EXPECT_EQ(lrc(nullptr, 0, 0), 0);
    EXPECT_EQ(lrc(nullptr, 0, 0x01), 0xFF);
}

TEST(Checksums, RtuCrcOverTheFrameRecord)
{
    Z960Port port(nullptr, 1);
    port.frame.address = 1;
    port.frame.function = 3;
    const unsigned char data[] = {0x00, 0x74, 0x00, 0x28};
    std::memcpy(port.frame.data, data, sizeof data);
    port.frame.length = 4;
    EXPECT_EQ(port.blockCalcCrc16(), 0xCE05);
    port.frame.function = 3;
    port.frame.exceptionCode = 2; // exception reply: 01 83 02
    EXPECT_EQ(port.blockCalcCrc16(), 0xF1C0);
}

TEST(HexCodec, TableOfPairs)
{
    struct Case {
        const char *chars; // high, low as written
        unsigned char value;
    };
    const Case cases[] = {{"a3", 0xA3}, {"A3", 0xA3}, {"00", 0x00}, {"FF", 0xFF}, {"ff", 0xFF},
                          {"0A", 0x0A}, {"9f", 0x9F}, {"C8", 0xC8}};
    for (const Case &c : cases) {
        const unsigned char in[2] = {static_cast<unsigned char>(c.chars[1]), static_cast<unsigned char>(c.chars[0])};
        unsigned char out = 0;
        Z960Port::hexToBin(in, &out);
        EXPECT_EQ(out, c.value) << c.chars;
    }
}

TEST(HexCodec, EncodesUpperCaseHighNibbleInSecondPlace)
{
    unsigned char out[2] = {0, 0};
    Z960Port::binToHex(0x0A, out);
    EXPECT_EQ(out[1], '0'); // sent first
    EXPECT_EQ(out[0], 'A');
    for (int v = 0; v < 256; ++v) {
        Z960Port::binToHex(static_cast<unsigned char>(v), out);
        unsigned char back = 0;
        Z960Port::hexToBin(out, &back);
        ASSERT_EQ(back, v);
        ASSERT_TRUE(isHexChar(out[0]) && isHexChar(out[1]));
        ASSERT_FALSE(out[0] >= 'a' || out[1] >= 'a');
    }
}

TEST(HexCodec, NonHexCharactersConvertByArithmeticWithoutFailing)
{
    // 'G' - 0x37 = 0x10 and 'g' - 0x57 = 0x10: kept to 8 bits, never rejected.
    const unsigned char in[2] = {'G', '1'};
    unsigned char out = 0;
    Z960Port::hexToBin(in, &out);
    EXPECT_EQ(out, 0x10 | 0x10);
    EXPECT_FALSE(isHexChar('G'));
    EXPECT_FALSE(isHexChar(':'));
}

TEST(ByteOrder, SixteenBitsHighByteFirstAndFloatLeastSignificantFirst)
{
    unsigned char two[2];
    Z960Port::breakUnsignedInt16(0x1234, two);
    EXPECT_EQ(two[0], 0x12);
    EXPECT_EQ(two[1], 0x34);

    unsigned char four[4];
    Z960Port::breakFloat32(1.0f, four); // 0x3F800000
    const unsigned char one[4] = {0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(std::memcmp(four, one, 4), 0);
}

TEST(Functions, OnlyTheSevenMeterFunctionsAreValid)
{
    for (int f = 0; f < 256; ++f) {
        const bool expected = f == 3 || f == 6 || f == 16 || f == 65 || f == 67 || f == 68 || f == 69;
        ASSERT_EQ(Z960Port::isValidCommand(static_cast<unsigned char>(f)), expected) << f;
    }
}
