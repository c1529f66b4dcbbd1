#include "logger/logger_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

std::optional<LoggerOptions> ParseLoggerOptions(const QStringList& arguments, std::string* error) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Logs a controller's word registers over UDP into CSV files, unattended."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption config(QStringLiteral("config"),
                                  QStringLiteral("Settings file (section Setup). Required."),
                                  QStringLiteral("FILE"));
  const QCommandLineOption output(QStringLiteral("output"),
                                  QStringLiteral("Folder for the logs (default: the current one)."),
                                  QStringLiteral("DIR"), QStringLiteral("."));
  const QCommandLineOption cycles(
      QStringLiteral("cycles"), QStringLiteral("Exit after N complete rows."), QStringLiteral("N"));
  const QCommandLineOption rotate(
      QStringLiteral("rotate"), QStringLiteral("daily (default): a new file after midnight; none."),
      QStringLiteral("daily|none"), QStringLiteral("daily"));
  const QCommandLineOption sync(
      QStringLiteral("sync"),
      QStringLiteral("row (default): each row reaches stable storage before it counts; none."),
      QStringLiteral("row|none"), QStringLiteral("row"));
  parser.addOptions({config, output, cycles, rotate, sync});
  if (!parser.parse(arguments)) {
    *error = parser.errorText().toStdString();
    return std::nullopt;
  }
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  const auto fail = [error](const std::string& why) {
    *error = why;
    return std::nullopt;
  };
  if (!parser.positionalArguments().isEmpty()) {
    return fail("unexpected argument '" + parser.positionalArguments().front().toStdString() + "'");
  }
  LoggerOptions options;
  if (!parser.isSet(config) || parser.value(config).isEmpty()) {
    return fail("--config FILE is required");
  }
  options.ConfigPath = parser.value(config).toStdString();
  options.OutputDir = parser.value(output).toStdString();
  if (options.OutputDir.empty()) return fail("--output needs a folder");
  if (parser.isSet(cycles)) {
    bool ok = false;
    const qlonglong count = parser.value(cycles).toLongLong(&ok);
    if (!ok || count < 1) {
      return fail("--cycles needs a whole number of at least 1, not '" +
                  parser.value(cycles).toStdString() + "'");
    }
    options.Cycles = count;
  }
  const QString rotation = parser.value(rotate);
  if (rotation == QStringLiteral("daily")) {
    options.Rotation = LoggerOptions::Rotate::kDaily;
  } else if (rotation == QStringLiteral("none")) {
    options.Rotation = LoggerOptions::Rotate::kNone;
  } else {
    return fail("--rotate is daily or none, not '" + rotation.toStdString() + "'");
  }
  const QString durability = parser.value(sync);
  if (durability == QStringLiteral("row")) {
    options.Durability = LoggerOptions::Sync::kRow;
  } else if (durability == QStringLiteral("none")) {
    options.Durability = LoggerOptions::Sync::kNone;
  } else {
    return fail("--sync is row or none, not '" + durability.toStdString() + "'");
  }
  return options;
}
