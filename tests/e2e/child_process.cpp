#include "tests/e2e/child_process.h"

#include <QDeadlineTimer>

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Start(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment, const QString& workingDirectory,
                         int boundMs) {
  process_.setProcessEnvironment(environment);
  // Never read, so never allowed to fill a pipe and stall the child.
  process_.setProcessChannelMode(mergeErrors_ ? QProcess::MergedChannels
                                              : QProcess::ForwardedErrorChannel);
  if (!workingDirectory.isEmpty()) process_.setWorkingDirectory(workingDirectory);
  process_.start(program, arguments);
  return process_.waitForStarted(boundMs);
}

bool ChildProcess::Running() {
  if (process_.state() == QProcess::NotRunning) return false;
  // Without an event loop the process state is only brought up to date by a wait.
  process_.waitForFinished(0);
  return process_.state() != QProcess::NotRunning;
}

QString ChildProcess::WaitForLine(const QString& prefix, int boundMs) {
  const QDeadlineTimer deadline(boundMs);
  const QByteArray wanted = prefix.toUtf8();
  while (true) {
    const QByteArray more = process_.readAllStandardOutput();
    seen_ += more;
    pending_ += more;
    qsizetype end = -1;
    while ((end = pending_.indexOf('\n')) >= 0) {
      const QByteArray line = pending_.left(end);
      pending_.remove(0, end + 1);
      if (line.startsWith(wanted)) return QString::fromUtf8(line.mid(wanted.size())).trimmed();
    }
    if (deadline.hasExpired() || !Running()) return {};
    process_.waitForReadyRead(50);
  }
}

QByteArray ChildProcess::Output() {
  const QByteArray more = process_.readAllStandardOutput();
  seen_ += more;
  pending_ += more;
  return seen_;
}

bool ChildProcess::WaitForExit(int boundMs) {
  if (!Running()) return true;
  return process_.waitForFinished(boundMs);
}

void ChildProcess::Kill() {
  if (!Running()) return;
  // A terminated X server removes its socket and lock file; a killed one leaves them behind.
  process_.terminate();
  if (process_.waitForFinished(3000)) return;
  process_.kill();
  process_.waitForFinished(5000);
}
