#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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
  explicit SimulatorProcess(std::vector<std::string> arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    arguments.insert(arguments.begin(), VARNEL_SIM_EXECUTABLE);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VARNEL_SIM_EXECUTABLE, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    output_ = pipeFds[0];
  }

  ~SimulatorProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // The first line of stdout without its LF, or nothing when none came within the bound.
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
  for (const Case& c : {Case{{"--fault", "loud"}, 2}, Case{{"--pattern", "constant:70000"}, 2},
                        Case{{"--port", "65536"}, 2}, Case{{"--port"}, 2},
                        Case{{"--frobnicate"}, 2}, Case{{"--bind", "192.0.2.1"}, 2},
                        Case{{"--alt-address", "192.0.2.2"}, 2}, Case{{"--help"}, 0}}) {
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

}  // namespace
