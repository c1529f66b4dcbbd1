// varnel-sim: a controller on loopback that answers the monitor's read commands.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sim/controller_simulator.h"
#include "tools/sim/simulator_control.h"

namespace {

constexpr int kExitBadOptions = 2;
constexpr int kExitCannotStart = 1;

const char kUsage[] =
    "Usage: varnel-sim [options]\n"
    "Answers \"RDS DM00100 8\\r\\n\"-style read commands by UDP like a controller.\n"
    "\n"
    "  --bind ADDR             address to listen on (default 127.0.0.1; must lie in\n"
    "                          127.0.0.0/8 unless --allow-non-loopback is given)\n"
    "  --port N                UDP port (default 8501; 0 picks a free one)\n"
    "  --pattern P             values answered (default address):\n"
    "                            address     (device * 4099 + kind * 1000) mod 65536,\n"
    "                                        kind 0 for DM, 1 for TM (DM 8 gives 32792)\n"
    "                            counter     address value + number of read commands\n"
    "                                        answered before, mod 65536\n"
    "                            constant:N  N (0..65535) for every device\n"
    "  --fault F               what goes wrong (default none):\n"
    "                            none, silent, delay:MS, twice, badlength (one byte short),\n"
    "                            altaddress (answer from --alt-address), unsolicited:MS\n"
    "                            (also send \"00000\\r\\n\" to the last requester every MS),\n"
    "                            drop:N (leave every Nth datagram unanswered),\n"
    "                            late:MS (answer, and again MS later)\n"
    "  --alt-address ADDR      second address for altaddress (default 127.0.0.2)\n"
    "  --allow-non-loopback    allow --bind and --alt-address outside 127.0.0.0/8\n"
    "  --verbose               print every datagram received and sent on stderr\n"
    "  --control               read commands from standard input, one a line, and answer\n"
    "                          each on standard output with \"ok ...\" or \"error: ...\":\n"
    "                            fault F     switch to fault F (as --fault) from the next\n"
    "                                        datagram on\n"
    "                            pattern P   switch to pattern P (as --pattern)\n"
    "                            counts      datagrams received, answers and unsolicited\n"
    "                                        datagrams sent so far\n"
    "                            quit        end (so does the end of standard input)\n"
    "  --help                  print this text\n"
    "  --version               print the version\n"
    "\n"
    "A datagram that is not a valid 15-byte read command is answered with \"E1\\r\\n\".\n"
    "Prints \"varnel-sim listening on ADDR:PORT\" once ready; SIGINT or SIGTERM ends it.\n"
    "Exit codes: 0 after a signal, quit or the end of the commands, 1 when it cannot\n"
    "start (the port is taken), 2 on bad options.\n";

constexpr const char kVersion[] = "varnel-sim 0.1\n";

// The wording every Varnel program uses for a bad command line.
int BadOption(const std::string& message) {
  std::fprintf(stderr, "varnel-sim: %s\nTry 'varnel-sim --help' for more information.\n",
               message.c_str());
  return kExitBadOptions;
}

// The name of an option with a value that is missing or not understood.
bool IsValueOption(const std::string& arg) {
  for (const char* name : {"--bind", "--alt-address", "--port", "--pattern", "--fault"}) {
    if (arg == name) return true;
  }
  return false;
}

// The name of an option that takes no value, given one with "=".
bool IsFlagWithValue(const std::string& arg) {
  for (const char* name :
       {"--help", "--version", "--verbose", "--control", "--allow-non-loopback"}) {
    if (arg.rfind(std::string(name) + "=", 0) == 0) return true;
  }
  return false;
}

// Accepts "--name value" and "--name=value"; advances i past what it consumed.
bool TakeValue(int argc, char** argv, int* i, const std::string& name, std::string* value) {
  const std::string arg = argv[*i];
  if (arg == name) {
    if (*i + 1 >= argc) return false;
    *value = argv[++*i];
    return true;
  }
  if (arg.rfind(name + "=", 0) == 0) {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

bool ParsePort(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

void Print(const std::vector<SimulatorControl::Answer>& answers, bool* quit) {
  for (const SimulatorControl::Answer& answer : answers) {
    std::printf("%s\n", answer.text.c_str());
    *quit = *quit || answer.quit;
  }
  std::fflush(stdout);
}

// Waits for SIGINT or SIGTERM and, when `controlled` is set, executes the commands on standard
// input until "quit" or its end. Returns what ended it.
std::string ServeUntilEnd(int signalFd, ControllerSimulator* controlled) {
  std::optional<SimulatorControl> control;
  if (controlled != nullptr) control.emplace(*controlled);
  pollfd fds[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  const nfds_t count = control ? 2 : 1;
  char buffer[4096];
  while (true) {
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      return std::string("poll failure: ") + std::strerror(errno);
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        return "signal " + std::to_string(info.ssi_signo);
      }
    }
    if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      bool quit = false;
      if (got <= 0) {
        Print(control->Finish(), &quit);
        return quit ? "quit" : "end of input";
      }
      Print(control->Feed(std::string_view(buffer, static_cast<size_t>(got))), &quit);
      if (quit) return "quit";
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  SimulatorOptions options;
  // A long-running process has no use for the record of past commands.
  options.recordLimit = 0;
  bool control = false;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::fputs(kVersion, stdout);
      return 0;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--control") {
      control = true;
    } else if (arg == "--allow-non-loopback") {
      options.allowNonLoopback = true;
    } else if (TakeValue(argc, argv, &i, "--bind", &value)) {
      options.bindAddress = value;
    } else if (TakeValue(argc, argv, &i, "--alt-address", &value)) {
      options.altAddress = value;
    } else if (TakeValue(argc, argv, &i, "--port", &value)) {
      if (!ParsePort(value, &options.port)) {
        return BadOption("--port needs a number from 0 to 65535, not '" + value + "'");
      }
    } else if (TakeValue(argc, argv, &i, "--pattern", &value)) {
      if (!ControllerProtocol::ParsePattern(value, &options.pattern)) {
        return BadOption("--pattern needs address, counter or constant:N (N up to 65535), not '" +
                         value + "'");
      }
    } else if (TakeValue(argc, argv, &i, "--fault", &value)) {
      if (!ControllerProtocol::ParseFault(value, &options.fault)) {
        return BadOption(
            "--fault needs none, silent, delay:MS, twice, badlength, altaddress, "
            "unsolicited:MS or drop:N, not '" +
            value + "'");
      }
    } else if (IsValueOption(arg)) {
      return BadOption(arg + " needs a value");
    } else if (IsFlagWithValue(arg)) {
      return BadOption(arg.substr(0, arg.find('=')) + " takes no value");
    } else if (arg.rfind('-', 0) == 0) {
      return BadOption("unknown option '" + arg + "'");
    } else {
      return BadOption("unexpected argument '" + arg + "'");
    }
  }

  for (const std::string* address : {&options.bindAddress, &options.altAddress}) {
    if (!options.allowNonLoopback && !ControllerSimulator::IsLoopbackAddress(*address)) {
      return BadOption(std::string(address == &options.bindAddress ? "--bind" : "--alt-address") +
                       " needs an address in 127.0.0.0/8 (or --allow-non-loopback), not '" +
                       *address + "'");
    }
  }

  // Blocked before the serving thread starts so that it inherits the mask and only the
  // signalfd below ever takes these.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd < 0) {
    std::fprintf(stderr, "varnel-sim: signalfd: %s\n", std::strerror(errno));
    return kExitCannotStart;
  }

  ControllerSimulator simulator(options);
  std::string error;
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "varnel-sim: %s\n", error.c_str());
    return kExitCannotStart;
  }
  std::printf("varnel-sim listening on %s:%u\n", options.bindAddress.c_str(),
              static_cast<unsigned>(simulator.Port()));
  std::fflush(stdout);

  const std::string why = ServeUntilEnd(signalFd, control ? &simulator : nullptr);
  simulator.Stop();
  close(signalFd);
  if (options.verbose) std::fprintf(stderr, "varnel-sim: stopped by %s\n", why.c_str());
  return 0;
}
