#pragma once

#include <QString>
#include <QStringList>

// Runs this benchmark again as a child process (so that each measured run starts with a fresh
// heap and its own peak memory) and takes the one line it prints; false, said on stderr under
// `program`'s name, when it fails or outlives `boundMs`.
bool RunChildForLine(const char* program, const char* self, const QStringList& arguments,
                     int boundMs, QString* line);
