#include "viewer/csv_export.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <string>

#include "monitor/log_format.h"
#include "viewer/local_stamp.h"
#include "viewer/log_columns.h"

namespace {

constexpr size_t kFlushBytes = 1 << 20;

QString CannotWrite(const QString& path, const QString& reason) {
  return QCoreApplication::translate("CsvExport", "Cannot write %1: %2").arg(path, reason);
}

}  // namespace

long long WriteCsvExport(const LogColumns& log, const QList<int>& devices, double fromMs,
                         double toMs, const QString& path, QString* error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    *error = CannotWrite(path, file.errorString());
    return -1;
  }
  std::string text(LogFormat::kHeaderCaption);
  for (const int device : devices) {
    text += LogFormat::kSeparator;
    text += log.DeviceName(device).toLatin1().toStdString();
  }
  text += LogFormat::kLineEnd;

  LocalStamp stamp;
  long long rows = 0;
  const auto times = log.Times();
  for (size_t row = 0; row < times.size(); ++row) {
    const auto t = static_cast<double>(times[row]);
    if (t < fromMs || t > toMs) continue;
    int last = -1;
    for (int i = 0; i < devices.size(); ++i) {
      if (log.Values(devices[i])[row] != LogColumns::kMissing) last = i;
    }
    if (last < 0) continue;
    text += stamp.Format(times[row]);
    for (int i = 0; i <= last; ++i) {
      const int32_t value = log.Values(devices[i])[row];
      if (value == LogColumns::kMissing) {
        text += LogFormat::kSeparator;
      } else {
        LogFormat::AppendValueField(text, value);
      }
    }
    text += LogFormat::kLineEnd;
    ++rows;
    if (text.size() >= kFlushBytes) {
      file.write(text.data(), static_cast<qint64>(text.size()));
      text.clear();
    }
  }
  file.write(text.data(), static_cast<qint64>(text.size()));
  if (!file.commit()) {
    *error = CannotWrite(path, file.errorString());
    return -1;
  }
  return rows;
}
