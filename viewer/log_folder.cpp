#include "viewer/log_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <tuple>

namespace {

auto Key(const LogFolder::Log& log) { return std::tie(log.stamped, log.stamp, log.modified); }

}  // namespace

LogFolder::Span LogFolder::Span::Days(int days, QDate today) {
  return Span{today.addDays(1 - std::max(days, 1)), QDate()};
}

LogFolder::Span LogFolder::Span::Range(QDate first, QDate last, QDate today) {
  if (last < first) std::swap(first, last);
  return Span{first, last >= today ? QDate() : last};
}

LogFolder::Log LogFolder::Describe(const QString& path) {
  static const QRegularExpression stamped(
      QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(?:[ _T](\\d{2})-(\\d{2})-(\\d{2}))?"));
  const QFileInfo file(path);
  Log log;
  log.path = file.absoluteFilePath();
  log.modified = file.lastModified();
  const QRegularExpressionMatch match = stamped.match(file.fileName());
  const QDate day = match.hasMatch() ? QDate::fromString(match.captured(1), Qt::ISODate) : QDate();
  if (day.isValid()) {
    log.stamped = true;
    log.day = day;
    log.stamp =
        match.captured(1) + QLatin1Char(' ') +
        (match.captured(2).isEmpty() ? QStringLiteral("00-00-00")
                                     : match.captured(2) + QLatin1Char('-') + match.captured(3) +
                                           QLatin1Char('-') + match.captured(4));
  } else {
    log.day = log.modified.date();
  }
  return log;
}

QList<LogFolder::Log> LogFolder::List(const QString& folder) {
  const QFileInfoList files = QDir(folder).entryInfoList(
      {QStringLiteral("*.csv"), QStringLiteral("*.CSV")}, QDir::Files | QDir::Readable, QDir::Name);
  QList<Log> logs;
  logs.reserve(files.size());
  for (const QFileInfo& file : files) logs.append(Describe(file.absoluteFilePath()));
  std::stable_sort(logs.begin(), logs.end(),
                   [](const Log& a, const Log& b) { return Newer(b, a); });
  return logs;
}

bool LogFolder::Newer(const Log& a, const Log& b) { return Key(a) > Key(b); }

QStringList LogFolder::Select(const QList<Log>& logs, const Span& span) {
  if (logs.isEmpty()) return {};
  if (span.NewestOnly()) return {logs.back().path};
  QStringList chosen;
  const Log* before = nullptr;
  for (const Log& log : logs) {
    if (log.day < span.first) {
      before = &log;
    } else if (span.last.isNull() || log.day <= span.last) {
      chosen.append(log.path);
    }
  }
  if (chosen.isEmpty() && before != nullptr) chosen.append(before->path);
  return chosen;
}

QStringList LogFolder::NewerIn(const QList<Log>& logs, const Log& current, const Span& span) {
  QStringList newer;
  for (const Log& log : logs) {
    if (log.path == current.path || !Newer(log, current)) continue;
    if (!span.last.isNull() && log.day > span.last) continue;
    newer.append(log.path);
  }
  return newer;
}
