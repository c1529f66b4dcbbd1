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

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("varnel-view"));
  QApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));
  QApplication::setOrganizationName(QStringLiteral("Varnel"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/varnel-view.png")));
  InstallViewerTranslations(&application, QLocale::system());

  QCommandLineParser parser;
  parser.setApplicationDescription(QApplication::translate(
      "main",
      "Charts a Varnel log and follows it while it grows. With a folder, its newest "
      "log is opened."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption devices(
      {QStringLiteral("d"), QStringLiteral("devices")},
      QApplication::translate("main",
                              "Devices to show first, separated by commas (default: the "
                              "log's first eight)."),
      QApplication::translate("main", "list"));
  const QCommandLineOption noFollow(
      QStringLiteral("no-follow"),
      QApplication::translate("main", "Read the file once; do not follow it."));
  const QCommandLineOption interval(
      QStringLiteral("check-interval"),
      QApplication::translate("main",
                              "Milliseconds between size checks while following "
                              "(default 500)."),
      QApplication::translate("main", "ms"), QStringLiteral("500"));
  parser.addOption(devices);
  parser.addOption(noFollow);
  parser.addOption(interval);
  parser.addPositionalArgument(
      QApplication::translate("main", "path"),
      QApplication::translate("main", "A log file (.csv) or a folder of logs."),
      QApplication::translate("main", "[FILE.csv | FOLDER]"));
  parser.process(application);

  const QStringList paths = parser.positionalArguments();
  if (paths.size() > 1) {
    std::fprintf(
        stderr, "varnel-view: %s\n",
        qPrintable(QApplication::translate("main", "one file or folder at most (see --help)")));
    return 2;
  }
  bool intervalOk = false;
  const int intervalMs = parser.value(interval).toInt(&intervalOk);
  if (!intervalOk || intervalMs < 10) {
    std::fprintf(stderr, "varnel-view: %s\n",
                 qPrintable(QApplication::translate(
                     "main", "--check-interval takes a number of milliseconds, 10 or more")));
    return 2;
  }

  ViewerWindow::Options options;
  options.follow = !parser.isSet(noFollow);
  options.checkIntervalMs = intervalMs;
  if (parser.isSet(devices)) {
    options.devices = parser.value(devices).split(QLatin1Char(','), Qt::SkipEmptyParts);
  }
  ViewerWindow window(options);
  window.show();
  if (!paths.isEmpty()) {
    const QString path = paths.first();
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
