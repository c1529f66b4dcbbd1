#include "bench/bench_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
  bool ok = false;
  bool help = false;
  std::string error;
  int samples = 300;
  double idle = 5.0;
  std::string log;
};

Parsed Parse(std::vector<std::string> args, bool logRequired = false) {
  Parsed p;
  BenchOptions options("bench");
  options.Int("--samples", "N", "samples", &p.samples, 1, 1000)
      .Double("--idle-seconds", "S", "idle", &p.idle, 0)
      .Flag("--quick", "smoke run",
            [&] {
              p.samples = 30;
              p.idle = 1.0;
            })
      .Text("--log", "FILE", "log", &p.log);
  if (logRequired) options.Required();
  args.insert(args.begin(), "bench");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  p.ok = options.TryParse(static_cast<int>(argv.size()), argv.data(), &p.error, &p.help);
  return p;
}

TEST(BenchOptionsTest, OptionsApplyInTheOrderGiven) {
  struct Case {
    std::vector<std::string> args;
    int samples;
    double idle;
  };
  for (const Case& c : {Case{{}, 300, 5.0}, Case{{"--quick"}, 30, 1.0},
                        Case{{"--quick", "--samples", "50"}, 50, 1.0},
                        Case{{"--samples", "50", "--quick"}, 30, 1.0},
                        Case{{"--idle-seconds", "0.5", "--samples", "1000"}, 1000, 0.5}}) {
    const Parsed p = Parse(c.args);
    EXPECT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.samples, c.samples);
    EXPECT_EQ(p.idle, c.idle);
  }
}

TEST(BenchOptionsTest, BadOptionsAreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  for (const Case& c : {Case{{"--frobnicate"}, "unknown option --frobnicate"},
                        Case{{"--samples"}, "--samples needs a value"},
                        Case{{"--samples", "0"}, "bad value for --samples: 0"},
                        Case{{"--samples", "1001"}, "bad value for --samples: 1001"},
                        Case{{"--samples", "12x"}, "bad value for --samples: 12x"},
                        Case{{"--idle-seconds", "0"}, "bad value for --idle-seconds: 0"},
                        Case{{"--log", ""}, "bad value for --log: "},
                        Case{{"samples"}, "unknown option samples"}}) {
    const Parsed p = Parse(c.args);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, c.error);
  }
}

TEST(BenchOptionsTest, ARequiredOptionMustBeGivenUnlessHelpIsAskedFor) {
  EXPECT_EQ(Parse({"--quick"}, true).error, "--log is required");
  EXPECT_TRUE(Parse({"--log", "x.txt"}, true).ok);
  const Parsed help = Parse({"--help"}, true);
  EXPECT_TRUE(help.ok);
  EXPECT_TRUE(help.help);
}

TEST(BenchOptionsTest, UsageListsEveryOptionOnceAligned) {
  int runs = 1;
  std::string log;
  BenchOptions options("varnel-x");
  options.Int("--runs", "N", "open runs", &runs, 1)
      .Text("--log", "FILE", "the log", &log)
      .Required()
      .Flag("--quick", "a smoke run", [] {})
      .Note("(a note)");
  EXPECT_EQ(options.Usage(),
            "usage: varnel-x [--runs N] --log FILE [--quick]\n"
            "  --runs N    open runs\n"
            "  --log FILE  the log\n"
            "  --quick     a smoke run\n"
            "(a note)\n");
}

}  // namespace
