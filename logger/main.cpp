// varnel-logger: logs a controller's registers into CSV files without a window or an operator.

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "logger/folder_lock.h"
#include "logger/logger_config.h"
#include "logger/logger_options.h"
#include "logger/mosquitto_library.h"
#include "logger/mqtt_config.h"
#include "logger/stop_signals.h"
#include "logger/unattended_logger.h"

namespace {

constexpr int kExitInUse = 1;
constexpr int kExitBadSetup = 2;

int Refuse(int status, const std::string& why) {
  std::fprintf(stderr, "varnel-logger: %s\n", why.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that only the signalfd ever takes these.
  StopSignals::Block();
  // A file size limit then fails the write, which the backlog handles, instead of killing us.
  std::signal(SIGXFSZ, SIG_IGN);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("varnel-logger"));
  QCoreApplication::setApplicationVersion(QStringLiteral("0.1"));

  std::string error;
  const auto options = ParseLoggerOptions(QCoreApplication::arguments(), &error);
  if (!options) return Refuse(kExitBadSetup, error + " (see --help)");
  const auto settings = LoadLoggerConfig(options->ConfigPath, &error);
  if (!settings) return Refuse(kExitBadSetup, error);
  const auto publish = MqttConfig::Load(options->ConfigPath, &error);
  if (!publish) return Refuse(kExitBadSetup, error);
  if (!publish->Host.empty() && MosquittoLibrary::Get(&error) == nullptr) {
    return Refuse(kExitBadSetup, "[MQTT] " + error);
  }

  std::error_code made;
  std::filesystem::create_directories(options->OutputDir, made);
  if (made || !std::filesystem::is_directory(options->OutputDir)) {
    return Refuse(kExitBadSetup, "cannot make the output folder " + options->OutputDir + ": " +
                                     (made ? made.message() : "not a folder"));
  }
  FolderLock lock;
  pid_t holder = 0;
  switch (lock.Acquire(options->OutputDir, &holder, &error)) {
    case FolderLock::Result::kHeld:
      break;
    case FolderLock::Result::kBusy:
      return Refuse(kExitInUse, options->OutputDir + " is in use by another logger (process " +
                                    std::to_string(holder) + ")");
    case FolderLock::Result::kFailed:
      return Refuse(kExitBadSetup, error);
  }

  UnattendedLogger::Environment environment;
  environment.Lock = &lock;
  environment.Publish = &*publish;
  UnattendedLogger logger(*options, *settings, environment);
  int status = 0;
  logger.OnFinished = [&status](int finished) {
    status = finished;
    QCoreApplication::exit(finished);
  };
  StopSignals stop([&logger](int) { logger.Stop(); });
  logger.Start();
  QCoreApplication::exec();
  return status;
}
