#include "monitor/read_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Bytes(const ReadCommand& command) { return {command.begin(), command.end()}; }

// ---- BuildReadCommand ----

TEST(BuildReadCommandTest, DataMemoryHundredCountEightGivesFifteenBytes) {
  EXPECT_EQ(Bytes(BuildReadCommand(0, 100, 8)), "RDS DM00100 8\r\n");
}

TEST(BuildReadCommandTest, KindOneGivesTemporaryMemoryCode) {
  EXPECT_EQ(Bytes(BuildReadCommand(1, 7, 3)), "RDS TM00007 3\r\n");
}

TEST(BuildReadCommandTest, UnknownKindGivesTwoBlanksForTheCode) {
  EXPECT_EQ(Bytes(BuildReadCommand(5, 10, 8)), "RDS   00010 8\r\n");
  EXPECT_EQ(Bytes(BuildReadCommand(255, 0, 1)), "RDS   00000 1\r\n");
}

TEST(BuildReadCommandTest, SixDigitFirstDeviceKeepsItsFirstFiveCharacters) {
  EXPECT_EQ(Bytes(BuildReadCommand(0, 123456, 1)), "RDS DM12345 1\r\n");
}

TEST(BuildReadCommandTest, NegativeFirstDeviceKeepsSignAndFourZeros) {
  EXPECT_EQ(Bytes(BuildReadCommand(0, -5, 1)), "RDS DM-0000 1\r\n");
}

TEST(BuildReadCommandTest, ExtremeFirstDevicesStayInTheirFiveBytes) {
  EXPECT_EQ(Bytes(BuildReadCommand(0, std::numeric_limits<int32_t>::max(), 8)),
            "RDS DM21474 8\r\n");
  EXPECT_EQ(Bytes(BuildReadCommand(0, std::numeric_limits<int32_t>::min(), 8)),
            "RDS DM-2147 8\r\n");
}

TEST(BuildReadCommandTest, CountFieldIsTheFirstCharacterOfTheCount) {
  EXPECT_EQ(Bytes(BuildReadCommand(0, 0, 8)), "RDS DM00000 8\r\n");
  EXPECT_EQ(Bytes(BuildReadCommand(0, 0, 0)), "RDS DM00000 0\r\n");
  EXPECT_EQ(Bytes(BuildReadCommand(0, 0, 12)), "RDS DM00000 1\r\n");
  EXPECT_EQ(Bytes(BuildReadCommand(0, 0, -3)), "RDS DM00000 -\r\n");
}

// ---- DeviceCode and FormatDeviceNumber ----

TEST(DeviceCodeTest, OnlyKindsZeroAndOneHaveACode) {
  EXPECT_STREQ(DeviceCode(0), "DM");
  EXPECT_STREQ(DeviceCode(1), "TM");
  EXPECT_EQ(DeviceCode(2), nullptr);
  EXPECT_EQ(DeviceCode(255), nullptr);
}

