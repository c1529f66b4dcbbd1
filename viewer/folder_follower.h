#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>

#include "viewer/log_folder.h"

class LogFollower;

// Follows a folder of logs rather than one file: opens the logs of a span of days (or the
// newest log) through a LogFollower and, after each of its checks, looks for a newer log, as a
// logger starts one when it restarts or at midnight. The newest log alone is then replaced by
// the newer one (read from its start); a span of days reads on into it without reading again.
// A span that was chosen by days ("the last 3 days") counts them from the clock's today.
class FolderFollower : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<QDateTime()>;

  // The follower (not owned) reads the files.
  explicit FolderFollower(LogFollower* follower, QObject* parent = nullptr);

  // The local date and time; the system's by default. Tests set their own.
  void SetClock(Clock clock);
  QDate Today() const;

  // Opens the span's logs of the folder. False, with the reason in *error, when the folder
  // holds none or they cannot be read; what was open stays open then.
  bool Open(const QString& folder, const LogFolder::Span& span, QString* error);
  // Stops looking at the folder (a single file was opened instead).
  void Close();
  bool IsOpen() const { return !folder_.isEmpty(); }
  const QString& Folder() const { return folder_; }
  const LogFolder::Span& Span() const { return span_; }

  // Looks for logs newer than the one followed; runs after every check of the follower.
  void Look();

 signals:
  // The follower moved on to a newer log.
  void MovedOn(const QString& path);

 private:
  LogFollower* follower_;
  Clock clock_;
  QString folder_;
  LogFolder::Span span_;
  QString followed_;  // the last file handed to the follower; another one means it was reused
};
