#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/sim/loopback_client.h"
#include "tools/sim/controller_simulator.h"

namespace {

using namespace std::chrono_literals;

// Bound for an answer that must come; generous because a loaded machine may be slow.
constexpr auto kAnswerBound = 3000ms;
// Bound for showing that no answer comes.
constexpr auto kSilenceBound = 300ms;

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

  std::unique_ptr<ControllerSimulator> simulator_;
  LoopbackClient client_;
};

TEST_F(LoopbackAnswerTest, ReadOfEightIsAnsweredFromSimulatorPort) {
  StartSimulator();
  Send(kReadEight);
  const auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.size(), 49u);
  EXPECT_EQ(reply->bytes, kReplyEight);
  EXPECT_EQ(reply->fromAddress, "127.0.0.1");
  EXPECT_EQ(reply->fromPort, simulator_->Port());
  // A command is counted once its answer has left, so the reply count is settled by then.
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  EXPECT_EQ(simulator_->RepliesSent(), 1u);
}

TEST_F(LoopbackAnswerTest, ReceivedCommandsHoldRawBytesInOrder) {
  StartSimulator();
  const std::string odd("\x01RDS\r\n\0x", 8);
  Send(kReadEight);
  Send(odd);
  ASSERT_TRUE(simulator_->WaitForCommands(2, kAnswerBound));
  const auto commands = simulator_->ReceivedCommands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], kReadEight);
  EXPECT_EQ(commands[1], odd);
  EXPECT_EQ(simulator_->CommandCount(), 2u);
}

TEST_F(LoopbackAnswerTest, MalformedCommandGetsFourByteErrorAnswer) {
  StartSimulator();
  Send("RDS DM00100 9\r\n");
  auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, "E1\r\n");
  Send("");
  reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, "E1\r\n");
}

TEST_F(LoopbackAnswerTest, NegativeFirstDeviceIsAnswered) {
  StartSimulator();
  Send("RDS TM-0005 2\r\n");
  const auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes,
            ControllerSimulator::BuildReply({ControllerSimulator::ValueOf({}, 1, -5, 0),
                                             ControllerSimulator::ValueOf({}, 1, -4, 0)}));
}

TEST_F(LoopbackAnswerTest, CounterPatternMovesOnWithEachCommand) {
  StartSimulator({}, ValuePattern{ValuePattern::Kind::kCounter, 0});
  Send("RDS DM00008 1\r\n");
  const auto first = client_.Receive(kAnswerBound);
  Send("RDS DM00008 1\r\n");
  const auto second = client_.Receive(kAnswerBound);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(first->bytes, "32792\r\n");
  EXPECT_EQ(second->bytes, "32793\r\n");
}

TEST_F(LoopbackAnswerTest, BurstOfCommandsIsAnsweredInFull) {
  StartSimulator();
  constexpr size_t kBurst = 200;
  for (size_t i = 0; i < kBurst; ++i) Send("RDS DM00008 1\r\n");
  ASSERT_TRUE(simulator_->WaitForCommands(kBurst, kAnswerBound));
  size_t answers = 0;
  while (answers < kBurst) {
    const auto reply = client_.Receive(kAnswerBound);
    if (!reply) break;
    EXPECT_EQ(reply->bytes, "32792\r\n");
    ++answers;
  }
  EXPECT_EQ(answers, kBurst);
  EXPECT_EQ(simulator_->RepliesSent(), kBurst);
}

TEST_F(LoopbackAnswerTest, SilentFaultAnswersNothing) {
  StartSimulator(Fault{Fault::Kind::kSilent, 0});
  Send(kReadEight);
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  EXPECT_FALSE(client_.Receive(kSilenceBound));
  EXPECT_EQ(simulator_->RepliesSent(), 0u);
}

TEST_F(LoopbackAnswerTest, FaultChangedAtRunTimeTakesEffect) {
  StartSimulator(Fault{Fault::Kind::kSilent, 0});
  Send(kReadEight);
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  EXPECT_FALSE(client_.Receive(kSilenceBound));
  simulator_->SetFault(Fault{});
  Send(kReadEight);
  const auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, kReplyEight);
}

TEST_F(LoopbackAnswerTest, TwiceFaultSendsTwoEqualAnswers) {
  StartSimulator(Fault{Fault::Kind::kTwice, 0});
  Send(kReadEight);
  const auto first = client_.Receive(kAnswerBound);
  const auto second = client_.Receive(kAnswerBound);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(first->bytes, kReplyEight);
  EXPECT_EQ(second->bytes, kReplyEight);
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  EXPECT_EQ(simulator_->RepliesSent(), 2u);
}

TEST_F(LoopbackAnswerTest, BadLengthFaultAnswersOneByteShort) {
  StartSimulator(Fault{Fault::Kind::kBadLength, 0});
  Send(kReadEight);
  const auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.size(), 48u);
  EXPECT_EQ(reply->bytes, kReplyEight.substr(0, 48));
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
  const auto first = client_.Receive(kAnswerBound);
  const auto receivedAt = std::chrono::steady_clock::now();
  const auto second = client_.Receive(kAnswerBound);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  // Only a lower bound: the answer cannot leave before the delay, however slow the machine.
  EXPECT_GE(receivedAt - sentAt, 200ms);
  EXPECT_EQ(first->bytes, "04099\r\n");
  EXPECT_EQ(second->bytes, "08198\r\n");
}

