#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// A program the test runs as a child process; its standard error goes to the test's. Killed and
// reaped when the test lets go of it, whatever state the test ended in.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when the program could not be started within the bound.
  bool Start(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
             const QString& workingDirectory = {}, int boundMs = 5000);
  // From now on standard error is read with standard output (WaitForLine, Output) instead of
  // going to the test's.
  void MergeErrors() { mergeErrors_ = true; }
  // Everything read so far and whatever is waiting now.
  QByteArray Output();
  qint64 Pid() const { return process_.processId(); }
  // Also notices a program that ended since the last look.
  bool Running();
  // Reads standard output until a whole line starts with `prefix`; returns the rest of that
  // line, or a null string when the bound passed or the program ended first.
  QString WaitForLine(const QString& prefix, int boundMs);
  // True when the program ended by itself within the bound.
  bool WaitForExit(int boundMs);
  // Asks the program to end, and kills it when it does not within a bound.
  void Kill();

  int ExitCode() const { return process_.exitCode(); }
  QProcess::ExitStatus ExitStatus() const { return process_.exitStatus(); }

 private:
  QProcess process_;
  QByteArray pending_;
  QByteArray seen_;
  bool mergeErrors_ = false;
};
