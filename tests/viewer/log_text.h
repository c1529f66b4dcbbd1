#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "viewer/log_columns.h"

// The columns as one line of text per device, "DM00100=12,13,_" with "_" for a missing value,
// so that a test compares a whole log at a glance.
inline std::string ColumnsText(const LogColumns& log) {
  std::string text;
  for (int device = 0; device < log.DeviceCount(); ++device) {
    if (!text.empty()) text += ' ';
    text += log.DeviceName(device).toStdString() + '=';
    const auto values = log.Values(device);
    for (size_t row = 0; row < values.size(); ++row) {
      if (row > 0) text += ',';
      text += values[row] == LogColumns::kMissing ? std::string("_") : std::to_string(values[row]);
    }
  }
  return text;
}

// Milliseconds since the epoch of a local time.
inline int64_t LocalMs(int year, int month, int day, int hour, int minute, int second) {
  return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::LocalTime)
      .toMSecsSinceEpoch();
}

// A log of `devices` devices DM00100... and `rows` one-second rows from 2004-01-10 09:00:00,
// value = device * 100 + row (signed 16-bit range kept), as the programs write it.
inline std::string LogText(int devices, int rows, int firstRow = 0, bool header = true) {
  std::string text;
  if (header) {
    text = "YYYY-MM-DD,HH:MM:SS";
    for (int d = 0; d < devices; ++d) text += ",DM" + std::to_string(100000 + 100 + d).substr(1);
    text += "\r\n";
  }
  for (int row = firstRow; row < firstRow + rows; ++row) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "2004-01-10,%02d:%02d:%02d", 9 + row / 3600, (row / 60) % 60,
                  row % 60);
    text += stamp;
    for (int d = 0; d < devices; ++d) text += ',' + std::to_string((d * 100 + row) % 32768);
    text += "\r\n";
  }
  return text;
}

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
