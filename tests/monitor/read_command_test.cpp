#include "monitor/read_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(BuildReadCommandTest, FieldsAreCutToTheirFixedWidthsOfFifteenBytes) {
  struct Case {
    uint8_t kind;
    int32_t first, count;
    std::string expected;
  };
  for (const Case& c :
       {Case{0, 100, 8, "RDS DM00100 8\r\n"}, Case{1, 7, 3, "RDS TM00007 3\r\n"},
        Case{5, 10, 8, "RDS   00010 8\r\n"},  // unknown kinds give two blanks for the code
        Case{255, 0, 1, "RDS   00000 1\r\n"},
        Case{0, 123456, 1, "RDS DM12345 1\r\n"},  // first five characters of the number
        Case{0, -5, 1, "RDS DM-0000 1\r\n"},      // sign and four of the padded digits
        Case{0, kMax, 8, "RDS DM21474 8\r\n"}, Case{0, kMin, 8, "RDS DM-2147 8\r\n"},
        Case{0, 0, 0, "RDS DM00000 0\r\n"},  // the count field is its first character
        Case{0, 0, 12, "RDS DM00000 1\r\n"}, Case{0, 0, -3, "RDS DM00000 -\r\n"}}) {
    const ReadCommand command = BuildReadCommand(c.kind, c.first, c.count);
    EXPECT_EQ(std::string(command.begin(), command.end()), c.expected)
        << int{c.kind} << ' ' << c.first << ' ' << c.count;
  }
}

TEST(DeviceCodeTest, OnlyKindsZeroAndOneHaveACode) {
  EXPECT_STREQ(DeviceCode(0), "DM");
  EXPECT_STREQ(DeviceCode(1), "TM");
  EXPECT_EQ(DeviceCode(2), nullptr);
  EXPECT_EQ(DeviceCode(255), nullptr);
}

