#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/sim/loopback_client.h"
#include "tools/sim/controller_simulator.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 10s;

// The executable as a child process with its stdout on a pipe; killed if still running at the end.
class SimulatorProcess {
 public:
  // Its stdin is a socket pair, so that writing to a process that is gone fails instead of
  // raising SIGPIPE; without --control the process never reads it.
  explicit SimulatorProcess(std::vector<std::string> arguments) {
    int pipeFds[2];
    int inputFds[2];
    if (pipe(pipeFds) != 0) return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inputFds) != 0) {
      close(pipeFds[0]);
      close(pipeFds[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, inputFds[0], STDIN_FILENO);
    for (const int fd : {pipeFds[0], pipeFds[1], inputFds[0], inputFds[1]}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }
    arguments.insert(arguments.begin(), VARNEL_SIM_EXECUTABLE);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VARNEL_SIM_EXECUTABLE, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    close(inputFds[0]);
    output_ = pipeFds[0];
    input_ = inputFds[1];
  }

  ~SimulatorProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
    CloseInput();
  }

  bool Started() const { return pid_ > 0; }

  pid_t Pid() const { return pid_; }

  // One line to its stdin.
  bool WriteLine(const std::string& line) {
    const std::string bytes = line + "\n";
    return input_ >= 0 && send(input_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
  }
  // The end of its stdin.
  void CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }

  // The next line of stdout without its LF, or nothing when none came within the bound.
  std::optional<std::string> ReadLine() {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    std::string line;
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd pfd{output_, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      if (read(output_, &c, 1) != 1) return std::nullopt;
      if (c == '\n') return line;
      line += c;
    }
    return std::nullopt;
  }

  // The exit code, or nothing when the process did not exit normally within the bound.
  std::optional<int> WaitForExit() {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
      }
      std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  int input_ = -1;
  bool exited_ = false;
};

TEST(SimulatorExecutableTest, PrintsListeningLineAnswersAndExitsZeroOnSignal) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    SimulatorProcess process({"--port=0", "--pattern", "constant:40000", "--verbose"});
    ASSERT_TRUE(process.Started());
    const auto line = process.ReadLine();
    ASSERT_TRUE(line);
    ASSERT_EQ(line->rfind("varnel-sim listening on 127.0.0.1:", 0), 0u) << *line;
    const auto port = static_cast<uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    ASSERT_NE(port, 0);

    LoopbackClient client;
    ASSERT_TRUE(client.SendToLoopback(port, "RDS DM00100 2\r\n"));
    const auto reply = client.Receive(kBound);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, "40000 40000\r\n");

    ASSERT_EQ(kill(process.Pid(), signal), 0);
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
  }
}

TEST(SimulatorExecutableTest, BadOptionsExitTwoAndHelpExitsZero) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
  };
  for (const Case& c :
       {Case{{"--fault", "loud"}, 2}, Case{{"--pattern", "constant:70000"}, 2},
        Case{{"--port", "65536"}, 2}, Case{{"--port"}, 2}, Case{{"--frobnicate"}, 2},
        Case{{"--bind", "192.0.2.1"}, 2}, Case{{"--alt-address", "192.0.2.2"}, 2},
        Case{{"--control=yes"}, 2}, Case{{"--help"}, 0}}) {
    SCOPED_TRACE(c.arguments[0]);
    SimulatorProcess process(c.arguments);
    ASSERT_TRUE(process.Started());
    if (c.exitCode == 0) {
      EXPECT_NE(process.ReadLine().value_or("").find("varnel-sim"), std::string::npos);
    }
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(c.exitCode));
  }
}

TEST(SimulatorExecutableTest, BusyPortExitsOne) {
  SimulatorOptions options;
  options.port = 0;
  ControllerSimulator holder(options);
  ASSERT_TRUE(holder.Start(nullptr));
  SimulatorProcess process({"--port", std::to_string(holder.Port())});
  ASSERT_TRUE(process.Started());
  EXPECT_EQ(process.WaitForExit(), std::optional<int>(1));
}

// The port from the listening line, or 0.
uint16_t ListeningPort(SimulatorProcess& process) {
  const auto line = process.ReadLine();
  if (!line || line->rfind("varnel-sim listening on 127.0.0.1:", 0) != 0) return 0;
  return static_cast<uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
}

// Asks for the counts until `received` datagrams were handled; the last answer.
std::string CountsOnceReceived(SimulatorProcess& process, int received) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  std::string answer;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!process.WriteLine("counts")) return "(cannot write)";
    answer = process.ReadLine().value_or("(no answer)");
    if (answer.find("received=" + std::to_string(received) + " ") != std::string::npos) break;
    std::this_thread::sleep_for(20ms);
  }
  return answer;
}

TEST(SimulatorExecutableTest, ControlCommandsOnStdinSwitchFaultAndPatternWhileServing) {
  SimulatorProcess process({"--control", "--port=0", "--pattern=constant:1"});
  ASSERT_TRUE(process.Started());
  const uint16_t port = ListeningPort(process);
  ASSERT_NE(port, 0);
  LoopbackClient client;
  const std::string readOne = "RDS DM00100 1\r\n";

  ASSERT_TRUE(process.WriteLine("fault silent"));
  EXPECT_EQ(process.ReadLine(), std::optional<std::string>("ok fault silent"));
  ASSERT_TRUE(client.SendToLoopback(port, readOne));
  EXPECT_EQ(CountsOnceReceived(process, 1), "ok counts received=1 replies=0 unsolicited=0");

  ASSERT_TRUE(process.WriteLine("pattern constant:2"));
  EXPECT_EQ(process.ReadLine(), std::optional<std::string>("ok pattern constant:2"));
  ASSERT_TRUE(process.WriteLine("fault twice"));
  EXPECT_EQ(process.ReadLine(), std::optional<std::string>("ok fault twice"));
  ASSERT_TRUE(client.SendToLoopback(port, readOne));
  // The silenced command got nothing: both answers are the second command's, of the new pattern.
  for (int copy = 0; copy < 2; ++copy) {
    const auto reply = client.Receive(kBound);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, "00002\r\n");
  }
  EXPECT_EQ(CountsOnceReceived(process, 2), "ok counts received=2 replies=2 unsolicited=0");

  ASSERT_TRUE(process.WriteLine("fault loud"));
  EXPECT_EQ(process.ReadLine(), std::optional<std::string>("error: bad fault: loud"));
  ASSERT_TRUE(process.WriteLine("fault none"));
  EXPECT_EQ(process.ReadLine(), std::optional<std::string>("ok fault none"));
  ASSERT_TRUE(client.SendToLoopback(port, readOne));
  const auto reply = client.Receive(kBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, "00002\r\n");

  ASSERT_TRUE(process.WriteLine("quit"));
  EXPECT_EQ(process.ReadLine(), std::optional<std::string>("ok quit"));
  EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
}

TEST(SimulatorExecutableTest, UnderControlTheEndOfStdinOrASignalEndsIt) {
  for (const int signal : {0, SIGTERM}) {
    SCOPED_TRACE(signal);
    SimulatorProcess process({"--control", "--port=0"});
    ASSERT_TRUE(process.Started());
    ASSERT_NE(ListeningPort(process), 0);
    ASSERT_TRUE(process.WriteLine("fault drop:2"));
    EXPECT_EQ(process.ReadLine(), std::optional<std::string>("ok fault drop:2"));
    if (signal == 0) {
      process.CloseInput();
    } else {
      ASSERT_EQ(kill(process.Pid(), signal), 0);
    }
    EXPECT_EQ(process.WaitForExit(), std::optional<int>(0));
  }
}

}  // namespace
