#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/sim/loopback_client.h"
#include "tools/sim/controller_simulator.h"

namespace {

using namespace std::chrono_literals;

// Bound for an answer that must come; generous because a loaded machine may be slow.
constexpr auto kAnswerBound = 3000ms;
// Bound for showing that no answer comes.
constexpr auto kSilenceBound = 300ms;
const std::string kNothing = "(nothing)";

const std::string kReadEight = "RDS DM00100 8\r\n";
const std::string kReplyEight = "16684 20783 24882 28981 33080 37179 41278 45377\r\n";

class LoopbackAnswerTest : public ::testing::Test {
 protected:
  void StartSimulator(Fault fault = {}, ValuePattern pattern = {}) {
    SimulatorOptions options;
    options.port = 0;
    options.fault = fault;
    options.pattern = pattern;
    simulator_ = std::make_unique<ControllerSimulator>(options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    ASSERT_NE(simulator_->Port(), 0);
    ASSERT_TRUE(client_.Valid());
  }

  void Send(const std::string& bytes) {
    ASSERT_TRUE(client_.SendToLoopback(simulator_->Port(), bytes));
  }

  // The bytes of the next datagram, or kNothing when none came within the bound.
  std::string Next(std::chrono::milliseconds bound = kAnswerBound) {
    const auto datagram = client_.Receive(bound);
    return datagram ? datagram->bytes : kNothing;
  }

  std::unique_ptr<ControllerSimulator> simulator_;
  LoopbackClient client_;
};

TEST_F(LoopbackAnswerTest, EachDatagramIsAnsweredFromSimulatorPortAndRecorded) {
  StartSimulator();
  Send(kReadEight);
  const auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, kReplyEight);
  EXPECT_EQ(reply->fromAddress, "127.0.0.1");
  EXPECT_EQ(reply->fromPort, simulator_->Port());

  const std::string odd("\x01RDS\r\n\0x", 8);
  for (const std::string& malformed : {odd, std::string(), std::string("RDS DM00100 9\r\n")}) {
    Send(malformed);
    EXPECT_EQ(Next(), "E1\r\n");
  }
  Send("RDS TM-0005 2\r\n");
  EXPECT_EQ(Next(), ControllerProtocol::BuildReply({ControllerProtocol::ValueOf({}, 1, -5, 0),
                                                    ControllerProtocol::ValueOf({}, 1, -4, 0)}));
  // A command is counted once its answer has left, so the reply count is settled by then.
  ASSERT_TRUE(simulator_->WaitForCommands(5, kAnswerBound));
  EXPECT_EQ(simulator_->CommandCount(), 5u);
  EXPECT_EQ(simulator_->RepliesSent(), 5u);
  EXPECT_EQ(
      simulator_->ReceivedCommands(),
      (std::vector<std::string>{kReadEight, odd, "", "RDS DM00100 9\r\n", "RDS TM-0005 2\r\n"}));
}

TEST_F(LoopbackAnswerTest, CounterPatternMovesOnWithEachCommand) {
  StartSimulator({}, ValuePattern{ValuePattern::Kind::kCounter, 0});
  Send("RDS DM00008 1\r\n");
  EXPECT_EQ(Next(), "32792\r\n");
  Send("RDS DM00008 1\r\n");
  EXPECT_EQ(Next(), "32793\r\n");
}

TEST_F(LoopbackAnswerTest, SilentFaultAnswersNothingUntilChangedAtRunTime) {
  StartSimulator(Fault{Fault::Kind::kSilent, 0});
  Send(kReadEight);
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  EXPECT_EQ(Next(kSilenceBound), kNothing);
  EXPECT_EQ(simulator_->RepliesSent(), 0u);
  simulator_->SetFault(Fault{});
  Send(kReadEight);
  EXPECT_EQ(Next(), kReplyEight);
}

TEST_F(LoopbackAnswerTest, TwiceFaultSendsTwoEqualAnswers) {
  StartSimulator(Fault{Fault::Kind::kTwice, 0});
  Send(kReadEight);
  EXPECT_EQ(Next(), kReplyEight);
  EXPECT_EQ(Next(), kReplyEight);
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  EXPECT_EQ(simulator_->RepliesSent(), 2u);
}

TEST_F(LoopbackAnswerTest, BadLengthFaultAnswersOneByteShort) {
  StartSimulator(Fault{Fault::Kind::kBadLength, 0});
  Send(kReadEight);
  EXPECT_EQ(Next(), kReplyEight.substr(0, 48));
}

TEST_F(LoopbackAnswerTest, AltAddressFaultAnswersFromSecondAddress) {
  StartSimulator(Fault{Fault::Kind::kAltAddress, 0});
  Send(kReadEight);
  const auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->fromAddress, "127.0.0.2");
  EXPECT_EQ(reply->fromPort, simulator_->AltPort());
  EXPECT_EQ(reply->bytes, kReplyEight);
}

