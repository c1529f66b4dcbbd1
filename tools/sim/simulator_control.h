#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class ControllerSimulator;

// Commands that change a running simulator, one a line, as `varnel-sim --control` reads them
// from standard input, so that a script can switch faults while a client keeps polling:
//   fault F    answer with fault F (written as --fault takes it) from the next datagram on
//   pattern P  answer with value pattern P (written as --pattern takes it)
//   counts     how many datagrams came, answers went and unsolicited datagrams went so far
//   quit       the simulator is to end
// Each command gets one answer line, "ok ..." or "error: ..."; blank lines get none.
class SimulatorControl {
 public:
  struct Answer {
    std::string text;  // without line end
    bool quit = false;
  };

  // Longer lines are refused whole rather than kept growing.
  static constexpr std::size_t kMaxLine = 1024;

  explicit SimulatorControl(ControllerSimulator& simulator);

  // Takes input as it comes; executes every line it completes, in order, up to a quit.
  std::vector<Answer> Feed(std::string_view bytes);
  // The end of the input: executes a last line that has no line end.
  std::vector<Answer> Finish();
  // One command line, without its line end.
  Answer Execute(std::string_view line);

 private:
  void Complete(std::vector<Answer>* answers);

  ControllerSimulator& simulator_;
  std::string line_;
  bool tooLong_ = false;  // the line being read passed kMaxLine; it is skipped to its end
  bool quit_ = false;     // nothing after a quit is executed
};
