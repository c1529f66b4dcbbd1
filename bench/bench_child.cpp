#include "bench/bench_child.h"

#include <QProcess>
#include <cstdio>

bool RunChildForLine(const char* program, const char* self, const QStringList& arguments,
                     int boundMs, QString* line) {
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QString::fromLocal8Bit(self), arguments);
  if (!child.waitForFinished(boundMs) || child.exitStatus() != QProcess::NormalExit ||
      child.exitCode() != 0) {
    std::fprintf(stderr, "%s: child %s failed\n", program, qPrintable(arguments.join(' ')));
    return false;
  }
  *line = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
  return true;
}
