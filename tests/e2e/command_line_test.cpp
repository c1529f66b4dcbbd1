// The command-line conventions the four programs share, checked on the real executables:
// a bad option exits 2 with "<program>: <what is wrong>" and where to look, on stderr only;
// --help and --version print to stdout and exit 0; the programs with windows end with one line
// when there is no display, or one that does not answer, instead of aborting.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <string>

namespace {

// Only matters when a program hangs.
constexpr int kBoundMs = 20000;

struct Outcome {
  bool finished = false;
  bool crashed = false;
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program without a display (or with `display`, when given) and without a chosen Qt
// platform, as over SSH.
Outcome RunProgram(const QString& program, const QStringList& arguments,
                   const QString& display = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    environment.remove(QString::fromLatin1(name));
  }
  if (!display.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), display);
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  Outcome run;
  run.finished = process.waitForFinished(kBoundMs);
  if (!run.finished) {
    process.kill();
    process.waitForFinished(kBoundMs);
  }
  run.crashed = process.exitStatus() == QProcess::CrashExit;
  run.status = process.exitCode();
  run.out = process.readAllStandardOutput().toStdString();
  run.err = process.readAllStandardError().toStdString();
  return run;
}

struct Program {
  const char* name;
  QString path;
};

const Program kSim{"varnel-sim", QStringLiteral(VARNEL_SIM_EXECUTABLE)};
const Program kLogger{"varnel-logger", QStringLiteral(VARNEL_LOGGER_EXECUTABLE)};

TEST(CommandLineTest, BadOptionsExitTwoWithWhatIsWrongAndWhereToLook) {
  struct Case {
    const Program& program;
    QStringList arguments;
    std::string wrong;
  };
  for (const Case& c : {
           Case{kSim, {"--frobnicate"}, "unknown option '--frobnicate'"},
           Case{kSim, {"--port"}, "--port needs a value"},
           Case{kSim, {"--port", "65536"}, "--port needs a number from 0 to 65535, not '65536'"},
           Case{kSim,
                {"--pattern=constant:70000"},
                "--pattern needs address, counter or constant:N (N up to 65535), not "
                "'constant:70000'"},
           Case{kSim,
                {"--fault", "loud"},
                "--fault needs none, silent, delay:MS, twice, badlength, altaddress, "
                "unsolicited:MS or drop:N, not 'loud'"},
           Case{kSim,
                {"--bind", "192.0.2.1"},
                "--bind needs an address in 127.0.0.0/8 (or --allow-non-loopback), not "
                "'192.0.2.1'"},
           Case{kSim, {"--control=yes"}, "--control takes no value"},
           Case{kSim, {"extra"}, "unexpected argument 'extra'"},
           Case{kLogger, {"--frobnicate"}, "unknown option '--frobnicate'"},
           Case{kLogger, {"-q"}, "unknown option '-q'"},
           Case{kLogger, {"--config"}, "--config needs a value"},
           Case{kLogger, {"--version=1"}, "--version takes no value"},
           Case{kLogger, {"--config", "x.ini", "extra"}, "unexpected argument 'extra'"},
           Case{kLogger, {}, "--config FILE is required"},
           Case{kLogger,
                {"--config", "x.ini", "--sync", "never"},
                "--sync is row or none, not 'never'"},
       }) {
    SCOPED_TRACE(std::string(c.program.name) + " " + c.arguments.join(' ').toStdString());
    const Outcome run = RunProgram(c.program.path, c.arguments);
    ASSERT_TRUE(run.finished);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string(c.program.name) + ": " + c.wrong + "\nTry '" + c.program.name +
                           " --help' for more information.\n");
  }
}

TEST(CommandLineTest, HelpAndVersionPrintToStdoutAndExitZero) {
  struct Case {
    const Program& program;
    const char* option;
    std::string starts;
  };
  for (const Case& c : {
           Case{kSim, "--help", "Usage: varnel-sim [options]\n"},
           Case{kSim, "--version", "varnel-sim 0.1\n"},
           Case{kLogger, "--help", "Usage: "},
           Case{kLogger, "--version", "varnel-logger 0.1\n"},
       }) {
    SCOPED_TRACE(std::string(c.program.name) + " " + c.option);
    const Outcome run = RunProgram(c.program.path, {QString::fromLatin1(c.option)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, c.starts.size()), c.starts);
    // Each program's help names both options.
    if (std::string(c.option) == "--help") {
      EXPECT_NE(run.out.find("--version"), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.err, "");
  }
}

// Over SSH, or with a display that has gone: one line on stderr and status 1, with or without
// arguments, never the platform plugin's abort.
TEST(CommandLineTest, WindowsWithoutADisplayEndWithOneLine) {
  QString gone;  // a display number no X server listens on
  for (int n = 900; gone.isEmpty(); ++n) {
    if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
      gone = QStringLiteral(":%1").arg(n);
  }
  const std::string unset = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  const std::string noAnswer = "cannot connect to the display " + gone.toStdString();
  const std::string logger = "; varnel-logger logs without one\n";
  const struct {
    QString program;
    QStringList arguments;
    QString display;
    std::string err;
  } cases[] = {
      {QStringLiteral(VARNEL_EXECUTABLE),
       {},
       {},
       "varnel: needs a graphical session (" + unset + ")" + logger},
      {QStringLiteral(VARNEL_EXECUTABLE),
       {"--help"},
       {},
       "varnel: needs a graphical session (" + unset + ")" + logger},
      {QStringLiteral(VARNEL_EXECUTABLE),
       {},
       gone,
       "varnel: needs a graphical session (" + noAnswer + ")" + logger},
      {QStringLiteral(VARNEL_VIEW_EXECUTABLE),
       {},
       {},
       "varnel-view: needs a graphical session (" + unset + ")\n"},
      {QStringLiteral(VARNEL_VIEW_EXECUTABLE),
       {"--no-follow"},
       gone,
       "varnel-view: needs a graphical session (" + noAnswer + ")\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome run = RunProgram(c.program, c.arguments, c.display);
    ASSERT_TRUE(run.finished);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

}  // namespace
