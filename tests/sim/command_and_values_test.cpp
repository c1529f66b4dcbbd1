#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/sim/controller_simulator.h"

namespace {

using Sim = ControllerProtocol;

const ValuePattern kAddress{ValuePattern::Kind::kAddress, 0};
const ValuePattern kCounter{ValuePattern::Kind::kCounter, 0};

TEST(ParseCommandTest, WellFormedCommandsGiveKindFirstAndCount) {
  struct Case {
    std::string bytes;
    int kind;
    int32_t first;
    int count;
  };
  for (const Case& c : {Case{"RDS DM00100 8\r\n", 0, 100, 8}, Case{"RDS TM00007 3\r\n", 1, 7, 3},
                        Case{"RDS DM-0000 1\r\n", 0, 0, 1}, Case{"RDS DM-0012 2\r\n", 0, -12, 2},
                        Case{"RDS DM99999 1\r\n", 0, 99999, 1}}) {
    SCOPED_TRACE(c.bytes);
    int kind = -1, count = -1;
    int32_t first = -1;
    ASSERT_TRUE(Sim::ParseCommand(c.bytes, kind, first, count));
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(count, c.count);
  }
}

TEST(ParseCommandTest, MalformedCommandsAreRejected) {
  for (const std::string& command :
       {std::string(), std::string("RDS DM00100 8\r"), std::string("RDS DM00100 8\r\n\n"),
        std::string("RDX DM00100 8\r\n"), std::string("rds DM00100 8\r\n"),
        std::string("RDS   00100 8\r\n"), std::string("RDS XM00100 8\r\n"),
        std::string("RDS DM0010a 8\r\n"), std::string("RDS DM 0100 8\r\n"),
        std::string("RDS DM00-10 8\r\n"), std::string("RDS DM00100 0\r\n"),
        std::string("RDS DM00100 9\r\n"), std::string("RDS DM00100 a\r\n"),
        std::string("RDS DM00100-8\r\n"), std::string("RDS DM00100 8\n\r"),
        std::string("RDS DM00100 8\0\n", 15)}) {
    int kind = -1, count = -1;
    int32_t first = -1;
    EXPECT_FALSE(Sim::ParseCommand(command, kind, first, count)) << '"' << command << '"';
  }
}

TEST(BuildReplyTest, FieldsAreFiveDigitsBlankSeparatedEndingInCrLf) {
  EXPECT_EQ(Sim::BuildReply({1, 2}), "00001 00002\r\n");
  EXPECT_EQ(Sim::BuildReply({0}), "00000\r\n");
  EXPECT_EQ(Sim::BuildReply({65535}), "65535\r\n");
}

TEST(BuildReplyTest, ReplyOfNValuesHasSixNPlusOneBytes) {
  for (size_t n = 1; n <= 8; ++n) {
    SCOPED_TRACE(n);
    const std::string reply = Sim::BuildReply(std::vector<uint16_t>(n, 40000));
    ASSERT_EQ(reply.size(), 6 * n + 1);
    for (size_t k = 0; k < n; ++k) {
      EXPECT_EQ(reply.substr(6 * k, 5), "40000");
      EXPECT_EQ(reply[6 * k + 5], k + 1 < n ? ' ' : '\r');
    }
    EXPECT_EQ(reply.back(), '\n');
  }
}

TEST(ValueOfTest, PatternsFollowTheirFormulas) {
  struct Case {
    ValuePattern pattern;
    int kind;
    int32_t device;
    uint64_t answers;
    long long expected;
  };
  const ValuePattern constant{ValuePattern::Kind::kConstant, 65535};
  for (const Case& c : {
           Case{kAddress, 0, 0, 0, 0},
           Case{kAddress, 0, 100, 0, 16684},
           Case{kAddress, 1, 100, 0, 17684},
           Case{kAddress, 0, 8, 0, 32792},
           Case{kAddress, 0, 99999, 0, (99999LL * 4099) % 65536},
           // A negative device still gives a non-negative remainder.
           Case{kAddress, 0, -5, 0, 45041},
           Case{kAddress, 1, -9999, 0, ((-9999LL * 4099 + 1000) % 65536 + 65536) % 65536},
           Case{kCounter, 0, 8, 1, 32793},
           Case{kCounter, 0, 8, 40000, (32792 + 40000) % 65536},
           Case{kCounter, 0, 8, 65536 * 3 + 2, 32794},
           Case{constant, 1, -5, 17, 65535},
       }) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.pattern.kind) << ' ' << c.kind << ' '
                                      << c.device << ' ' << c.answers);
    EXPECT_EQ(Sim::ValueOf(c.pattern, c.kind, c.device, c.answers), c.expected);
  }
}

