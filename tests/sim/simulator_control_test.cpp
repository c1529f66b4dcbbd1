#include "tools/sim/simulator_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/sim/loopback_client.h"
#include "tools/sim/controller_simulator.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> Texts(const std::vector<SimulatorControl::Answer>& answers) {
  std::vector<std::string> texts;
  for (const SimulatorControl::Answer& answer : answers) texts.push_back(answer.text);
  return texts;
}

class SimulatorControlTest : public ::testing::Test {
 protected:
  ControllerSimulator simulator_{SimulatorOptions{}};
  SimulatorControl control_{simulator_};
};

TEST_F(SimulatorControlTest, FaultCommandsSwitchTheFaultOrAreRefusedLeavingIt) {
  struct Case {
    std::string line;
    std::string answer;
    Fault::Kind kind;
    int parameter;
  };
  // Each case starts from the fault the one before it left.
  for (const Case& c : {
           Case{"fault delay:300", "ok fault delay:300", Fault::Kind::kDelay, 300},
           Case{"fault silent", "ok fault silent", Fault::Kind::kSilent, 0},
           Case{"  fault \t twice \r", "ok fault twice", Fault::Kind::kTwice, 0},
           Case{"fault loud", "error: bad fault: loud", Fault::Kind::kTwice, 0},
           Case{"fault drop:0", "error: bad fault: drop:0", Fault::Kind::kTwice, 0},
           Case{"fault", "error: fault needs an argument", Fault::Kind::kTwice, 0},
           Case{"fault none extra", "error: bad fault: none extra", Fault::Kind::kTwice, 0},
           Case{"fault unsolicited:50", "ok fault unsolicited:50", Fault::Kind::kUnsolicited, 50},
           Case{"fault drop:3", "ok fault drop:3", Fault::Kind::kDrop, 3},
           Case{"fault altaddress", "ok fault altaddress", Fault::Kind::kAltAddress, 0},
           Case{"fault badlength", "ok fault badlength", Fault::Kind::kBadLength, 0},
           Case{"FAULT none", "error: unknown command: FAULT (fault, pattern, counts, quit)",
                Fault::Kind::kBadLength, 0},
           Case{"fault none", "ok fault none", Fault::Kind::kNone, 0},
       }) {
    SCOPED_TRACE(c.line);
    const SimulatorControl::Answer answer = control_.Execute(c.line);
    EXPECT_EQ(answer.text, c.answer);
    EXPECT_FALSE(answer.quit);
    EXPECT_EQ(simulator_.CurrentFault().kind, c.kind);
    EXPECT_EQ(simulator_.CurrentFault().parameter, c.parameter);
  }
}

TEST_F(SimulatorControlTest, PatternCommandsSwitchThePatternOrAreRefusedLeavingIt) {
  struct Case {
    std::string line;
    std::string answer;
    ValuePattern::Kind kind;
    uint16_t constant;
  };
  for (const Case& c : {
           Case{"pattern counter", "ok pattern counter", ValuePattern::Kind::kCounter, 0},
           Case{"pattern constant:65536", "error: bad pattern: constant:65536",
                ValuePattern::Kind::kCounter, 0},
           Case{"pattern", "error: pattern needs an argument", ValuePattern::Kind::kCounter, 0},
           Case{"pattern constant:7", "ok pattern constant:7", ValuePattern::Kind::kConstant, 7},
           Case{"pattern address", "ok pattern address", ValuePattern::Kind::kAddress, 0},
       }) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(control_.Execute(c.line).text, c.answer);
    EXPECT_EQ(simulator_.CurrentPattern().kind, c.kind);
    EXPECT_EQ(simulator_.CurrentPattern().constant, c.constant);
  }
}

