#pragma once

#include <string>

#include "app/monitor_settings.h"

// Which INI file the monitor reads at start and writes at close. The file beside the executable
// whenever it can be written or created, exactly as before. When it cannot (a system-wide
// install run by a user), changed settings go to a per-user file instead, and the file beside
// the executable only supplies the defaults until that per-user file exists; it is then never
// written.
class SettingsLocation {
 public:
  // executableIni: the file beside the executable; userIni: the per-user file (empty when the
  // user has no configuration folder). Decided once, so one run reads and writes one place.
  static SettingsLocation Choose(const std::string& executableIni, const std::string& userIni);

  // varnel/varnel.ini in the user's configuration folder: xdgConfigHome when it is an absolute
  // path, else home/.config; empty when neither gives an absolute folder.
  static std::string UserSettingsPath(const char* xdgConfigHome, const char* home);
  // The same from XDG_CONFIG_HOME and HOME.
  static std::string UserSettingsPath();

  // Whether a settings file at path can be written by the atomic replace: its folder takes new
  // files and an existing file is writable. Looks only; never opens or creates anything.
  static bool CanWrite(const std::string& path);

  const std::string& LoadPath() const { return loadPath_; }
  const std::string& SavePath() const { return savePath_; }
  bool PerUser() const { return perUser_; }

  // Writes the settings to SavePath, first making the per-user folder when that is where they
  // go. False when they could not be written (the caller stays silent about it).
  bool Save(const MonitorSettings& settings) const;

 private:
  SettingsLocation(std::string loadPath, std::string savePath, bool perUser);

  std::string loadPath_;
  std::string savePath_;
  bool perUser_ = false;
};