TEST(FormatDeviceNumberTest, PadsToFiveDigitsAndKeepsAllDigits) {
  EXPECT_EQ(FormatDeviceNumber(99), "00099");
  EXPECT_EQ(FormatDeviceNumber(123456), "123456");
  EXPECT_EQ(FormatDeviceNumber(-3), "-00003");
  EXPECT_EQ(FormatDeviceNumber(2147483648), "2147483648");
  EXPECT_EQ(FormatDeviceNumber(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(ReplyLengthValidTest, OneMoreThanAMultipleOfSixPasses) {
  // 2147483646 = 6 * 357913941; INT32_MIN - 1 = -(6 * 357913941 + 3): neither may overflow.
  // Signed arithmetic: -5 - 1 = -6 and -11 - 1 = -12 are multiples of six and pass; unsigned
  // arithmetic or a sign test of its own would refuse them.
  for (const int32_t n : {1, 7, 13, 2047, kMax, -5, -11}) EXPECT_TRUE(ReplyLengthValid(n)) << n;
  for (const int32_t n : {4, 0, -1, -2, -4, -6, -10, 2048, kMin}) {
    EXPECT_FALSE(ReplyLengthValid(n)) << n;
  }
}

// Only what a controller writes passes: one field per six bytes, decimal, blanks between the
// fields, CR LF after the last.
TEST(ReplyWellFormedTest, ExactlyTheControllersLayout) {
  using namespace std::string_literals;
  for (const std::string& reply :
       {"00001\r\n"s, "00001 65535 00300\r\n"s, "   -1 +0012     7\r\n"s}) {
    EXPECT_TRUE(ReplyWellFormed(reply)) << reply;
  }
  for (const std::string& reply :
       {""s, "\r\n"s, "E1\r\n"s, "0001\r\n"s, "00001\r\r"s, "00001\n\n"s, "00001 00002\n\r"s,
        "00001,00002\r\n"s, "0000a\r\n"s, "$00FF\r\n"s, "     \r\n"s, "   - \r\n"s, "0 001\r\n"s,
        "00\0"
        "01\r\n"s,
        "00001 00002\r\n "s}) {
    EXPECT_FALSE(ReplyWellFormed(reply)) << reply;
  }
}

TEST(ConvertFieldTest, DecimalOrPrefixedHexWithStopsAndOverflowRules) {
  struct Case {
    std::string field;
    int32_t expected;
  };
  for (const Case& c :
       {Case{"", 0}, Case{"     ", 0}, Case{" -123", -123}, Case{"  +42", 42}, Case{"00012", 12},
        Case{"\t12", 0},  // only blanks are skipped
        // A non-digit stops the conversion and loses the sign.
        Case{"0012a", 12}, Case{"-12a", 12}, Case{"12.34", 12}, Case{"-123 ", 123}, Case{"--5", 0},
        Case{"-", 0}, Case{"$00FF", 255}, Case{"x1f", 31}, Case{"X1F", 31}, Case{"0x7fF", 2047},
        Case{"  0X10", 16}, Case{"$12g4", 0x12}, Case{"$", 0}, Case{"-$10", 0}, Case{"+0x10", 0},
        Case{"-0x10", 0},  // no hex after a sign
        // The digit that would pass the signed range stops; the magnitude so far is kept.
        Case{"2147483647", kMax}, Case{"-2147483648", kMin}, Case{"2147483648", 214748364},
        Case{"-2147483649", 214748364}, Case{"99999999999999999999", 999999999},
        // Hex is a 32-bit pattern and stops beyond it.
        Case{"$FFFFFFFF", -1}, Case{"$80000000", kMin}, Case{"$123456789", 0x12345678},
        Case{"0xFFFFFFFFFFFFFFFF", -1}}) {
    EXPECT_EQ(ConvertField(c.field), c.expected) << '"' << c.field << '"';
  }
}

TEST(ParseReplyValuesTest, EachSixBytesGiveTheLowSixteenBitsOfOneField) {
  struct Case {
    std::string reply;
    std::vector<uint16_t> expected;
  };
  for (const Case& c : {
           Case{"00001 00002\r\n", {1, 2}}, Case{"0012a\r\n", {12}}, Case{" -123\r\n", {65413}},
           Case{"$00FF\r\n", {255}}, Case{"65535 65536 70000\r\n", {65535, 0, 4464}},
           Case{"00001X00002Y", {1, 2}},  // separator bytes are never examined
           Case{"", {}}, Case{"\n", {}}, Case{"00001", {}}, Case{"00001 0000", {1}},
           Case{std::string("00001 00002 \0\x30\x30\x30\x30\x33 ", 18), {1, 2}},  // ends at NUL
       }) {
    EXPECT_EQ(ParseReplyValues(c.reply), c.expected) << '"' << c.reply << '"';
  }
}

TEST(ParseReplyValuesTest, LargestReplyGivesThreeHundredFortyOneValues) {
  std::string reply;
  for (int k = 0; k < 341; ++k) reply += (k % 2 == 0 ? "00007 " : "65535 ");
  reply += "\r\n";
  ASSERT_EQ(reply.size(), 2048u);
  const std::vector<uint16_t> values = ParseReplyValues(reply);
  ASSERT_EQ(values.size(), 341u);
  EXPECT_EQ(values[0], 7);
  EXPECT_EQ(values[1], 65535);
  EXPECT_EQ(values[340], 7);
}

// Under the address sanitizer any read outside the text fails this test.
TEST(ParseReplyValuesTest, RandomBytesGiveOneValuePerSixBytesBeforeTheFirstNul) {
  std::mt19937 random(20040110);
  std::uniform_int_distribution<int> length(0, 2100);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 20000; ++round) {
    // An exact-size heap buffer, so that a read one byte past the end is caught.
    std::vector<char> text(static_cast<size_t>(length(random)));
    const bool nulAllowed = round % 8 == 0;
    for (char& c : text) {
      const int b = byte(random);
      c = static_cast<char>(b == 0 && !nulAllowed ? ' ' : b);
    }
    const auto end = static_cast<size_t>(std::find(text.begin(), text.end(), '\0') - text.begin());
    ASSERT_EQ(ParseReplyValues(std::string_view(text.data(), text.size())).size(), end / 6)
        << "round " << round;
  }
}

// Mostly digits, now and then a blank, sign, prefix or letter: every value is the field's
// conversion, whichever way the parser took.
TEST(ParseReplyValuesTest, EveryValueIsItsFieldsConversion) {
  std::mt19937 random(20040111);
  const std::string alphabet = "0123456789012345678901234567890123456789 -+$xXaF";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string reply = "0x01F 0X0ff 12a45 -0012 00000 ";
  for (int k = 5; k < 300; ++k) {
    for (int i = 0; i < 5; ++i) reply += alphabet[pick(random)];
    reply += ' ';
  }
  const std::vector<uint16_t> values = ParseReplyValues(reply);
  ASSERT_EQ(values.size(), 300u);
  for (size_t k = 0; k < values.size(); ++k) {
    const std::string_view field = std::string_view(reply).substr(6 * k, 5);
    EXPECT_EQ(values[k], static_cast<uint16_t>(ConvertField(field))) << '"' << field << '"';
  }
}

TEST(FormatValueTest, UnsignedOrSixteenBitTwosComplement) {
  struct Case {
    uint16_t slot;
    bool unsignedValue;
    std::string expected;
  };
  for (const Case& c :
       {Case{0, true, "0"}, Case{65535, true, "65535"}, Case{40000, true, "40000"},
        Case{65535, false, "-1"}, Case{40000, false, "-25536"}, Case{32767, false, "32767"},
        Case{32768, false, "-32768"}, Case{65413, false, "-123"}, Case{7, false, "7"}}) {
    EXPECT_EQ(FormatValue(c.slot, c.unsignedValue), c.expected) << c.slot << ' ' << c.unsignedValue;
  }
}

}  // namespace
