// varnel-view: the chart of a Varnel log, following the file while it grows.

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QTimer>
#include <cstdio>

#include "base/graphical_session.h"
#include "viewer/viewer_translations.h"
#include "viewer/viewer_window.h"

namespace {

// A year of one-second rows of 100 devices is 12 GiB of values: more is a typo.
constexpr int kMaxDays = 366;

void NameApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("varnel-view"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));
  QCoreApplication::setOrganizationName(QStringLiteral("Varnel"));
}

// A bad command line: what is wrong and where help is, as the other programs say it.
int Refuse(const QString& what) {
  std::fprintf(stderr, "varnel-view: %s\n%s\n", qPrintable(what),
               qPrintable(QCoreApplication::translate(
                   "main", "Try 'varnel-view --help' for more information.")));
  return 2;
}

// Reads the command line without a display, so that --help, --version and bad options work
// anywhere, then makes sure there is one. Returns an exit code, or -1 to go on with the window.
int ReadCommandLine(int argc, char** argv, ViewerWindow::Options* options, QString* path) {
  QCoreApplication application(argc, argv);
  NameApplication();
  InstallViewerTranslations(&application, QLocale::system());

  QCommandLineParser parser;
  parser.setApplicationDescription(QCoreApplication::translate(
      "main",
      "Charts a Varnel log and follows it while it grows. With a folder, its newest "
      "log is opened and followed onto newer logs as they appear."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption devices(
      {QStringLiteral("d"), QStringLiteral("devices")},
      QCoreApplication::translate("main",
                                  "Devices to show first, separated by commas (default: the "
                                  "log's first eight)."),
      QCoreApplication::translate("main", "list"));
  const QCommandLineOption noFollow(
      QStringLiteral("no-follow"),
      QCoreApplication::translate("main", "Read the file once; do not follow it."));
  const QCommandLineOption interval(
      QStringLiteral("check-interval"),
      QCoreApplication::translate("main",
                                  "Milliseconds between size checks while following "
                                  "(default 500)."),
      QCoreApplication::translate("main", "ms"), QStringLiteral("500"));
  const QCommandLineOption days(
      QStringLiteral("days"),
      QCoreApplication::translate("main",
                                  "With a folder: the logs of the last N days up to today as one "
                                  "timeline, following the newest."),
      QCoreApplication::translate("main", "N"));
  parser.addOption(devices);
  parser.addOption(noFollow);
  parser.addOption(interval);
  parser.addOption(days);
  parser.addPositionalArgument(
      QCoreApplication::translate("main", "path"),
      QCoreApplication::translate("main", "A log file (.csv) or a folder of logs."),
      QCoreApplication::translate("main", "[FILE.csv | FOLDER]"));
  // Not process(): it ends a bad command line with status 1, where ours is 2.
  if (!parser.parse(QCoreApplication::arguments())) return Refuse(parser.errorText());
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();

  const QStringList paths = parser.positionalArguments();
  if (paths.size() > 1) {
    return Refuse(QCoreApplication::translate("main", "one file or folder at most"));
  }
  bool intervalOk = false;
  const int intervalMs = parser.value(interval).toInt(&intervalOk);
  if (!intervalOk || intervalMs < 10) {
    return Refuse(QCoreApplication::translate(
        "main", "--check-interval takes a number of milliseconds, 10 or more"));
  }
  if (parser.isSet(days)) {
    bool daysOk = false;
    options->days = parser.value(days).toInt(&daysOk);
    if (!daysOk || options->days < 1 || options->days > kMaxDays) {
      return Refuse(QCoreApplication::translate("main", "--days takes a number of days, 1 to %1")
                        .arg(kMaxDays));
    }
    if (!paths.isEmpty() && QFileInfo(paths.first()).isFile()) {
      return Refuse(QCoreApplication::translate("main", "--days takes a folder, not a file"));
    }
  }
  options->follow = !parser.isSet(noFollow);
  options->checkIntervalMs = intervalMs;
  if (parser.isSet(devices)) {
    options->devices = parser.value(devices).split(QLatin1Char(','), Qt::SkipEmptyParts);
  }
  if (!paths.isEmpty()) *path = paths.first();
  // Over SSH without a display: one line rather than the platform plugin's abort.
  if (const std::string missing = GraphicalSession::Missing(); !missing.empty()) {
    std::fprintf(stderr, "varnel-view: %s\n",
                 qPrintable(QCoreApplication::translate("main", "needs a graphical session (%1)")
                                .arg(QString::fromStdString(missing))));
    return 1;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  ViewerWindow::Options options;
  QString path;
  if (const int code = ReadCommandLine(argc, argv, &options, &path); code >= 0) return code;

  QApplication application(argc, argv);
  NameApplication();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/varnel-view.png")));
  InstallViewerTranslations(&application, QLocale::system());
  ViewerWindow window(options);
  window.show();
  if (!path.isEmpty()) {
    // Opened from the running event loop, so an error box has its window to sit on.
    QTimer::singleShot(0, &window, [&window, path] {
      if (!window.OpenPath(path)) {
        std::fprintf(stderr, "varnel-view: %s\n",
                     qPrintable(QApplication::translate("main", "cannot open %1").arg(path)));
      }
    });
  }
  return QApplication::exec();
}
