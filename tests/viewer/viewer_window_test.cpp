#include "viewer/viewer_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QLineSeries>
#include <QMenuBar>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>

#include "tests/net/wait_until.h"
#include "tests/test_support.h"
#include "tests/viewer/log_text.h"
#include "viewer/device_list.h"
#include "viewer/folder_follower.h"
#include "viewer/log_chart_view.h"
#include "viewer/log_follower.h"
#include "viewer/recent_files.h"
#include "viewer/viewer_translations.h"

namespace {

namespace fs = std::filesystem;

class ViewerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    options_.settingsPath = dir_.filePath(QStringLiteral("settings.ini"));
    options_.checkIntervalMs = 50;
  }

  ViewerWindow& Window() {
    if (!window_) {
      window_ = std::make_unique<ViewerWindow>(options_);
      window_->SetErrorSink([this](const QString& message) { errors_.append(message); });
      window_->resize(1000, 600);
      window_->show();
    }
    return *window_;
  }

  QString Write(const QString& name, const std::string& text) {
    const QString path = dir_.filePath(name);
    WriteFileText(path.toStdString(), text);
    return path;
  }

  QString Log(int devices, int rows) {
    return Write(QStringLiteral("2004-01-10 09-00-00.csv"), LogText(devices, rows));
  }

  QString ListText(int device, int column) const {
    return window_->Devices()->topLevelItem(device)->text(column);
  }

  QTemporaryDir dir_;
  ViewerWindow::Options options_;
  std::unique_ptr<ViewerWindow> window_;
  QStringList errors_;
};