TEST(AnswerToTest, ValidCommandsGetTheirValuesAndAnythingElseTheErrorAnswer) {
  struct Case {
    std::string command;
    ValuePattern pattern;
    uint64_t answers;
    std::string reply;
    bool valid;
  };
  for (const Case& c : {
           Case{"RDS DM00100 2\r\n", kAddress, 9, "16684 20783\r\n", true},
           Case{"RDS TM00100 1\r\n", kCounter, 3, "17687\r\n", true},
           Case{"RDS DM-0005 1\r\n", kAddress, 0, "45041\r\n", true},
           Case{"RDS DM00100 9\r\n", kAddress, 0, "E1\r\n", false},
           Case{"RDS DM00100 2\n", kAddress, 0, "E1\r\n", false},
           Case{"", kAddress, 0, "E1\r\n", false},
       }) {
    SCOPED_TRACE(c.command);
    bool valid = !c.valid;
    EXPECT_EQ(Sim::AnswerTo(c.command, c.pattern, c.answers, &valid), c.reply);
    EXPECT_EQ(valid, c.valid);
  }
}

TEST(ValueOfTest, DefaultDemoReadShowsValuesAboveAndBelowHalfRange) {
  int high = 0;
  for (int32_t device = 100; device < 108; ++device) {
    if (Sim::ValueOf(kAddress, 0, device, 0) >= 32768) ++high;
  }
  EXPECT_GT(high, 0);
  EXPECT_LT(high, 8);
}

TEST(ParseOptionTextTest, PatternsAndFaultsAreRecognised) {
  ValuePattern pattern;
  ASSERT_TRUE(Sim::ParsePattern("counter", &pattern));
  EXPECT_EQ(pattern.kind, ValuePattern::Kind::kCounter);
  ASSERT_TRUE(Sim::ParsePattern("constant:40000", &pattern));
  EXPECT_EQ(pattern.kind, ValuePattern::Kind::kConstant);
  EXPECT_EQ(pattern.constant, 40000);
  ASSERT_TRUE(Sim::ParsePattern("address", &pattern));
  EXPECT_EQ(pattern.kind, ValuePattern::Kind::kAddress);

  struct Case {
    const char* text;
    Fault::Kind kind;
    int parameter;
  };
  for (const Case& c :
       {Case{"delay:250", Fault::Kind::kDelay, 250},
        Case{"unsolicited:100", Fault::Kind::kUnsolicited, 100},
        Case{"drop:3", Fault::Kind::kDrop, 3}, Case{"late:60", Fault::Kind::kLateCopy, 60},
        Case{"altaddress", Fault::Kind::kAltAddress, 0}}) {
    SCOPED_TRACE(c.text);
    Fault fault;
    ASSERT_TRUE(Sim::ParseFault(c.text, &fault));
    EXPECT_EQ(fault.kind, c.kind);
    EXPECT_EQ(fault.parameter, c.parameter);
  }
}

TEST(ParseOptionTextTest, BadPatternsAndFaultsAreRejected) {
  ValuePattern pattern;
  for (const char* text :
       {"", "constant:", "constant:65536", "constant:-1", "constant:1x", "Address", "random"}) {
    EXPECT_FALSE(Sim::ParsePattern(text, &pattern)) << text;
  }
  Fault fault;
  // A zero period would make the unsolicited sender spin.
  for (const char* text : {"", "delay", "delay:", "delay:-5", "delay:1.5", "unsolicited:0",
                           "drop:0", "late:0", "twice:2", "loud", "delay:99999999999"}) {
    EXPECT_FALSE(Sim::ParseFault(text, &fault)) << text;
  }
}

TEST(LoopbackAddressTest, OnlyTheWholeLoopbackNetworkCounts) {
  EXPECT_TRUE(ControllerSimulator::IsLoopbackAddress("127.0.0.1"));
  EXPECT_TRUE(ControllerSimulator::IsLoopbackAddress("127.255.0.2"));
  for (const char* address : {"128.0.0.1", "10.0.0.1", "0.0.0.0", "localhost", "127.0.0"}) {
    EXPECT_FALSE(ControllerSimulator::IsLoopbackAddress(address)) << address;
  }
}

}  // namespace
