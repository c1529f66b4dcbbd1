#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The logs of a folder in time order, and which of them a span of days takes. Logs are the
// *.csv files. A name that starts with a stamp ("2004-01-10 09-05-07.csv" as the monitor names
// its logs, "2004-01-10.csv" for the start of that day) orders by it, the modification
// breaking ties; names without a stamp come before every stamped one, by modification.
class LogFolder {
 public:
  struct Log {
    QString path;  // absolute
    bool stamped = false;
    QString stamp;  // "2004-01-10 09-05-07"; empty when the name has none
    QDateTime modified;
    QDate day;  // of the stamp, or of the modification when the name has none
  };

  // Which days of logs to read: from `first` to `last` (null: no end, newer logs join as they
  // appear). Both null: the newest log alone, replaced by a newer one when it appears.
  struct Span {
    QDate first;
    QDate last;

    bool NewestOnly() const { return first.isNull() && last.isNull(); }
    // The last `days` days up to `today`, with no end.
    static Span Days(int days, QDate today);
    // From `first` to `last`; a span that reaches `today` has no end, so it follows.
    static Span Range(QDate first, QDate last, QDate today);
  };

  // What a log's name and modification say of it.
  static Log Describe(const QString& path);
  // The logs of the folder, oldest first.
  static QList<Log> List(const QString& folder);
  // True when `a` comes after `b` in time order.
  static bool Newer(const Log& a, const Log& b);
  // The logs of the span's days, oldest first. When none of its days has a log, the newest
  // log before its first day, which may run into it. For NewestOnly, the newest log.
  static QStringList Select(const QList<Log>& logs, const Span& span);
  // Of `logs`, those after `current` that the span takes, oldest first.
  static QStringList NewerIn(const QList<Log>& logs, const Log& current, const Span& span);
};
