#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/sim/controller_simulator.h"

namespace {

const ValuePattern kAddress{ValuePattern::Kind::kAddress, 0};
const ValuePattern kCounter{ValuePattern::Kind::kCounter, 0};

struct Parsed {
  int kind = -1;
  int32_t first = -1;
  int count = -1;
};

bool Parse(const std::string& bytes, Parsed* parsed) {
  return ControllerSimulator::ParseCommand(bytes, parsed->kind, parsed->first, parsed->count);
}

TEST(ParseCommandTest, DataMemoryCommandGivesKindFirstAndCount) {
  Parsed parsed;
  ASSERT_TRUE(Parse("RDS DM00100 8\r\n", &parsed));
  EXPECT_EQ(parsed.kind, 0);
  EXPECT_EQ(parsed.first, 100);
  EXPECT_EQ(parsed.count, 8);
}

TEST(ParseCommandTest, TemporaryMemoryCommandGivesKindOne) {
  Parsed parsed;
  ASSERT_TRUE(Parse("RDS TM00007 3\r\n", &parsed));
  EXPECT_EQ(parsed.kind, 1);
  EXPECT_EQ(parsed.first, 7);
  EXPECT_EQ(parsed.count, 3);
}

TEST(ParseCommandTest, MinusFieldGivesNegativeOrZeroDevice) {
  Parsed parsed;
  ASSERT_TRUE(Parse("RDS DM-0000 1\r\n", &parsed));
  EXPECT_EQ(parsed.first, 0);
  ASSERT_TRUE(Parse("RDS DM-0012 2\r\n", &parsed));
  EXPECT_EQ(parsed.first, -12);
}

TEST(ParseCommandTest, LargestFieldIsFiveDigits) {
  Parsed parsed;
  ASSERT_TRUE(Parse("RDS DM99999 1\r\n", &parsed));
  EXPECT_EQ(parsed.first, 99999);
}

TEST(ParseCommandTest, MalformedCommandsAreRejected) {
  const std::vector<std::string> malformed = {
      "",
      "RDS DM00100 8\r",      // 14 bytes
      "RDS DM00100 8\r\n\n",  // 16 bytes
      "RDX DM00100 8\r\n",    // prefix
      "rds DM00100 8\r\n",    // prefix is case-sensitive
      "RDS   00100 8\r\n",    // no device code
      "RDS XM00100 8\r\n",    // unknown device code
      "RDS DM0010a 8\r\n",    // letter in the number
      "RDS DM 0100 8\r\n",    // blank in the number
      "RDS DM00-10 8\r\n",    // minus not in front
      "RDS DM00100 0\r\n",    // count 0
      "RDS DM00100 9\r\n",    // count 9
      "RDS DM00100 a\r\n",    // count not a digit
      "RDS DM00100-8\r\n",    // separator
      "RDS DM00100 8\n\r",    // line end reversed
      std::string("RDS DM00100 8\0\n", 15),
  };
  for (const std::string& command : malformed) {
    Parsed parsed;
    EXPECT_FALSE(Parse(command, &parsed)) << '"' << command << '"';
  }
}

TEST(BuildReplyTest, TwoValuesAreBlankSeparatedAndEndInCrLf) {
  EXPECT_EQ(ControllerSimulator::BuildReply({1, 2}), "00001 00002\r\n");
}

TEST(BuildReplyTest, ExtremesFillFiveDigits) {
  EXPECT_EQ(ControllerSimulator::BuildReply({0}), "00000\r\n");
  EXPECT_EQ(ControllerSimulator::BuildReply({65535}), "65535\r\n");
}

TEST(BuildReplyTest, ReplyOfNValuesHasSixNPlusOneBytes) {
  for (size_t n = 1; n <= 8; ++n) {
    const std::vector<uint16_t> values(n, 40000);
    const std::string reply = ControllerSimulator::BuildReply(values);
    ASSERT_EQ(reply.size(), 6 * n + 1);
    for (size_t k = 0; k < n; ++k) {
      EXPECT_EQ(reply.substr(6 * k, 5), "40000");
      EXPECT_EQ(reply[6 * k + 5], k + 1 < n ? ' ' : '\r');
    }
    EXPECT_EQ(reply.back(), '\n');
  }
}

TEST(ValueOfTest, AddressPatternFollowsFormula) {
  EXPECT_EQ(ControllerSimulator::ValueOf(kAddress, 0, 0, 0), 0);
  EXPECT_EQ(ControllerSimulator::ValueOf(kAddress, 0, 100, 0), 16684);
  EXPECT_EQ(ControllerSimulator::ValueOf(kAddress, 1, 100, 0), 17684);
  EXPECT_EQ(ControllerSimulator::ValueOf(kAddress, 0, 99999, 0), (99999LL * 4099) % 65536);
}

TEST(ValueOfTest, SomeDeviceGivesValueOfHalfRangeOrMore) {
  EXPECT_EQ(ControllerSimulator::ValueOf(kAddress, 0, 8, 0), 32792);
  int high = 0;
  for (int32_t device = 100; device < 108; ++device) {
    if (ControllerSimulator::ValueOf(kAddress, 0, device, 0) >= 32768) ++high;
  }
  // The default demo read of DM100..107 shows signed and unsigned logging apart.
  EXPECT_GT(high, 0);
  EXPECT_LT(high, 8);
}

TEST(ValueOfTest, NegativeDeviceGivesNonNegativeRemainder) {
  EXPECT_EQ(ControllerSimulator::ValueOf(kAddress, 0, -5, 0), 45041);
  EXPECT_EQ(ControllerSimulator::ValueOf(kAddress, 1, -9999, 0),
            ((-9999LL * 4099 + 1000) % 65536 + 65536) % 65536);
}

TEST(ValueOfTest, CounterPatternAddsAnswerCountWithWrap) {
  EXPECT_EQ(ControllerSimulator::ValueOf(kCounter, 0, 8, 0), 32792);
  EXPECT_EQ(ControllerSimulator::ValueOf(kCounter, 0, 8, 1), 32793);
  EXPECT_EQ(ControllerSimulator::ValueOf(kCounter, 0, 8, 40000), (32792 + 40000) % 65536);
  EXPECT_EQ(ControllerSimulator::ValueOf(kCounter, 0, 8, 65536 * 3 + 2), 32794);
}

TEST(ValueOfTest, ConstantPatternIgnoresDeviceAndCount) {
  const ValuePattern constant{ValuePattern::Kind::kConstant, 65535};
  EXPECT_EQ(ControllerSimulator::ValueOf(constant, 0, 100, 0), 65535);
  EXPECT_EQ(ControllerSimulator::ValueOf(constant, 1, -5, 17), 65535);
}

TEST(ParseOptionTextTest, PatternsAreRecognised) {
  ValuePattern pattern;
  ASSERT_TRUE(ControllerSimulator::ParsePattern("counter", &pattern));
  EXPECT_EQ(pattern.kind, ValuePattern::Kind::kCounter);
  ASSERT_TRUE(ControllerSimulator::ParsePattern("constant:40000", &pattern));
  EXPECT_EQ(pattern.kind, ValuePattern::Kind::kConstant);
  EXPECT_EQ(pattern.constant, 40000);
  ASSERT_TRUE(ControllerSimulator::ParsePattern("address", &pattern));
  EXPECT_EQ(pattern.kind, ValuePattern::Kind::kAddress);
}

TEST(ParseOptionTextTest, BadPatternsAreRejected) {
  ValuePattern pattern;
  for (const char* text :
       {"", "constant:", "constant:65536", "constant:-1", "constant:1x", "Address", "random"}) {
    EXPECT_FALSE(ControllerSimulator::ParsePattern(text, &pattern)) << text;
  }
}

TEST(ParseOptionTextTest, FaultsWithParametersAreRecognised) {
  Fault fault;
  ASSERT_TRUE(ControllerSimulator::ParseFault("delay:250", &fault));
  EXPECT_EQ(fault.kind, Fault::Kind::kDelay);
  EXPECT_EQ(fault.parameter, 250);
  ASSERT_TRUE(ControllerSimulator::ParseFault("unsolicited:100", &fault));
  EXPECT_EQ(fault.kind, Fault::Kind::kUnsolicited);
  EXPECT_EQ(fault.parameter, 100);
  ASSERT_TRUE(ControllerSimulator::ParseFault("drop:3", &fault));
  EXPECT_EQ(fault.kind, Fault::Kind::kDrop);
  ASSERT_TRUE(ControllerSimulator::ParseFault("altaddress", &fault));
  EXPECT_EQ(fault.kind, Fault::Kind::kAltAddress);
}

TEST(ParseOptionTextTest, BadFaultsAreRejected) {
  Fault fault;
  // A zero period would make the unsolicited sender spin.
  for (const char* text : {"", "delay", "delay:", "delay:-5", "delay:1.5", "unsolicited:0",
                           "drop:0", "twice:2", "loud", "delay:99999999999"}) {
    EXPECT_FALSE(ControllerSimulator::ParseFault(text, &fault)) << text;
  }
}

TEST(LoopbackAddressTest, OnlyTheWholeLoopbackNetworkCounts) {
  EXPECT_TRUE(ControllerSimulator::IsLoopbackAddress("127.0.0.1"));
  EXPECT_TRUE(ControllerSimulator::IsLoopbackAddress("127.255.0.2"));
  EXPECT_FALSE(ControllerSimulator::IsLoopbackAddress("128.0.0.1"));
  EXPECT_FALSE(ControllerSimulator::IsLoopbackAddress("10.0.0.1"));
  EXPECT_FALSE(ControllerSimulator::IsLoopbackAddress("0.0.0.0"));
  EXPECT_FALSE(ControllerSimulator::IsLoopbackAddress("localhost"));
  EXPECT_FALSE(ControllerSimulator::IsLoopbackAddress("127.0.0"));
}

}  // namespace
