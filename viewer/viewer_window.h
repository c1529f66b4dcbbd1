#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "viewer/log_columns.h"
#include "viewer/log_folder.h"
#include "viewer/log_parser.h"

class DeviceList;
class FolderFollower;
class LogChartView;
class LogFollower;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class RecentFiles;

// The viewer's window: the device list beside the chart, a menu and tool bar, and a status
// line with the rows read, the lines skipped and whether the file is followed.
class ViewerWindow : public QMainWindow {
  Q_OBJECT

 public:
  struct Options {
    QString settingsPath;  // recent files and geometry; empty: the user's settings
    QStringList devices;   // shown first when the log has them; empty: its first eight
    bool follow = true;
    int checkIntervalMs = 500;
    int days = 0;  // a folder opens with the logs of this many days up to today; 0: its newest
  };
  // How many devices a log opens with when none were named.
  static constexpr int kFirstDevices = 8;

  explicit ViewerWindow(Options options, QWidget* parent = nullptr);
  ViewerWindow();
  ~ViewerWindow() override;

  // A log file, or a folder's newest log (its last Options::days days when set), following
  // the folder onto newer logs. False (after telling the error sink) when it cannot be opened;
  // what was shown before stays.
  bool OpenPath(const QString& path);
  // The logs of a folder over a span of days as one timeline.
  bool OpenFolder(const QString& folder, const LogFolder::Span& span);
  // The chart as it is on screen, as a PNG file.
  bool ExportPng(const QString& path);
  // The shown devices over the visible time range, in the log format.
  bool ExportCsv(const QString& path);
  // Where the export dialogs start: the folder of the last export, else the user's documents.
  QString ExportFolder() const;

  // Where error messages go; a message box by default. Tests answer it themselves.
  void SetErrorSink(std::function<void(const QString&)> sink);

  const LogColumns& Log() const { return columns_; }
  const LogParser& Parser() const { return parser_; }
  LogFollower& Follower() { return *follower_; }
  FolderFollower& Folder() { return *folder_; }
  LogChartView* Chart() const { return chart_; }
  DeviceList* Devices() const { return devices_; }
  RecentFiles& Recent() { return *recent_; }
  QString StatusText() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void CreateLayout();
  void OpenWithDialog();
  void OpenDaysWithDialog();
  void MovedOn();
  void Opened(const QString& recentPath);
  void Exported(const QString& path);
  void ExportPngWithDialog();
  void ExportCsvWithDialog();
  void ShowAbout();
  void RebuildRecentMenu();
  void FileRead();
  void FileRestarted();
  void ChooseFirstDevices();
  void DevicesChecked();
  void UpdateStatus();
  void UpdateActions();
  void ShowError(const QString& message);

  Options options_;
  LogColumns columns_;
  LogParser parser_{&columns_};
  std::unique_ptr<LogFollower> follower_;
  std::unique_ptr<FolderFollower> folder_;
  std::unique_ptr<RecentFiles> recent_;
  std::function<void(const QString&)> errorSink_;
  QStringList wantedDevices_;
  QStringList shownNames_;
  bool devicesChosen_ = false;

  DeviceList* devices_ = nullptr;
  QLineEdit* filter_ = nullptr;
  LogChartView* chart_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QLabel* cursorLabel_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* exportPngAction_ = nullptr;
  QAction* exportCsvAction_ = nullptr;
  QAction* followAction_ = nullptr;
  QAction* resetZoomAction_ = nullptr;
  QAction* zoomInAction_ = nullptr;
  QAction* zoomOutAction_ = nullptr;
};
