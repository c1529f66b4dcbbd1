#pragma once

#include <QList>
#include <QString>
#include <cstddef>

class LogColumns;

// Writes the devices' values over [fromMs, toMs] as a log in the programs' own format: one
// header row "YYYY-MM-DD,HH:MM:SS,<device>,..." and one row per logged row with at least one
// of the values, CR LF line ends. A value that is missing before the last one of its row is
// left empty; missing values at the end are left out, as a stalled cycle leaves them. The file
// is replaced whole or not at all. Returns the data rows written, or -1 with the reason in
// *error.
long long WriteCsvExport(const LogColumns& log, const QList<int>& devices, double fromMs,
                         double toMs, const QString& path, QString* error);