TEST(FormatDeviceNumberTest, PadsToFiveDigitsAndKeepsAllDigits) {
  EXPECT_EQ(FormatDeviceNumber(0), "00000");
  EXPECT_EQ(FormatDeviceNumber(99), "00099");
  EXPECT_EQ(FormatDeviceNumber(123456), "123456");
  EXPECT_EQ(FormatDeviceNumber(-3), "-00003");
  EXPECT_EQ(FormatDeviceNumber(2147483648), "2147483648");
  EXPECT_EQ(FormatDeviceNumber(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

// ---- ReplyLengthValid ----

TEST(ReplyLengthValidTest, OneMoreThanAMultipleOfSixPasses) {
  EXPECT_TRUE(ReplyLengthValid(1));
  EXPECT_TRUE(ReplyLengthValid(7));
  EXPECT_TRUE(ReplyLengthValid(13));
  EXPECT_TRUE(ReplyLengthValid(2047));
}

TEST(ReplyLengthValidTest, ReplyOfFourBytesFailsLengthTest) { EXPECT_FALSE(ReplyLengthValid(4)); }

TEST(ReplyLengthValidTest, EmptyAndFailedReceiveFail) {
  EXPECT_FALSE(ReplyLengthValid(0));
  EXPECT_FALSE(ReplyLengthValid(-1));
  EXPECT_FALSE(ReplyLengthValid(2048));
}

TEST(ReplyLengthValidTest, LimitsOfTheRangeDoNotOverflow) {
  // 2147483646 = 6 * 357913941; INT32_MIN - 1 = -(6 * 357913941 + 3).
  EXPECT_TRUE(ReplyLengthValid(std::numeric_limits<int32_t>::max()));
  EXPECT_FALSE(ReplyLengthValid(std::numeric_limits<int32_t>::min()));
}

// ---- ConvertField ----

TEST(ConvertFieldTest, EmptyAndBlankFieldsGiveZero) {
  EXPECT_EQ(ConvertField(""), 0);
  EXPECT_EQ(ConvertField("     "), 0);
}

TEST(ConvertFieldTest, LeadingSpacesAndSignAreHonoured) {
  EXPECT_EQ(ConvertField(" -123"), -123);
  EXPECT_EQ(ConvertField("  +42"), 42);
  EXPECT_EQ(ConvertField("00012"), 12);
}

TEST(ConvertFieldTest, OnlySpacesAreSkippedNotTabs) { EXPECT_EQ(ConvertField("\t12"), 0); }

TEST(ConvertFieldTest, NonDigitStopsWithTheMagnitudeWithoutSign) {
  EXPECT_EQ(ConvertField("0012a"), 12);
  EXPECT_EQ(ConvertField("-12a"), 12);
  EXPECT_EQ(ConvertField("12.34"), 12);
  EXPECT_EQ(ConvertField("-123 "), 123);
  EXPECT_EQ(ConvertField("--5"), 0);
  EXPECT_EQ(ConvertField("-"), 0);
}

TEST(ConvertFieldTest, HexPrefixesGiveHexadecimal) {
  EXPECT_EQ(ConvertField("$00FF"), 255);
  EXPECT_EQ(ConvertField("x1f"), 31);
  EXPECT_EQ(ConvertField("X1F"), 31);
  EXPECT_EQ(ConvertField("0x7fF"), 2047);
  EXPECT_EQ(ConvertField("  0X10"), 16);
  EXPECT_EQ(ConvertField("$12g4"), 0x12);
  EXPECT_EQ(ConvertField("$"), 0);
}

TEST(ConvertFieldTest, HexPrefixAfterASignIsNotHex) {
  EXPECT_EQ(ConvertField("-$10"), 0);
  EXPECT_EQ(ConvertField("+0x10"), 0);
  EXPECT_EQ(ConvertField("-0x10"), 0);
}

TEST(ConvertFieldTest, DecimalStopsBeforePassingTheSignedRange) {
  EXPECT_EQ(ConvertField("2147483647"), 2147483647);
  EXPECT_EQ(ConvertField("-2147483648"), std::numeric_limits<int32_t>::min());
  // The digit that would pass the range stops the conversion; the magnitude so far is kept.
  EXPECT_EQ(ConvertField("2147483648"), 214748364);
  EXPECT_EQ(ConvertField("-2147483649"), 214748364);
  EXPECT_EQ(ConvertField("99999999999999999999"), 999999999);
}

TEST(ConvertFieldTest, HexIsAThirtyTwoBitPatternAndStopsBeyondIt) {
  EXPECT_EQ(ConvertField("$FFFFFFFF"), -1);
  EXPECT_EQ(ConvertField("$80000000"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ConvertField("$123456789"), 0x12345678);
  EXPECT_EQ(ConvertField("0xFFFFFFFFFFFFFFFF"), -1);
}

// ---- ParseReplyValues ----

TEST(ParseReplyValuesTest, TwoFieldReplyGivesBothValues) {
  EXPECT_EQ(ParseReplyValues("00001 00002\r\n"), (std::vector<uint16_t>{1, 2}));
}

TEST(ParseReplyValuesTest, FieldWithTrailingLetterGivesTheDigitsBeforeIt) {
  EXPECT_EQ(ParseReplyValues("0012a\r\n"), (std::vector<uint16_t>{12}));
}

TEST(ParseReplyValuesTest, NegativeFieldKeepsItsLowSixteenBits) {
  const std::vector<uint16_t> values = ParseReplyValues(" -123\r\n");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0], 65413);
  EXPECT_EQ(FormatValue(values[0], false), "-123");
}

TEST(ParseReplyValuesTest, DollarFieldIsHexadecimal) {
  EXPECT_EQ(ParseReplyValues("$00FF\r\n"), (std::vector<uint16_t>{255}));
}

TEST(ParseReplyValuesTest, ValuesBeyondSixteenBitsKeepTheLowBits) {
  EXPECT_EQ(ParseReplyValues("65535 65536 70000\r\n"), (std::vector<uint16_t>{65535, 0, 4464}));
}

TEST(ParseReplyValuesTest, SeparatorBytesAreNeverExamined) {
  EXPECT_EQ(ParseReplyValues("00001X00002Y"), (std::vector<uint16_t>{1, 2}));
}

TEST(ParseReplyValuesTest, LargestReplyGivesThreeHundredFortyOneValues) {
  std::string reply;
  for (int k = 0; k < 341; ++k) reply += (k % 2 == 0 ? "00007 " : "65535 ");
  reply += "\r\n";
  ASSERT_EQ(reply.size(), 2048u);
  const std::vector<uint16_t> values = ParseReplyValues(reply);
  ASSERT_EQ(values.size(), 341u);
  EXPECT_EQ(values.front(), 7);
  EXPECT_EQ(values[1], 65535);
  EXPECT_EQ(values.back(), 7);
}

TEST(ParseReplyValuesTest, EmptyAndShortTextsGiveNoValues) {
  EXPECT_TRUE(ParseReplyValues("").empty());
  EXPECT_TRUE(ParseReplyValues("\n").empty());
  EXPECT_TRUE(ParseReplyValues("00001").empty());
}

TEST(ParseReplyValuesTest, IncompleteLastFieldIsDropped) {
  EXPECT_EQ(ParseReplyValues("00001 0000"), (std::vector<uint16_t>{1}));
}

TEST(ParseReplyValuesTest, TextEndsAtTheFirstNul) {
  const std::string reply("00001 00002 \0\x30\x30\x30\x30\x33 ", 18);
  EXPECT_EQ(ParseReplyValues(reply), (std::vector<uint16_t>{1, 2}));
}

// Under the address sanitizer any read outside the text fails this test.
TEST(ParseReplyValuesTest, RandomBytesGiveOneValuePerSixBytesBeforeTheFirstNul) {
  std::mt19937 random(20040110);
  std::uniform_int_distribution<int> length(0, 2100);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> withNul(0, 7);
  for (int round = 0; round < 100000; ++round) {
    std::string text(static_cast<size_t>(length(random)), '\0');
    const bool nulAllowed = withNul(random) == 0;
    for (char& c : text) {
      int b = byte(random);
      if (!nulAllowed && b == 0) b = ' ';
      c = static_cast<char>(b);
    }
    const size_t end = std::min(text.find('\0'), text.size());
    // An exact-size heap copy, so that a read one byte past the end is caught.
    const std::vector<char> exact(text.begin(), text.end());
    const std::vector<uint16_t> values =
        ParseReplyValues(std::string_view(exact.data(), exact.size()));
    ASSERT_EQ(values.size(), end / 6) << "round " << round;
  }
}

// ---- FormatValue ----

TEST(FormatValueTest, UnsignedShowsZeroToSixtyFiveThousandFiveHundredThirtyFive) {
  EXPECT_EQ(FormatValue(0, true), "0");
  EXPECT_EQ(FormatValue(65535, true), "65535");
  EXPECT_EQ(FormatValue(40000, true), "40000");
}

TEST(FormatValueTest, SignedShowsTheSlotAsSixteenBitTwosComplement) {
  EXPECT_EQ(FormatValue(65535, false), "-1");
  EXPECT_EQ(FormatValue(40000, false), "-25536");
  EXPECT_EQ(FormatValue(32767, false), "32767");
  EXPECT_EQ(FormatValue(32768, false), "-32768");
  EXPECT_EQ(FormatValue(7, false), "7");
}

}  // namespace
