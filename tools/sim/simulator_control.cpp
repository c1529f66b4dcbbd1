#include "tools/sim/simulator_control.h"

#include <string>

#include "tools/sim/controller_protocol.h"
#include "tools/sim/controller_simulator.h"

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

SimulatorControl::SimulatorControl(ControllerSimulator& simulator) : simulator_(simulator) {}

std::vector<SimulatorControl::Answer> SimulatorControl::Feed(std::string_view bytes) {
  std::vector<Answer> answers;
  for (const char c : bytes) {
    if (quit_) break;
    if (c == '\n') {
      Complete(&answers);
    } else if (!tooLong_) {
      line_ += c;
      tooLong_ = line_.size() > kMaxLine;
    }
  }
  return answers;
}

std::vector<SimulatorControl::Answer> SimulatorControl::Finish() {
  std::vector<Answer> answers;
  if (!quit_ && (tooLong_ || !line_.empty())) Complete(&answers);
  return answers;
}

void SimulatorControl::Complete(std::vector<Answer>* answers) {
  if (tooLong_) {
    answers->push_back({"error: line longer than " + std::to_string(kMaxLine) + " bytes"});
  } else if (!Trimmed(line_).empty()) {
    answers->push_back(Execute(line_));
    quit_ = answers->back().quit;
  }
  line_.clear();
  tooLong_ = false;
}

SimulatorControl::Answer SimulatorControl::Execute(std::string_view line) {
  const std::string_view text = Trimmed(line);
  const std::size_t blank = text.find_first_of(kBlanks);
  const std::string command(text.substr(0, blank));
  const std::string argument(blank == std::string_view::npos ? std::string_view()
                                                             : Trimmed(text.substr(blank)));
  const bool takesArgument = command == "fault" || command == "pattern";
  if (!takesArgument && command != "counts" && command != "quit") {
    return {"error: unknown command: " + command + " (fault, pattern, counts, quit)"};
  }
  if (takesArgument && argument.empty()) return {"error: " + command + " needs an argument"};
  if (!takesArgument && !argument.empty()) return {"error: " + command + " takes no argument"};

  if (command == "fault") {
    Fault fault;
    if (!ControllerProtocol::ParseFault(argument, &fault)) {
      return {"error: bad fault: " + argument};
    }
    simulator_.SetFault(fault);
    return {"ok fault " + argument};
  }
  if (command == "pattern") {
    ValuePattern pattern;
    if (!ControllerProtocol::ParsePattern(argument, &pattern)) {
      return {"error: bad pattern: " + argument};
    }
    simulator_.SetPattern(pattern);
    return {"ok pattern " + argument};
  }
  if (command == "counts") {
    return {"ok counts received=" + std::to_string(simulator_.CommandCount()) +
            " replies=" + std::to_string(simulator_.RepliesSent()) +
            " unsolicited=" + std::to_string(simulator_.UnsolicitedSent())};
  }
  return {"ok quit", true};
}
