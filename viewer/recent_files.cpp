#include "viewer/recent_files.h"

#include <QFileInfo>

namespace {

const QString kKey = QStringLiteral("recentFiles");
const QString kExportKey = QStringLiteral("lastExportFolder");

}  // namespace

RecentFiles::RecentFiles(const QString& settingsPath)
    : settings_(
          settingsPath.isEmpty()
              ? std::make_unique<QSettings>(QStringLiteral("Varnel"), QStringLiteral("varnel-view"))
              : std::make_unique<QSettings>(settingsPath, QSettings::IniFormat)) {}

RecentFiles::~RecentFiles() = default;

QStringList RecentFiles::Files() const { return settings_->value(kKey).toStringList(); }

void RecentFiles::Add(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList files = Files();
  files.removeAll(absolute);
  files.prepend(absolute);
  Store(files);
}

void RecentFiles::Remove(const QString& path) {
  QStringList files = Files();
  files.removeAll(QFileInfo(path).absoluteFilePath());
  Store(files);
}

void RecentFiles::Clear() { Store({}); }

void RecentFiles::Store(const QStringList& files) {
  settings_->setValue(kKey, files.mid(0, kMaxFiles));
  settings_->sync();
}

QString RecentFiles::ExportFolder() const { return settings_->value(kExportKey).toString(); }

void RecentFiles::SetExportFolder(const QString& folder) {
  settings_->setValue(kExportKey, folder);
  settings_->sync();
}
