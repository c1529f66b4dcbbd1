#include "viewer/viewer_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "viewer/csv_export.h"
#include "viewer/device_list.h"
#include "viewer/folder_follower.h"
#include "viewer/log_chart_view.h"
#include "viewer/log_follower.h"
#include "viewer/recent_files.h"

namespace {

const QString kGeometryKey = QStringLiteral("windowGeometry");

QString LocalFileOf(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls()) return {};
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return {};
}

QString WithSuffix(QString path, const QString& suffix) {
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += QLatin1Char('.') + suffix;
  return path;
}

}  // namespace

ViewerWindow::ViewerWindow() : ViewerWindow(Options{}) {}

ViewerWindow::ViewerWindow(Options options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      follower_(std::make_unique<LogFollower>(&parser_)),
      folder_(std::make_unique<FolderFollower>(follower_.get())),
      recent_(std::make_unique<RecentFiles>(options_.settingsPath)) {
  setObjectName(QStringLiteral("viewerWindow"));
  setWindowTitle(tr("Varnel View"));
  setAcceptDrops(true);
  follower_->SetFollowing(options_.follow);
  follower_->SetCheckIntervalMs(options_.checkIntervalMs);
  errorSink_ = [this](const QString& message) {
    QMessageBox::warning(this, tr("Varnel View"), message);
  };
  CreateLayout();
  CreateActions();

  connect(follower_.get(), &LogFollower::Restarted, this, &ViewerWindow::FileRestarted);
  connect(follower_.get(), &LogFollower::Read, this, &ViewerWindow::FileRead);
  connect(follower_.get(), &LogFollower::Missing, this, &ViewerWindow::UpdateStatus);
  connect(folder_.get(), &FolderFollower::MovedOn, this, &ViewerWindow::MovedOn);
  connect(follower_.get(), &LogFollower::Failed, this,
          [this](const QString& message) { statusBar()->showMessage(message, 5000); });
  connect(devices_, &DeviceList::CheckedChanged, this, &ViewerWindow::DevicesChecked);
  connect(filter_, &QLineEdit::textChanged, devices_, &DeviceList::SetFilter);
  connect(chart_, &LogChartView::ViewChanged, this, &ViewerWindow::UpdateActions);
  connect(chart_, &LogChartView::CursorMoved, cursorLabel_, &QLabel::setText);

  resize(1000, 620);
  QSettings& settings = recent_->Settings();
  if (settings.contains(kGeometryKey)) restoreGeometry(settings.value(kGeometryKey).toByteArray());
  chart_->SetLog(&columns_);
  devices_->SetLog(&columns_);
  UpdateStatus();
  UpdateActions();
}

ViewerWindow::~ViewerWindow() {
  // The follower feeds the parser and the columns: it goes first, after what drives it.
  folder_.reset();
  follower_.reset();
}

void ViewerWindow::CreateLayout() {
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setObjectName(QStringLiteral("splitter"));
  auto* side = new QWidget(splitter);
  auto* sideLayout = new QVBoxLayout(side);
  sideLayout->setContentsMargins(4, 4, 0, 4);
  filter_ = new QLineEdit(side);
  filter_->setObjectName(QStringLiteral("deviceFilter"));
  filter_->setPlaceholderText(tr("Filter devices"));
  filter_->setClearButtonEnabled(true);
  devices_ = new DeviceList(side);
  sideLayout->addWidget(filter_);
  sideLayout->addWidget(devices_);
  chart_ = new LogChartView(splitter);
  splitter->addWidget(side);
  splitter->addWidget(chart_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({200, 800});
  setCentralWidget(splitter);

  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName(QStringLiteral("statusLabel"));
  cursorLabel_ = new QLabel(this);
  cursorLabel_->setObjectName(QStringLiteral("cursorLabel"));
  statusBar()->addWidget(statusLabel_, 1);
  statusBar()->addPermanentWidget(cursorLabel_);
}

void ViewerWindow::CreateActions() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  openAction_ = file->addAction(tr("&Open…"), this, &ViewerWindow::OpenWithDialog);
  openAction_->setShortcut(QKeySequence::Open);
  file->addAction(tr("Open &Folder…"), this, [this] {
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Open the Newest Log of a Folder"));
    if (!folder.isEmpty()) OpenPath(folder);
  });
  file->addAction(tr("Open &Days of a Folder…"), this, &ViewerWindow::OpenDaysWithDialog);
  recentMenu_ = file->addMenu(tr("Open &Recent"));
  file->addSeparator();
  exportPngAction_ =
      file->addAction(tr("Export Chart as &PNG…"), this, &ViewerWindow::ExportPngWithDialog);
  exportCsvAction_ =
      file->addAction(tr("Export Visible Data as &CSV…"), this, &ViewerWindow::ExportCsvWithDialog);
  file->addSeparator();
  QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
  quit->setShortcut(QKeySequence::Quit);

  QMenu* view = menuBar()->addMenu(tr("&View"));
  zoomInAction_ = view->addAction(tr("Zoom &In"), chart_, &LogChartView::ZoomIn);
  zoomInAction_->setShortcut(QKeySequence::ZoomIn);
  zoomOutAction_ = view->addAction(tr("Zoom &Out"), chart_, &LogChartView::ZoomOut);
  zoomOutAction_->setShortcut(QKeySequence::ZoomOut);
  resetZoomAction_ = view->addAction(tr("&Reset Zoom"), chart_, &LogChartView::ResetZoom);
  resetZoomAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  view->addSeparator();
  followAction_ = view->addAction(tr("&Follow the File"));
  followAction_->setCheckable(true);
  followAction_->setChecked(options_.follow);
  connect(followAction_, &QAction::toggled, this, [this](bool on) {
    follower_->SetFollowing(on);
    UpdateStatus();
  });

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(tr("&About Varnel View"), this, &ViewerWindow::ShowAbout);

  QToolBar* tools = addToolBar(tr("Tools"));
  tools->setObjectName(QStringLiteral("toolBar"));
  tools->setMovable(false);
  tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
  tools->addAction(openAction_);
  tools->addSeparator();
  tools->addAction(zoomInAction_);
  tools->addAction(zoomOutAction_);
  tools->addAction(resetZoomAction_);
  tools->addAction(followAction_);
  tools->addSeparator();
  tools->addAction(exportPngAction_);
  tools->addAction(exportCsvAction_);
  RebuildRecentMenu();
}

void ViewerWindow::SetErrorSink(std::function<void(const QString&)> sink) {
  errorSink_ = std::move(sink);
}

void ViewerWindow::ShowError(const QString& message) {
  if (errorSink_) errorSink_(message);
}

bool ViewerWindow::OpenPath(const QString& path) {
  if (QFileInfo(path).isDir()) {
    return OpenFolder(path, options_.days > 0
                                ? LogFolder::Span::Days(options_.days, folder_->Today())
                                : LogFolder::Span{});
  }
  wantedDevices_ = options_.devices;
  devicesChosen_ = false;
  QString error;
  if (!follower_->Open(path, &error)) {
    ShowError(error);
    return false;
  }
  folder_->Close();
  Opened(path);
  return true;
}

bool ViewerWindow::OpenFolder(const QString& folder, const LogFolder::Span& span) {
  wantedDevices_ = options_.devices;
  devicesChosen_ = false;
  QString error;
  if (!folder_->Open(folder, span, &error)) {
    ShowError(error);
    return false;
  }
  Opened(folder);
  return true;
}

void ViewerWindow::Opened(const QString& recentPath) {
  recent_->Add(recentPath);
  RebuildRecentMenu();
  MovedOn();
}

void ViewerWindow::MovedOn() {
  setWindowFilePath(follower_->Path());
  setWindowTitle(tr("%1 – Varnel View").arg(QFileInfo(follower_->Path()).fileName()));
  UpdateStatus();
}

void ViewerWindow::FileRestarted() {
  // The same file read again (replaced or cut): the devices shown stay shown if it has them.
  if (devicesChosen_) wantedDevices_ = shownNames_;
  devicesChosen_ = false;
  chart_->SetLog(&columns_);
  devices_->SetLog(&columns_);
  UpdateStatus();
}

void ViewerWindow::FileRead() {
  devices_->Sync();
  if (!devicesChosen_ && columns_.DeviceCount() > 0) ChooseFirstDevices();
  chart_->Refresh();
  UpdateStatus();
}

void ViewerWindow::ChooseFirstDevices() {
  devicesChosen_ = true;
  QList<int> chosen;
  for (const QString& name : wantedDevices_) {
    const int device = columns_.FindDevice(name.trimmed());
    if (device >= 0 && !chosen.contains(device)) chosen.append(device);
  }
  // Never an empty chart: without the named devices, the log's first ones.
  if (chosen.isEmpty()) {
    for (int device = 0; device < std::min(kFirstDevices, columns_.DeviceCount()); ++device) {
      chosen.append(device);
    }
  }
  devices_->SetChecked(chosen);
}

void ViewerWindow::DevicesChecked() {
  chart_->SetShownDevices(devices_->CheckedDevices());
  shownNames_.clear();
  for (const int device : chart_->ShownDevices()) shownNames_.append(columns_.DeviceName(device));
  devices_->SetColors([this](int device) { return chart_->ColorOf(device); });
  UpdateActions();
}

void ViewerWindow::UpdateStatus() {
  QStringList parts;
  if (!follower_->IsOpen()) {
    parts << tr("No log open");
  } else {
    const QLocale locale;
    const qsizetype files = follower_->Paths().size();
    const QString name = QFileInfo(follower_->Path()).fileName();
    if (files == 1) {
      parts << name;
    } else if (files == 2) {
      parts << tr("%1 and 1 older log").arg(name);
    } else {
      parts << tr("%1 and %2 older logs")
                   .arg(name, locale.toString(static_cast<qlonglong>(files - 1)));
    }
    const auto rows = static_cast<qlonglong>(columns_.RowCount());
    parts << (rows == 1 ? tr("1 row") : tr("%1 rows").arg(locale.toString(rows)));
    parts << (columns_.DeviceCount() == 1
                  ? tr("1 device")
                  : tr("%1 devices").arg(locale.toString(columns_.DeviceCount())));
    if (parser_.SkippedLines() > 0) {
      parts << tr("%1 lines skipped (the first is line %2)")
                   .arg(locale.toString(static_cast<qlonglong>(parser_.SkippedLines())),
                        locale.toString(static_cast<qlonglong>(parser_.FirstSkippedLine())));
    }
    if (parser_.PendingBytes() > 0) parts << tr("last line not complete yet");
    if (follower_->FileMissing()) {
      parts << tr("file deleted: showing what was read");
    } else if (!follower_->CaughtUp()) {
      parts << tr("reading…");
    } else if (follower_->Following()) {
      parts << tr("following");
    } else {
      parts << tr("not following");
    }
  }
  statusLabel_->setText(parts.join(QStringLiteral("   ·   ")));
}

QString ViewerWindow::StatusText() const { return statusLabel_->text(); }

void ViewerWindow::UpdateActions() {
  const bool hasRows = columns_.RowCount() > 0;
  const bool hasSeries = hasRows && !chart_->ShownDevices().isEmpty();
  exportPngAction_->setEnabled(follower_->IsOpen());
  exportCsvAction_->setEnabled(hasSeries);
  zoomInAction_->setEnabled(hasRows);
  zoomOutAction_->setEnabled(hasRows && chart_->Zoomed());
  resetZoomAction_->setEnabled(hasRows && (chart_->Zoomed() || chart_->ValuesFixed()));
}

void ViewerWindow::RebuildRecentMenu() {
  recentMenu_->clear();
  const QStringList files = recent_->Files();
  for (int i = 0; i < files.size(); ++i) {
    const QString& file = files[i];
    // &1 .. &9, then 1&0: a key for each entry.
    const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
    QAction* action = recentMenu_->addAction(
        QStringLiteral("%1  %2").arg(number, QDir::toNativeSeparators(file)));
    connect(action, &QAction::triggered, this, [this, file] {
      if (!OpenPath(file)) {
        recent_->Remove(file);
        RebuildRecentMenu();
      }
    });
  }
  if (!files.isEmpty()) recentMenu_->addSeparator();
  QAction* clear = recentMenu_->addAction(tr("&Clear List"), this, [this] {
    recent_->Clear();
    RebuildRecentMenu();
  });
  clear->setEnabled(!files.isEmpty());
}

void ViewerWindow::OpenWithDialog() {
  const QString start =
      follower_->IsOpen() ? QFileInfo(follower_->Path()).absolutePath() : QDir::currentPath();
  const QString file =
      QFileDialog::getOpenFileName(this, tr("Open Log"), start, tr("Logs (*.csv);;All files (*)"));
  if (!file.isEmpty()) OpenPath(file);
}

bool ViewerWindow::ExportPng(const QString& path) {
  if (!chart_->grab().save(path, "PNG")) {
    ShowError(tr("Cannot write %1.").arg(QDir::toNativeSeparators(path)));
    return false;
  }
  Exported(path);
  statusBar()->showMessage(tr("Chart saved to %1").arg(QDir::toNativeSeparators(path)), 5000);
  return true;
}

bool ViewerWindow::ExportCsv(const QString& path) {
  if (chart_->ShownDevices().isEmpty()) {
    ShowError(tr("No device is shown: tick the devices to export."));
    return false;
  }
  QString error;
  const long long rows = WriteCsvExport(columns_, chart_->ShownDevices(), chart_->FromMs(),
                                        chart_->ToMs(), path, &error);
  if (rows < 0) {
    ShowError(error);
    return false;
  }
  Exported(path);
  statusBar()->showMessage(
      tr("%1 rows saved to %2").arg(QLocale().toString(rows), QDir::toNativeSeparators(path)),
      5000);
  return true;
}

QString ViewerWindow::ExportFolder() const {
  const QString last = recent_->ExportFolder();
  if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return documents.isEmpty() ? QDir::homePath() : documents;
}

void ViewerWindow::Exported(const QString& path) {
  recent_->SetExportFolder(QFileInfo(path).absolutePath());
}

void ViewerWindow::ExportPngWithDialog() {
  // Never the log's folder: a logger's folder is not the operator's to write in.
  const QString suggested =
      QDir(ExportFolder())
          .filePath(QFileInfo(follower_->Path()).completeBaseName() + QStringLiteral(".png"));
  const QString file = QFileDialog::getSaveFileName(this, tr("Export Chart as PNG"), suggested,
                                                    tr("PNG images (*.png)"));
  if (!file.isEmpty()) ExportPng(WithSuffix(file, QStringLiteral("png")));
}

void ViewerWindow::ExportCsvWithDialog() {
  const QString suggested = QDir(ExportFolder())
                                .filePath(QFileInfo(follower_->Path()).completeBaseName() +
                                          tr(" extract") + QStringLiteral(".csv"));
  const QString file = QFileDialog::getSaveFileName(this, tr("Export Visible Data as CSV"),
                                                    suggested, tr("Logs (*.csv)"));
  if (!file.isEmpty()) ExportCsv(WithSuffix(file, QStringLiteral("csv")));
}

void ViewerWindow::OpenDaysWithDialog() {
  const QString start = folder_->IsOpen() ? folder_->Folder() : QString();
  const QString folder =
      QFileDialog::getExistingDirectory(this, tr("Open the Logs of Several Days"), start);
  if (folder.isEmpty()) return;
  QDialog dialog(this);
  dialog.setWindowTitle(tr("Days to Show"));
  auto* layout = new QFormLayout(&dialog);
  const QDate today = folder_->Today();
  auto* from = new QDateEdit(today.addDays(-6), &dialog);
  auto* to = new QDateEdit(today, &dialog);
  for (QDateEdit* edit : {from, to}) {
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  }
  layout->addRow(tr("From:"), from);
  layout->addRow(tr("To:"), to);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return;
  OpenFolder(folder, LogFolder::Span::Range(from->date(), to->date(), today));
}

void ViewerWindow::ShowAbout() {
  QMessageBox::about(this, tr("About Varnel View"),
                     tr("<p><b>Varnel View</b> %1</p>"
                        "<p>Charts the values of a Varnel log and follows the file while it "
                        "grows.</p>")
                         .arg(QApplication::applicationVersion()));
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFileOf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void ViewerWindow::dropEvent(QDropEvent* event) {
  const QString file = LocalFileOf(event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  OpenPath(file);
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
  recent_->Settings().setValue(kGeometryKey, saveGeometry());
  recent_->Settings().sync();
  QMainWindow::closeEvent(event);
}
