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

// The executable as a child process with its stdout on a pipe.
class SimulatorProcess {
 public:
  explicit SimulatorProcess(const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    std::vector<std::string> all = {VARNEL_SIM_EXECUTABLE};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VARNEL_SIM_EXECUTABLE, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    output_ = pipeFds[0];
  }

  ~SimulatorProcess() {
    if (pid_ > 0 && !exitStatus_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
  }

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // The first line of stdout, without its LF, or nothing when none came within the bound.
  std::optional<std::string> ReadLine(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd pfd{output_, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      char c = 0;
      if (read(output_, &c, 1) != 1) return std::nullopt;
      if (c == '\n') return line;
      line += c;
    }
    return std::nullopt;
  }

  // The exit code, or nothing when the process did not end within the bound.
  std::optional<int> WaitForExit(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!exitStatus_ && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = status;
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    if (!exitStatus_ || !WIFEXITED(*exitStatus_)) return std::nullopt;
    return WEXITSTATUS(*exitStatus_);
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::optional<int> exitStatus_;
};

uint16_t PortOfListeningLine(const std::string& line) {
  return static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
}

TEST(SimulatorExecutableTest, PrintsListeningLineAnswersAndExitsZeroOnTerm) {
  SimulatorProcess process({"--port", "0", "--pattern", "constant:40000"});
  ASSERT_TRUE(process.Started());
  const auto line = process.ReadLine(kBound);
  ASSERT_TRUE(line);
  ASSERT_EQ(line->rfind("varnel-sim listening on 127.0.0.1:", 0), 0u) << *line;
  const uint16_t port = PortOfListeningLine(*line);
  ASSERT_NE(port, 0);

  LoopbackClient client;
  ASSERT_TRUE(client.SendToLoopback(port, "RDS DM00100 2\r\n"));
  const auto reply = client.Receive(kBound);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, "40000 40000\r\n");

  ASSERT_EQ(kill(process.Pid(), SIGTERM), 0);
  EXPECT_EQ(process.WaitForExit(kBound), std::optional<int>(0));
}

TEST(SimulatorExecutableTest, ExitsZeroOnInterrupt) {
  SimulatorProcess process({"--port=0", "--fault", "silent", "--verbose"});
  ASSERT_TRUE(process.Started());
  ASSERT_TRUE(process.ReadLine(kBound));
  ASSERT_EQ(kill(process.Pid(), SIGINT), 0);
  EXPECT_EQ(process.WaitForExit(kBound), std::optional<int>(0));
}

TEST(SimulatorExecutableTest, BadOptionsExitTwo) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--fault", "loud"},
                                                    {"--pattern", "constant:70000"},
                                                    {"--port", "65536"},
                                                    {"--port"},
                                                    {"--frobnicate"},
                                                    {"--bind", "192.0.2.1"},
                                                    {"--alt-address", "192.0.2.2"}}) {
    SimulatorProcess process(arguments);
    ASSERT_TRUE(process.Started());
    EXPECT_EQ(process.WaitForExit(kBound), std::optional<int>(2)) << arguments[0];
  }
}

TEST(SimulatorExecutableTest, HelpExitsZero) {
  SimulatorProcess process({"--help"});
  ASSERT_TRUE(process.Started());
  const auto line = process.ReadLine(kBound);
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("varnel-sim"), std::string::npos);
  EXPECT_EQ(process.WaitForExit(kBound), std::optional<int>(0));
}

TEST(SimulatorExecutableTest, BusyPortExitsOne) {
  SimulatorOptions options;
  options.port = 0;
  ControllerSimulator holder(options);
  ASSERT_TRUE(holder.Start(nullptr));
  SimulatorProcess process({"--port", std::to_string(holder.Port())});
  ASSERT_TRUE(process.Started());
  EXPECT_EQ(process.WaitForExit(kBound), std::optional<int>(1));
}

}  // namespace
