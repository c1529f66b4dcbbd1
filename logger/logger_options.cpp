#include "logger/logger_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kExitBadOptions = 2;

// The wording every Varnel program uses for a bad command line: what is wrong, then where to
// look. The status is the one a bad config gets, which the unit does not restart on.
[[noreturn]] void ExitBadOption(const std::string& why, std::string* error) {
  *error = why;
  std::fprintf(stderr, "varnel-logger: %s\nTry 'varnel-logger --help' for more information.\n",
               why.c_str());
  std::exit(kExitBadOptions);
}

// The option a parse error names, as the user typed it ("--config").
std::string QuotedName(const QString& text) {
  const qsizetype first = text.indexOf(QLatin1Char('\''));
  const qsizetype last = text.lastIndexOf(QLatin1Char('\''));
  return first >= 0 && last > first ? text.mid(first + 1, last - first - 1).toStdString()
                                    : text.toStdString();
}

// Qt's parse errors in the words the other programs use.
std::string ParseError(const QCommandLineParser& parser) {
  if (!parser.unknownOptionNames().isEmpty()) {
    const QString name = parser.unknownOptionNames().front();
    return "unknown option '" + std::string(name.size() == 1 ? "-" : "--") + name.toStdString() +
           "'";
  }
  const QString text = parser.errorText();
  if (text.startsWith(QStringLiteral("Missing value after"))) {
    return QuotedName(text) + " needs a value";
  }
  if (text.startsWith(QStringLiteral("Unexpected value after"))) {
    return QuotedName(text) + " takes no value";
  }
  std::string why = text.toStdString();
  if (!why.empty() && why.back() == '.') why.pop_back();
  return why;
}

}  // namespace

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
  if (!parser.parse(arguments)) ExitBadOption(ParseError(parser), error);
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  const auto fail = [error](const std::string& why) -> std::optional<LoggerOptions> {
    ExitBadOption(why, error);
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
