#include "viewer/newest_log.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <tuple>

QString NewestLogIn(const QString& folder) {
  static const QRegularExpression stamped(
      QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(?:[ _T](\\d{2})-(\\d{2})-(\\d{2}))?"));
  const QFileInfoList files = QDir(folder).entryInfoList(
      {QStringLiteral("*.csv"), QStringLiteral("*.CSV")}, QDir::Files | QDir::Readable, QDir::Name);
  QString best;
  std::tuple<bool, QString, QDateTime> bestKey;
  for (const QFileInfo& file : files) {
    const QRegularExpressionMatch match = stamped.match(file.fileName());
    QString stamp;
    if (match.hasMatch()) {
      stamp =
          match.captured(1) + QLatin1Char(' ') +
          (match.captured(2).isEmpty() ? QStringLiteral("00-00-00")
                                       : match.captured(2) + QLatin1Char('-') + match.captured(3) +
                                             QLatin1Char('-') + match.captured(4));
    }
    const std::tuple<bool, QString, QDateTime> key{match.hasMatch(), stamp, file.lastModified()};
    if (best.isEmpty() || key > bestKey) {
      best = file.absoluteFilePath();
      bestKey = key;
    }
  }
  return best;
}