TEST_F(SimulatorControlTest, QuitAndCountsTakeNoArgument) {
  EXPECT_EQ(control_.Execute("quit now").text, "error: quit takes no argument");
  EXPECT_FALSE(control_.Execute("quit now").quit);
  EXPECT_EQ(control_.Execute("counts 1").text, "error: counts takes no argument");
  const SimulatorControl::Answer quit = control_.Execute(" quit\r");
  EXPECT_EQ(quit.text, "ok quit");
  EXPECT_TRUE(quit.quit);
}

TEST_F(SimulatorControlTest, LinesAreExecutedAsTheyCompleteAcrossPiecesBlankOnesUnanswered) {
  EXPECT_TRUE(control_.Feed("fau").empty());
  EXPECT_EQ(simulator_.CurrentFault().kind, Fault::Kind::kNone);
  EXPECT_EQ(Texts(control_.Feed("lt twice\n\n \r\nfault dr")),
            (std::vector<std::string>{"ok fault twice"}));
  EXPECT_EQ(simulator_.CurrentFault().kind, Fault::Kind::kTwice);
  EXPECT_EQ(Texts(control_.Feed("op:2\r\n")), (std::vector<std::string>{"ok fault drop:2"}));
  EXPECT_EQ(simulator_.CurrentFault().kind, Fault::Kind::kDrop);
  EXPECT_TRUE(control_.Finish().empty());
}

TEST_F(SimulatorControlTest, EndOfInputExecutesAnUnterminatedLastLine) {
  EXPECT_TRUE(control_.Feed("fault silent").empty());
  EXPECT_EQ(Texts(control_.Finish()), (std::vector<std::string>{"ok fault silent"}));
  EXPECT_EQ(simulator_.CurrentFault().kind, Fault::Kind::kSilent);
}

TEST_F(SimulatorControlTest, NothingAfterQuitIsExecuted) {
  const auto answers = control_.Feed("fault twice\nquit\nfault silent\n");
  ASSERT_EQ(Texts(answers), (std::vector<std::string>{"ok fault twice", "ok quit"}));
  EXPECT_FALSE(answers[0].quit);
  EXPECT_TRUE(answers[1].quit);
  EXPECT_TRUE(control_.Feed("fault badlength\n").empty());
  EXPECT_TRUE(control_.Finish().empty());
  EXPECT_EQ(simulator_.CurrentFault().kind, Fault::Kind::kTwice);
}

TEST_F(SimulatorControlTest, OverlongLineIsRefusedWholeAndTheNextOneRuns) {
  const std::string overlong =
      std::string(SimulatorControl::kMaxLine, ' ') + "fault silent\nfault twice\n";
  EXPECT_EQ(Texts(control_.Feed(overlong)),
            (std::vector<std::string>{"error: line longer than 1024 bytes", "ok fault twice"}));
  EXPECT_EQ(simulator_.CurrentFault().kind, Fault::Kind::kTwice);
  // The longest line taken is exactly the bound.
  const std::string longest = "fault none" + std::string(SimulatorControl::kMaxLine - 10, ' ');
  EXPECT_EQ(Texts(control_.Feed(longest + "\n")), (std::vector<std::string>{"ok fault none"}));
}

TEST(SimulatorControlCountsTest, CountsReportDatagramsAndAnswersSoFar) {
  SimulatorOptions options;
  options.port = 0;
  ControllerSimulator simulator(options);
  ASSERT_TRUE(simulator.Start(nullptr));
  SimulatorControl control(simulator);
  EXPECT_EQ(control.Execute("counts").text, "ok counts received=0 replies=0 unsolicited=0");
  ASSERT_EQ(control.Execute("fault twice").text, "ok fault twice");
  LoopbackClient client;
  ASSERT_TRUE(client.SendToLoopback(simulator.Port(), "RDS DM00001 1\r\n"));
  ASSERT_TRUE(client.SendToLoopback(simulator.Port(), "bad"));
  ASSERT_TRUE(simulator.WaitForCommands(2, 3000ms));
  EXPECT_EQ(control.Execute("counts").text, "ok counts received=2 replies=4 unsolicited=0");
}

}  // namespace
