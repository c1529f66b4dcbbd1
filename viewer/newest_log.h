#pragma once

#include <QString>

// The newest log in a folder, or an empty string when it holds none. Logs are the *.csv files;
// the newest is the one whose name carries the latest stamp ("2004-01-10 09-05-07.csv" as the
// monitor names its logs, "2004-01-10.csv" as a log of one day may be named: the start of that
// day), the latest modification breaking ties. Without any stamped name, the most recently
// modified *.csv file.
QString NewestLogIn(const QString& folder);
