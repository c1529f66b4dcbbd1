// varnel-logger: logs a controller's registers into CSV files without a window or an operator.

#include <QCoreApplication>
#include <cstdio>

#include "logger/logger_options.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("varnel-logger"));
  QCoreApplication::setApplicationVersion(QStringLiteral("0.1"));
  std::string error;
  const auto options = ParseLoggerOptions(QCoreApplication::arguments(), &error);
  if (!options) {
    std::fprintf(stderr, "varnel-logger: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
