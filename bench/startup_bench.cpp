// Start-up time to the main window shown, as whole processes: the real windows (font, icon,
// the three forms, endpoint bound, settings loaded) against a baseline process that shows a
// bare window of the same size with the same number of controls. Runs are interleaved so that
// machine drift hits both. Offscreen platform; nothing is sent. Prints figures, asserts nothing.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/handler_guard.h"
#include "bench/bench_options.h"
#include "ui/app_font.h"
#include "ui/app_icon.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "ui/version_dialog.h"

namespace {

// Shows the window, lets it be exposed, and ends the process with exit code 0.
int ShowAndQuit(QWidget& window) {
  window.show();
  QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
  return QApplication::exec();
}

int RunProduct(int argc, char** argv, const char* settingsPath) {
  QApplication app(argc, argv);
  AppFont::Apply();
  QApplication::setWindowIcon(AppIcon());
  TForm1 form1(TForm1::Environment{{}, settingsPath});
  TForm2 form2;
  TForm3 form3;
  form1.SetDialogs(&form2, &form3);
  return ShowAndQuit(form1);
}

int RunBaseline(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setFixedSize(324, 124);
  new QLabel(QStringLiteral("Status"), &window);
  new QLineEdit(&window);
  new QLabel(QStringLiteral("Running"), &window);
  for (int i = 0; i < 5; ++i) new QPushButton(QStringLiteral("Button"), &window);
  return ShowAndQuit(window);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double TimeChild(const QString& program, const QStringList& arguments) {
  QProcess child;
  QElapsedTimer timer;
  timer.start();
  child.start(program, arguments);
  if (!child.waitForFinished(20000) || child.exitCode() != 0) {
    std::fprintf(stderr, "child %s failed\n", qPrintable(arguments.join(' ')));
    std::exit(1);
  }
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc >= 3 && std::strcmp(argv[1], "--product") == 0) return RunProduct(1, argv, argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "--baseline") == 0) return RunBaseline(1, argv);

  int runs = 15;
  BenchOptions("varnel-startup-bench")
      .Int("--runs", "N", "timed start-ups of the product and of a bare window (default 15)", &runs,
           1)
      .Parse(argc, argv);
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  // An INI beside nothing: the product loads its defaults and writes nothing (it is not closed).
  const QString settings = dir.filePath(QStringLiteral("startup.ini"));
  const QString self = QCoreApplication::applicationFilePath();
  std::vector<double> product, baseline;
  TimeChild(self, {QStringLiteral("--product"), settings});  // warm-up
  TimeChild(self, {QStringLiteral("--baseline")});
  for (int i = 0; i < runs; ++i) {
    product.push_back(TimeChild(self, {QStringLiteral("--product"), settings}));
    baseline.push_back(TimeChild(self, {QStringLiteral("--baseline")}));
  }
  const double productMs = Median(product);
  const double baselineMs = Median(baseline);
  std::printf("start-up to window shown (median of %d, offscreen)\n", runs);
  std::printf("  product   %8.1f ms\n  baseline  %8.1f ms\n  ratio     %8.2f\n", productMs,
              baselineMs, productMs / baselineMs);
  std::printf("startup_ms=%.1f startup_baseline_ms=%.1f startup_ratio=%.2f\n", productMs,
              baselineMs, productMs / baselineMs);
  return 0;
}