TEST_F(LoopbackAnswerTest, DelayFaultAnswersNoEarlierThanTheDelay) {
  StartSimulator(Fault{Fault::Kind::kDelay, 200});
  const auto sentAt = std::chrono::steady_clock::now();
  Send("RDS DM00001 1\r\n");
  Send("RDS DM00002 1\r\n");
  EXPECT_EQ(Next(), "04099\r\n");
  // Only a lower bound: the answer cannot leave before the delay, however slow the machine.
  EXPECT_GE(std::chrono::steady_clock::now() - sentAt, 200ms);
  EXPECT_EQ(Next(), "08198\r\n");
}

TEST_F(LoopbackAnswerTest, DropFaultLeavesEveryNthUnanswered) {
  StartSimulator(Fault{Fault::Kind::kDrop, 2});
  for (const char* command : {"RDS DM00001 1\r\n", "RDS DM00002 1\r\n", "RDS DM00003 1\r\n"}) {
    Send(command);
  }
  ASSERT_TRUE(simulator_->WaitForCommands(3, kAnswerBound));
  EXPECT_EQ(Next(), "04099\r\n");
  EXPECT_EQ(Next(), "12297\r\n");
  EXPECT_EQ(Next(kSilenceBound), kNothing);
}

TEST_F(LoopbackAnswerTest, UnsolicitedFaultSendsExtraDatagramsOnlyAfterARequest) {
  StartSimulator(Fault{Fault::Kind::kUnsolicited, 20});
  EXPECT_EQ(Next(kSilenceBound), kNothing);
  EXPECT_EQ(simulator_->UnsolicitedSent(), 0u);
  Send(kReadEight);
  EXPECT_EQ(Next(), kReplyEight);
  const auto extra = client_.Receive(kAnswerBound);
  ASSERT_TRUE(extra);
  EXPECT_EQ(extra->bytes, "00000\r\n");
  EXPECT_EQ(extra->fromPort, simulator_->Port());
  EXPECT_GE(simulator_->UnsolicitedSent(), 1u);
}

TEST_F(LoopbackAnswerTest, UnsolicitedFaultSwitchedOnAndOffAtRunTime) {
  StartSimulator();
  Send(kReadEight);
  EXPECT_EQ(Next(), kReplyEight);
  simulator_->SetFault(Fault{Fault::Kind::kUnsolicited, 20});
  EXPECT_EQ(Next(), "00000\r\n");
  simulator_->SetFault(Fault{});
  // Whatever was sent before the switch comes before the answer; nothing comes after it.
  Send("RDS DM00001 1\r\n");
  std::string datagram = Next();
  while (datagram == "00000\r\n") datagram = Next();
  EXPECT_EQ(datagram, "04099\r\n");
  const size_t sent = simulator_->UnsolicitedSent();
  EXPECT_EQ(Next(kSilenceBound), kNothing);
  EXPECT_EQ(simulator_->UnsolicitedSent(), sent);
}

TEST_F(LoopbackAnswerTest, SendUnsolicitedReachesOnlyLoopbackPeers) {
  StartSimulator();
  std::string error;
  EXPECT_FALSE(simulator_->SendUnsolicited("192.0.2.1", 9, "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(simulator_->SendUnsolicited("not-an-address", 9, "x"));
  EXPECT_EQ(simulator_->UnsolicitedSent(), 0u);
  ASSERT_TRUE(simulator_->SendUnsolicited("127.0.0.1", client_.Port(), "00042\r\n"));
  const auto datagram = client_.Receive(kAnswerBound);
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, "00042\r\n");
  EXPECT_EQ(datagram->fromPort, simulator_->Port());
}

TEST_F(LoopbackAnswerTest, StopDropsDelayedAnswersAndRefusesLaterSends) {
  StartSimulator(Fault{Fault::Kind::kDelay, 60000});
  EXPECT_FALSE(simulator_->WaitForCommands(1, 50ms));
  Send(kReadEight);
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  EXPECT_FALSE(simulator_->Start(nullptr));
  simulator_->Stop();
  simulator_->Stop();
  EXPECT_FALSE(simulator_->Running());
  EXPECT_EQ(simulator_->RepliesSent(), 0u);
  EXPECT_FALSE(simulator_->SendUnsolicited("127.0.0.1", client_.Port(), "x"));
}

TEST(SimulatorStartTest, NonLoopbackBindIsRefused) {
  SimulatorOptions options;
  options.port = 0;
  options.bindAddress = "192.0.2.1";
  ControllerSimulator simulator(options);
  std::string error;
  EXPECT_FALSE(simulator.Start(&error));
  EXPECT_NE(error.find("127.0.0.0/8"), std::string::npos);
}

}  // namespace
