#include "app/settings_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/settings_store.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUserFolder = "varnel";
constexpr const char* kUserFile = "varnel.ini";

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// Effective ids, so a program started through su or sudo judges as the user it acts for.
bool Accessible(const fs::path& path, int mode) {
  return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// Makes each missing folder of path, owner-only as the XDG base directory rules ask.
bool MakeFolders(const fs::path& path) {
  fs::path made;
  for (const fs::path& part : path) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  std::error_code error;
  return fs::is_directory(path, error);
}

}  // namespace

SettingsLocation::SettingsLocation(std::string loadPath, std::string savePath, bool perUser)
    : loadPath_(std::move(loadPath)), savePath_(std::move(savePath)), perUser_(perUser) {}

SettingsLocation SettingsLocation::Choose(const std::string& executableIni,
                                          const std::string& userIni) {
  if (CanWrite(executableIni)) {
    return SettingsLocation(executableIni, executableIni, false);
  }
  std::error_code error;
  const bool userFileExists = !userIni.empty() && fs::exists(userIni, error);
  return SettingsLocation(userFileExists ? userIni : executableIni, userIni, true);
}

std::string SettingsLocation::UserSettingsPath(const char* xdgConfigHome, const char* home) {
  fs::path folder;
  // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
  if (IsAbsolute(xdgConfigHome)) {
    folder = xdgConfigHome;
  } else if (IsAbsolute(home)) {
    folder = fs::path(home) / ".config";
  } else {
    return {};
  }
  return (folder / kUserFolder / kUserFile).string();
}

std::string SettingsLocation::UserSettingsPath() {
  return UserSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

bool SettingsLocation::CanWrite(const std::string& path) {
  if (path.empty()) return false;
  fs::path target(path);
  std::error_code error;
  // The settings are written through a symbolic link, so the link's target decides.
  if (fs::is_symlink(target, error)) {
    target = fs::weakly_canonical(target, error);
    if (error) return false;
  }
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // The replace makes a temporary file in the folder and renames it over the file.
  if (!fs::is_directory(folder, error) || !Accessible(folder, W_OK | X_OK)) return false;
  if (Accessible(target, F_OK)) return Accessible(target, W_OK);
  return errno == ENOENT;
}

bool SettingsLocation::Save(const MonitorSettings& settings) const {
  if (savePath_.empty()) return false;
  if (perUser_ && !MakeFolders(fs::path(savePath_).parent_path())) return false;
  return SettingsStore::Save(savePath_, settings);
}