TEST_F(LoopbackAnswerTest, DelayedAnswerIsDroppedWhenStopped) {
  StartSimulator(Fault{Fault::Kind::kDelay, 60000});
  Send(kReadEight);
  ASSERT_TRUE(simulator_->WaitForCommands(1, kAnswerBound));
  simulator_->Stop();
  EXPECT_FALSE(simulator_->Running());
  EXPECT_EQ(simulator_->RepliesSent(), 0u);
}

TEST_F(LoopbackAnswerTest, DropFaultLeavesEveryNthUnanswered) {
  StartSimulator(Fault{Fault::Kind::kDrop, 2});
  Send("RDS DM00001 1\r\n");
  Send("RDS DM00002 1\r\n");
  Send("RDS DM00003 1\r\n");
  ASSERT_TRUE(simulator_->WaitForCommands(3, kAnswerBound));
  const auto first = client_.Receive(kAnswerBound);
  const auto second = client_.Receive(kAnswerBound);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(first->bytes, "04099\r\n");
  EXPECT_EQ(second->bytes, "12297\r\n");
  EXPECT_FALSE(client_.Receive(kSilenceBound));
}

TEST_F(LoopbackAnswerTest, UnsolicitedFaultSendsExtraDatagramsToLastRequester) {
  StartSimulator(Fault{Fault::Kind::kUnsolicited, 20});
  Send(kReadEight);
  const auto reply = client_.Receive(kAnswerBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, kReplyEight);
  const auto extra = client_.Receive(kAnswerBound);
  ASSERT_TRUE(extra);
  EXPECT_EQ(extra->bytes, "00000\r\n");
  EXPECT_EQ(extra->fromPort, simulator_->Port());
  EXPECT_GE(simulator_->UnsolicitedSent(), 1u);
}

TEST_F(LoopbackAnswerTest, UnsolicitedFaultSendsNothingBeforeAnyRequest) {
  StartSimulator(Fault{Fault::Kind::kUnsolicited, 10});
  EXPECT_FALSE(client_.Receive(kSilenceBound));
  EXPECT_EQ(simulator_->UnsolicitedSent(), 0u);
}

TEST_F(LoopbackAnswerTest, SendUnsolicitedReachesLoopbackPeer) {
  StartSimulator();
  ASSERT_TRUE(simulator_->SendUnsolicited("127.0.0.1", client_.Port(), "00042\r\n"));
  const auto datagram = client_.Receive(kAnswerBound);
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, "00042\r\n");
  EXPECT_EQ(datagram->fromPort, simulator_->Port());
}

TEST_F(LoopbackAnswerTest, SendUnsolicitedRefusesNonLoopbackDestination) {
  StartSimulator();
  std::string error;
  EXPECT_FALSE(simulator_->SendUnsolicited("192.0.2.1", 9, "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(simulator_->SendUnsolicited("not-an-address", 9, "x"));
  EXPECT_EQ(simulator_->UnsolicitedSent(), 0u);
}

TEST(SimulatorLifecycleTest, WaitForCommandsReturnsFalseAtItsBound) {
  SimulatorOptions options;
  options.port = 0;
  ControllerSimulator simulator(options);
  ASSERT_TRUE(simulator.Start(nullptr));
  EXPECT_FALSE(simulator.WaitForCommands(1, 50ms));
  EXPECT_TRUE(simulator.WaitForCommands(0, 50ms));
}

TEST(SimulatorLifecycleTest, BusyPortFailsToStartWithReason) {
  SimulatorOptions options;
  options.port = 0;
  ControllerSimulator first(options);
  ASSERT_TRUE(first.Start(nullptr));
  options.port = first.Port();
  ControllerSimulator second(options);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(second.Running());
}

TEST(SimulatorLifecycleTest, NonLoopbackBindIsRefusedUnlessAllowed) {
  SimulatorOptions options;
  options.port = 0;
  options.bindAddress = "192.0.2.1";
  ControllerSimulator simulator(options);
  std::string error;
  EXPECT_FALSE(simulator.Start(&error));
  EXPECT_NE(error.find("127.0.0.0/8"), std::string::npos);
}

TEST(SimulatorLifecycleTest, StopIsIdempotentAndRefusesLaterSends) {
  SimulatorOptions options;
  options.port = 0;
  ControllerSimulator simulator(options);
  ASSERT_TRUE(simulator.Start(nullptr));
  EXPECT_TRUE(simulator.Running());
  EXPECT_FALSE(simulator.Start(nullptr));
  simulator.Stop();
  simulator.Stop();
  EXPECT_FALSE(simulator.Running());
  EXPECT_FALSE(simulator.SendUnsolicited("127.0.0.1", 9, "x"));
}

TEST(SimulatorLifecycleTest, RecordLimitKeepsCountingAll) {
  SimulatorOptions options;
  options.port = 0;
  options.recordLimit = 1;
  ControllerSimulator simulator(options);
  ASSERT_TRUE(simulator.Start(nullptr));
  LoopbackClient client;
  ASSERT_TRUE(client.SendToLoopback(simulator.Port(), "a"));
  ASSERT_TRUE(client.SendToLoopback(simulator.Port(), "b"));
  ASSERT_TRUE(simulator.WaitForCommands(2, kAnswerBound));
  EXPECT_EQ(simulator.ReceivedCommands(), std::vector<std::string>{"a"});
  EXPECT_EQ(simulator.CommandCount(), 2u);
}

}  // namespace
