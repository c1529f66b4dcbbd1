// varnel-view: the chart of a Varnel log, following the file while it grows.

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QTimer>
#include <cstdio>

#include "viewer/viewer_translations.h"
#include "viewer/viewer_window.h"

namespace {

void NameApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("varnel-view"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));
  QCoreApplication::setOrganizationName(QStringLiteral("Varnel"));
}

// Reads the command line without a display, so that --help, --version and bad options work
// anywhere. Returns an exit code, or -1 to go on with the window.
int ReadCommandLine(int argc, char** argv, ViewerWindow::Options* options, QString* path) {
  QCoreApplication application(argc, argv);
  NameApplication();
  InstallViewerTranslations(&application, QLocale::system());

  QCommandLineParser parser;
  parser.setApplicationDescription(QCoreApplication::translate(
      "main",
      "Charts a Varnel log and follows it while it grows. With a folder, its newest "
      "log is opened."));
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
  parser.addOption(devices);
  parser.addOption(noFollow);
  parser.addOption(interval);
  parser.addPositionalArgument(
      QCoreApplication::translate("main", "path"),
      QCoreApplication::translate("main", "A log file (.csv) or a folder of logs."),
      QCoreApplication::translate("main", "[FILE.csv | FOLDER]"));
  parser.process(application);

  const QStringList paths = parser.positionalArguments();
  if (paths.size() > 1) {
    std::fprintf(
        stderr, "varnel-view: %s\n",
        qPrintable(QCoreApplication::translate("main", "one file or folder at most (see --help)")));
    return 2;
  }
  bool intervalOk = false;
  const int intervalMs = parser.value(interval).toInt(&intervalOk);
  if (!intervalOk || intervalMs < 10) {
    std::fprintf(stderr, "varnel-view: %s\n",
                 qPrintable(QCoreApplication::translate(
                     "main", "--check-interval takes a number of milliseconds, 10 or more")));
    return 2;
  }
  options->follow = !parser.isSet(noFollow);
  options->checkIntervalMs = intervalMs;
  if (parser.isSet(devices)) {
    options->devices = parser.value(devices).split(QLatin1Char(','), Qt::SkipEmptyParts);
  }
  if (!paths.isEmpty()) *path = paths.first();
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
