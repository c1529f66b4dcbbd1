#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class LogColumns;
class LogFollower;

// What reading logs once cost a child process of the viewer's benchmarks. The child prints it
// as one line for its parent: "ms=… rows=… devices=… files=… peak_delta_kib=… store_kib=…".
struct OpenFigures {
  std::size_t rows = 0;
  std::size_t devices = 0;
  std::size_t storeBytes = 0;
  int files = 0;
};

// Times `read`, takes the peak memory it adds above what the process held before, and prints
// the line; the exit status of the child: 0, or 1 when `read` fails.
int PrintOpenFigures(const std::function<bool(OpenFigures*)>& read);
// The viewer's figures once its follower has read all there is.
OpenFigures WaitCaughtUp(const LogFollower& follower, const LogColumns& columns);
// The floor's: the files split into integer columns one after another, as one log.
OpenFigures FloorReadAll(const QStringList& files);
// One key=value field of a child's line; 0 when it is missing.
double LineField(const QString& line, const char* key);

// The simulator's counter pattern the benchmarks' logs hold: the 100 devices from DM00100 at
// row `row` (counted from the first row of the first log).
void CounterValues(int row, std::vector<uint16_t>* values);
