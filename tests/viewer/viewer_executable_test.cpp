#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <ostream>

namespace {

struct ViewerRun {
  int exitCode = -1;
  QString out;
  QString err;
};

// The program without a display: the command line must be read before any window exists.
ViewerRun RunViewer(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("DISPLAY"));
  environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
  environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(VARNEL_VIEW_EXECUTABLE), arguments);
  ViewerRun run;
  if (!process.waitForFinished(20000)) {
    process.kill();
    process.waitForFinished(5000);
    ADD_FAILURE() << "varnel-view did not end";
    return run;
  }
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
  run.err = QString::fromLocal8Bit(process.readAllStandardError());
  return run;
}

struct CommandLineCase {
  const char* name;
  QStringList arguments;
  int exitCode;
  const char* says;  // in standard output or error
};

void PrintTo(const CommandLineCase& c, std::ostream* out) { *out << c.name; }

class ViewerCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(ViewerCommandLineTest, AnswersWithoutADisplay) {
  const CommandLineCase& c = GetParam();
  const ViewerRun run = RunViewer(c.arguments);
  EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
  EXPECT_TRUE((run.out + run.err).contains(QString::fromUtf8(c.says)))
      << run.out.toStdString() << run.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ViewerCommandLineTest,
    ::testing::Values(
        CommandLineCase{"Help", {QStringLiteral("--help")}, 0, "--check-interval <ms>"},
        CommandLineCase{"HelpNamesDays", {QStringLiteral("--help")}, 0, "--days <N>"},
        CommandLineCase{"Version", {QStringLiteral("--version")}, 0, "varnel-view 0."},
        CommandLineCase{"TwoPaths",
                        {QStringLiteral("a.csv"), QStringLiteral("b.csv")},
                        2,
                        "one file or folder at most"},
        CommandLineCase{"IntervalTooShort",
                        {QStringLiteral("--check-interval"), QStringLiteral("5")},
                        2,
                        "10 or more"},
        CommandLineCase{
            "IntervalNotANumber", {QStringLiteral("--check-interval=soon")}, 2, "10 or more"},
        CommandLineCase{"UnknownOption",
                        {QStringLiteral("--frobnicate")},
                        2,
                        "varnel-view: Unknown option 'frobnicate'.\n"
                        "Try 'varnel-view --help' for more information.\n"},
        CommandLineCase{"MissingValue", {QStringLiteral("--days")}, 2, "Missing value after"},
        CommandLineCase{"DaysNotANumber",
                        {QStringLiteral("--days=week")},
                        2,
                        "varnel-view: --days takes a number of days, 1 to 366\nTry"},
        CommandLineCase{"DaysZero", {QStringLiteral("--days"), QStringLiteral("0")}, 2, "1 to 366"},
        CommandLineCase{"DaysOfAFile",
                        {QStringLiteral("--days=2"), QStringLiteral(VARNEL_VIEW_EXECUTABLE)},
                        2,
                        "--days takes a folder, not a file"}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });

}  // namespace
