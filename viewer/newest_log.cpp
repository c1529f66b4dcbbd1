#include "viewer/newest_log.h"

#include "viewer/log_folder.h"

QString NewestLogIn(const QString& folder) {
  const QList<LogFolder::Log> logs = LogFolder::List(folder);
  return logs.isEmpty() ? QString() : logs.back().path;
}
