#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QUrl>
#include <vector>

#include "app/version.h"
#include "tests/ui/modal_runner.h"
#include "ui/app_icon.h"
#include "ui/version_dialog.h"

namespace {

class VersionDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousOpener_ = TForm3::SetUrlOpener([this](const QUrl& url) { opened_.push_back(url); });
  }
  void TearDown() override { TForm3::SetUrlOpener(previousOpener_); }

  void OpenWith(const std::function<void()>& inside) {
    EXPECT_TRUE(RunInsideModal(
        form_, [this] { form_.Open(); }, inside))
        << "the dialog was still open at the bound";
    EXPECT_FALSE(form_.isVisible());
  }

  TForm3 form_;
  std::vector<QUrl> opened_;
  TForm3::UrlOpener previousOpener_;
};

TEST_F(VersionDialogTest, WindowIsFixedSizeWithoutMaximiseTest) {
  EXPECT_EQ(form_.windowTitle(), "Version");
  EXPECT_EQ(form_.minimumSize(), QSize(247, 154));
  EXPECT_EQ(form_.maximumSize(), QSize(247, 154));
  EXPECT_FALSE(form_.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form_.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(VersionDialogTest, ControlsStandAtTheirPlacesTest) {
  EXPECT_EQ(form_.Image1->geometry(), QRect(12, 20, 32, 32));
  EXPECT_EQ(form_.Label2->pos(), QPoint(64, 29));
  EXPECT_EQ(form_.Label1->pos(), QPoint(38, 74));
  EXPECT_EQ(form_.Label3->pos(), QPoint(37, 92));
  EXPECT_EQ(form_.Button1->geometry(), QRect(160, 120, 75, 25));
  EXPECT_EQ(form_.Button1->text(), "OK");
  EXPECT_EQ(form_.Label3->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(form_.Label3->text(), TForm3::kWebAddress);
  EXPECT_FALSE(form_.Label1->text().isEmpty());
  for (const char* name : {"Image1", "Label1", "Label2", "Label3", "Button1"}) {
    EXPECT_NE(form_.findChild<QWidget*>(name), nullptr) << name;
  }
}

TEST_F(VersionDialogTest, OnlyTheButtonTakesTheFocusTest) {
  EXPECT_EQ(form_.Image1->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(form_.Label1->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(form_.Label2->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(form_.Label3->focusPolicy(), Qt::NoFocus);
  EXPECT_NE(form_.Button1->focusPolicy(), Qt::NoFocus);
}

TEST_F(VersionDialogTest, ImageShowsTheApplicationIconTest) {
  const QPixmap shown = form_.Image1->pixmap();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.toImage(), AppIconPixmap().toImage());
}

TEST_F(VersionDialogTest, EveryOpeningShowsTheVersionStringTest) {
  std::vector<QString> shown;
  for (int i = 0; i < 2; ++i) {
    OpenWith([&] {
      shown.push_back(form_.Label2->text());
      QTest::mouseClick(form_.Button1, Qt::LeftButton);
    });
  }
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], kVersionString);
  EXPECT_EQ(shown[1], kVersionString);
  EXPECT_GE(form_.Label2->width(), form_.Label2->sizeHint().width());
}

TEST_F(VersionDialogTest, OpeningCentresTheDialogOnTheScreenTest) {
  QPoint centre;
  OpenWith([&] {
    centre = form_.frameGeometry().center();
    form_.Button1->click();
  });
  EXPECT_LE((centre - form_.screen()->geometry().center()).manhattanLength(), 2);
}

TEST_F(VersionDialogTest, LinkClickRequestsTheAddressAndTheDialogStaysOpenTest) {
  bool openAfterClick = false;
  OpenWith([&] {
    QTest::mouseClick(form_.Label3, Qt::LeftButton);
    QCoreApplication::processEvents();
    openAfterClick = form_.isVisible();
    form_.Button1->click();
  });
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], QUrl(TForm3::kWebAddress));
  EXPECT_TRUE(openAfterClick);
}

TEST_F(VersionDialogTest, ClicksElsewhereDoNothingTest) {
  bool stillOpen = false;
  OpenWith([&] {
    QTest::mouseClick(form_.Image1, Qt::LeftButton);
    QTest::mouseClick(form_.Label1, Qt::LeftButton);
    QTest::mouseClick(form_.Label2, Qt::LeftButton);
    QTest::mouseClick(&form_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 140));
    // Pressed on the link but released elsewhere is no click.
    QTest::mousePress(form_.Label3, Qt::LeftButton);
    QTest::mouseRelease(form_.Label3, Qt::LeftButton, Qt::NoModifier, QPoint(-20, -20));
    QCoreApplication::processEvents();
    stillOpen = form_.isVisible();
    form_.Button1->click();
  });
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(stillOpen);
}

TEST_F(VersionDialogTest, CloseBoxClosesTheDialogTest) {
  OpenWith([&] { form_.close(); });
}

TEST(AppIconTest, IconIsThirtyTwoPixelsSquareWithAtMostSixteenColoursTest) {
  const QImage image = AppIconPixmap().toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(image.size(), QSize(32, 32));
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  }
  EXPECT_LE(colours.size(), 16);
  EXPECT_GT(colours.size(), 2);
  EXPECT_FALSE(AppIcon().isNull());
}

}  // namespace
