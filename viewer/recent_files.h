#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

// The files opened last, newest first, kept in the viewer's settings.
class RecentFiles {
 public:
  static constexpr int kMaxFiles = 10;

  // settingsPath empty: the user's settings (~/.config/Varnel/varnel-view.conf).
  explicit RecentFiles(const QString& settingsPath = {});
  ~RecentFiles();

  QStringList Files() const;
  // Moves the file to the front; the oldest beyond kMaxFiles are dropped.
  void Add(const QString& path);
  void Remove(const QString& path);
  void Clear();

  // The folder of the last export; empty before the first.
  QString ExportFolder() const;
  void SetExportFolder(const QString& folder);

  // The settings file, for what else the viewer keeps (the window's geometry).
  QSettings& Settings() { return *settings_; }

 private:
  void Store(const QStringList& files);

  std::unique_ptr<QSettings> settings_;
};