TEST_F(ViewerWindowTest, OpensWithTheFirstEightDevicesCharted) {
  ASSERT_TRUE(Window().OpenPath(Log(12, 100)));
  LogChartView* chart = Window().Chart();
  EXPECT_EQ(chart->ShownDevices(), QList<int>({0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Window().Devices()->CheckedDevices(), chart->ShownDevices());
  for (const int device : chart->ShownDevices()) {
    ASSERT_NE(chart->SeriesOf(device), nullptr);
    EXPECT_EQ(chart->SeriesOf(device)->count(), 100);
    EXPECT_EQ(chart->SeriesOf(device)->name(), ListText(device, 0));
  }
  EXPECT_EQ(ListText(0, 0), QStringLiteral("DM00100"));
  EXPECT_EQ(ListText(11, 1), QStringLiteral("1199"));  // 11 * 100 + row 99
  EXPECT_TRUE(Window().windowTitle().contains(QStringLiteral("2004-01-10 09-00-00.csv")));
  EXPECT_TRUE(Window().StatusText().contains(QStringLiteral("100 rows")))
      << Window().StatusText().toStdString();
  EXPECT_TRUE(errors_.isEmpty());
}

struct ChoiceCase {
  const char* name;
  int devices;
  QStringList named;
  QList<int> shown;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.name; }

class ViewerWindowChoiceTest : public ViewerWindowTest,
                               public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ViewerWindowChoiceTest, OpensWithTheNamedOrFirstDevices) {
  options_.devices = GetParam().named;
  ASSERT_TRUE(Window().OpenPath(Log(GetParam().devices, 5)));
  EXPECT_EQ(Window().Chart()->ShownDevices(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, ViewerWindowChoiceTest,
    ::testing::Values(ChoiceCase{"FewerThanEight", 3, {}, {0, 1, 2}},
                      ChoiceCase{"NamedOnes",
                                 20,
                                 {QStringLiteral("DM00105"), QStringLiteral("DM00119")},
                                 {5, 19}},
                      ChoiceCase{"NoneOfTheNamedFallsBackToTheFirst",
                                 9,
                                 {QStringLiteral("DM00999")},
                                 {0, 1, 2, 3, 4, 5, 6, 7}}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST_F(ViewerWindowTest, FolderOpensItsNewestLog) {
  Write(QStringLiteral("2004-01-09 08-00-00.csv"), LogText(1, 3));
  Write(QStringLiteral("2004-01-10 07-00-00.csv"), LogText(2, 4));
  ASSERT_TRUE(Window().OpenPath(dir_.path()));
  EXPECT_EQ(QFileInfo(Window().Follower().Path()).fileName(),
            QStringLiteral("2004-01-10 07-00-00.csv"));
  EXPECT_EQ(Window().Log().RowCount(), 4u);
}

TEST_F(ViewerWindowTest, FolderMovesOnToANewerLogKeepingTheDevicesShown) {
  Write(QStringLiteral("2004-01-10 07-00-00.csv"), LogText(20, 4));
  ASSERT_TRUE(Window().OpenPath(dir_.path()));
  Window().Devices()->SetChecked({3, 5});
  EXPECT_TRUE(Window().StatusText().contains(QStringLiteral("2004-01-10 07-00-00.csv")))
      << Window().StatusText().toStdString();

  // The logger restarted; the new log lists the devices from another one on.
  Write(QStringLiteral("2004-01-10 08-00-00.csv"),
        "YYYY-MM-DD,HH:MM:SS,DM00105,DM00103\r\n2004-01-10,08:00:00,5,3\r\n");
  ASSERT_TRUE(WaitUntil(
      [&] { return QFileInfo(Window().Follower().Path()).fileName().startsWith("2004-01-10 08"); },
      5000));
  ASSERT_TRUE(WaitUntil([&] { return Window().Chart()->ShownDevices().size() == 2; }, 5000));
  EXPECT_EQ(Window().Log().RowCount(), 1u);
  QStringList shown;
  for (const int device : Window().Chart()->ShownDevices()) {
    shown << Window().Log().DeviceName(device);
  }
  EXPECT_EQ(shown, (QStringList{QStringLiteral("DM00105"), QStringLiteral("DM00103")}));
  EXPECT_TRUE(Window().StatusText().contains(QStringLiteral("2004-01-10 08-00-00.csv")))
      << Window().StatusText().toStdString();
  EXPECT_TRUE(Window().StatusText().contains(QStringLiteral("following")));
  EXPECT_TRUE(Window().windowTitle().contains(QStringLiteral("2004-01-10 08-00-00.csv")));
}

TEST_F(ViewerWindowTest, DaysOfAFolderAreOneTimeline) {
  options_.days = 2;
  Window().Folder().SetClock([] { return QDateTime(QDate(2004, 1, 11), QTime(12, 0)); });
  Write(QStringLiteral("2004-01-09.csv"), LogText(2, 1));
  Write(QStringLiteral("2004-01-10.csv"), LogText(2, 3));
  Write(QStringLiteral("2004-01-11.csv"), LogText(2, 2, 3));
  ASSERT_TRUE(Window().OpenPath(dir_.path()));
  ASSERT_TRUE(WaitUntil([&] { return Window().Follower().CaughtUp(); }, 5000));
  EXPECT_EQ(Window().Log().RowCount(), 5u);
  EXPECT_TRUE(Window().StatusText().contains(QStringLiteral("2004-01-11.csv and 1 older log")))
      << Window().StatusText().toStdString();
}

// Exports never go to the log's folder, which under the logger's unit is not the operator's.
TEST_F(ViewerWindowTest, ExportsStartInTheDocumentsThenWhereTheLastOneWent) {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  const QString fallback = documents.isEmpty() ? QDir::homePath() : documents;
  ASSERT_TRUE(Window().OpenPath(Log(2, 10)));
  EXPECT_EQ(Window().ExportFolder(), fallback);

  const QString chosen = dir_.filePath(QStringLiteral("exports"));
  ASSERT_TRUE(QDir().mkpath(chosen));
  ASSERT_TRUE(Window().ExportCsv(chosen + QStringLiteral("/extract.csv")));
  EXPECT_EQ(Window().ExportFolder(), chosen);
  // Kept in the settings for the next start.
  window_.reset();
  EXPECT_EQ(Window().ExportFolder(), chosen);
  // A folder that is gone since: the documents again.
  ASSERT_TRUE(QDir(chosen).removeRecursively());
  EXPECT_EQ(Window().ExportFolder(), fallback);
}

TEST_F(ViewerWindowTest, FollowsRowsAppendedToTheFile) {
  const QString path = Log(2, 100);
  ASSERT_TRUE(Window().OpenPath(path));
  {
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::app);
    out << LogText(2, 5, 100, false);
  }
  ASSERT_TRUE(WaitUntil([&] { return Window().Chart()->SeriesOf(0)->count() == 105; }, 5000));
  const QPointF last = Window().Chart()->SeriesOf(1)->points().back();
  EXPECT_EQ(last.y(), 204);  // device 1, row 104
  EXPECT_EQ(static_cast<int64_t>(last.x()), LocalMs(2004, 1, 10, 9, 1, 44));
  EXPECT_EQ(ListText(1, 1), QStringLiteral("204"));
  EXPECT_TRUE(Window().StatusText().contains(QStringLiteral("105 rows")));
}

TEST_F(ViewerWindowTest, ReplacedFileKeepsTheDevicesShown) {
  const QString path = Log(4, 10);
  ASSERT_TRUE(Window().OpenPath(path));
  Window().Devices()->SetChecked({3});
  // The same device now second of a different set.
  const std::string next = "YYYY-MM-DD,HH:MM:SS,TM00001,DM00103\r\n2004-01-11,10:00:00,1,77\r\n";
  WriteFileText((path + QStringLiteral(".new")).toStdString(), next);
  fs::rename((path + QStringLiteral(".new")).toStdString(), path.toStdString());
  ASSERT_TRUE(WaitUntil([&] { return Window().Log().RowCount() == 1; }, 5000));
  ASSERT_EQ(Window().Chart()->ShownDevices(), QList<int>({1}));
  EXPECT_EQ(Window().Chart()->SeriesOf(1)->name(), QStringLiteral("DM00103"));
  EXPECT_EQ(Window().Chart()->SeriesOf(1)->points().back().y(), 77);
}

TEST_F(ViewerWindowTest, DeletedFileKeepsWhatWasShown) {
  const QString path = Log(2, 30);
  ASSERT_TRUE(Window().OpenPath(path));
  QFile::remove(path);
  ASSERT_TRUE(WaitUntil([&] { return Window().Follower().FileMissing(); }, 5000));
  EXPECT_EQ(Window().Chart()->SeriesOf(0)->count(), 30);
  EXPECT_TRUE(Window().StatusText().contains(QStringLiteral("deleted")))
      << Window().StatusText().toStdString();
}

TEST_F(ViewerWindowTest, SkippedLinesAreCountedInTheStatusLine) {
  ASSERT_TRUE(Window().OpenPath(Write(QStringLiteral("x.csv"), LogText(1, 2) + "junk\r\n\r\n")));
  EXPECT_TRUE(
      Window().StatusText().contains(QStringLiteral("2 lines skipped (the first is line 4)")))
      << Window().StatusText().toStdString();
}

TEST_F(ViewerWindowTest, ExportsTheChartAsPng) {
  ASSERT_TRUE(Window().OpenPath(Log(3, 50)));
  const QString png = dir_.filePath(QStringLiteral("chart.png"));
  ASSERT_TRUE(Window().ExportPng(png));
  const QImage image(png);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), Window().Chart()->size() * Window().Chart()->devicePixelRatioF());
  // Not a blank picture: the lines' colours are in it.
  const QRgb line = Window().Chart()->ColorOf(0).rgb();
  bool found = false;
  for (int y = 0; y < image.height() && !found; ++y) {
    for (int x = 0; x < image.width() && !found; ++x) found = image.pixel(x, y) == line;
  }
  EXPECT_TRUE(found);
}

TEST_F(ViewerWindowTest, ExportsTheShownDevicesOverTheVisibleRange) {
  ASSERT_TRUE(Window().OpenPath(Log(3, 600)));
  Window().Devices()->SetChecked({0, 2});
  const auto from = static_cast<double>(LocalMs(2004, 1, 10, 9, 1, 0));
  Window().Chart()->ZoomTo(from, from + 9000, false, 0, 0);
  const QString csv = dir_.filePath(QStringLiteral("extract.csv"));
  ASSERT_TRUE(Window().ExportCsv(csv));
  std::string expected = "YYYY-MM-DD,HH:MM:SS,DM00100,DM00102\r\n";
  for (int row = 60; row <= 69; ++row) {
    expected += "2004-01-10,09:01:" + std::to_string(row - 60 + 100).substr(1) + "," +
                std::to_string(row) + "," + std::to_string(200 + row) + "\r\n";
  }
  EXPECT_EQ(ReadFileText(csv.toStdString()), expected);

  Window().Devices()->SetChecked({});
  EXPECT_FALSE(Window().ExportCsv(csv));
  EXPECT_EQ(errors_.size(), 1);
}

TEST_F(ViewerWindowTest, FailedOpenKeepsTheLogShown) {
  ASSERT_TRUE(Window().OpenPath(Log(2, 10)));
  const QString title = Window().windowTitle();
  EXPECT_FALSE(Window().OpenPath(dir_.filePath(QStringLiteral("absent.csv"))));
  QTemporaryDir empty;
  EXPECT_FALSE(Window().OpenPath(empty.path()));
  EXPECT_EQ(errors_.size(), 2);
  EXPECT_TRUE(errors_.value(1).contains(empty.path()));
  EXPECT_EQ(Window().windowTitle(), title);
  EXPECT_EQ(Window().Chart()->SeriesOf(0)->count(), 10);
}

TEST_F(ViewerWindowTest, DroppedFileIsOpened) {
  const QString path = Log(2, 7);
  auto* mime = new QMimeData;
  mime->setUrls({QUrl::fromLocalFile(path)});
  Window();
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Window(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Window(), &drop);
  EXPECT_EQ(Window().Follower().Path(), QFileInfo(path).absoluteFilePath());
  EXPECT_EQ(Window().Log().RowCount(), 7u);
  delete mime;
}

TEST_F(ViewerWindowTest, RecentFilesAreKeptNewestFirstAcrossWindows) {
  const QString first = Write(QStringLiteral("a.csv"), LogText(1, 1));
  const QString second = Write(QStringLiteral("b.csv"), LogText(1, 1));
  ASSERT_TRUE(Window().OpenPath(first));
  ASSERT_TRUE(Window().OpenPath(second));
  ASSERT_TRUE(Window().OpenPath(first));
  window_.reset();
  EXPECT_EQ(Window().Recent().Files(), QStringList({first, second}));
  const QList<QAction*> menus = Window().menuBar()->actions();
  ASSERT_FALSE(menus.isEmpty());
  QMenu* recent = nullptr;
  for (QAction* action : menus.first()->menu()->actions()) {
    if (action->menu() != nullptr) recent = action->menu();
  }
  ASSERT_NE(recent, nullptr);
  ASSERT_GE(recent->actions().size(), 2);
  EXPECT_TRUE(recent->actions().first()->text().endsWith(first));
  recent->actions().value(1)->trigger();
  EXPECT_EQ(Window().Follower().Path(), second);
}

TEST(ViewerTranslationsTest, JapaneseLocaleGetsJapaneseCaptions) {
  EXPECT_FALSE(InstallViewerTranslations(qApp, QLocale(QLocale::English, QLocale::UnitedStates)));
  ASSERT_TRUE(InstallViewerTranslations(qApp, QLocale(QLocale::Japanese, QLocale::Japan)));
  {
    QTemporaryDir dir;
    ViewerWindow::Options options;
    options.settingsPath = dir.filePath(QStringLiteral("settings.ini"));
    ViewerWindow window(options);
    EXPECT_EQ(window.menuBar()->actions().value(0)->text(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(window.Devices()->headerItem()->text(0), QStringLiteral("デバイス"));
  }
  for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
}

}  // namespace
