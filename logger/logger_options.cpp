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
  LoggerOptions options;
  options.ConfigPath = parser.value(config).toStdString();
  options.OutputDir = parser.value(output).toStdString();
  return options;
}
