#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QUrl>
#include <functional>
#include <tuple>
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

  // Runs `inside` while the dialog is shown; `open` tells whether it was still open after.
  void OpenWith(const std::function<void()>& inside, bool* open = nullptr) {
    EXPECT_TRUE(RunInsideModal(
        form_, [this] { form_.Open(); },
        [&] {
          inside();
          QCoreApplication::processEvents();
          if (open) *open = form_.isVisible();
          form_.Button1->click();
        }))
        << "the dialog was still open at the bound";
    EXPECT_FALSE(form_.isVisible());
  }

  TForm3 form_;
  std::vector<QUrl> opened_;
  TForm3::UrlOpener previousOpener_;
};

TEST_F(VersionDialogTest, WindowControlsAndFocusTest) {
  EXPECT_EQ(form_.windowTitle(), "Version");
  EXPECT_EQ(form_.minimumSize(), QSize(247, 154));
  EXPECT_EQ(form_.maximumSize(), QSize(247, 154));
  EXPECT_FALSE(form_.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form_.windowFlags() & Qt::WindowMinimizeButtonHint);
  const std::tuple<QWidget*, const char*, QPoint> controls[] = {
      {form_.Image1, "Image1", {12, 20}},
      {form_.Label2, "Label2", {64, 29}},
      {form_.Label1, "Label1", {38, 74}},
      {form_.Label3, "Label3", {37, 92}},
      {form_.Button1, "Button1", {160, 120}}};
  for (const auto& [control, name, at] : controls) {
    SCOPED_TRACE(name);
    EXPECT_EQ(form_.findChild<QWidget*>(name), control);
    EXPECT_EQ(control->pos(), at);
    // Only the button takes the focus.
    EXPECT_EQ(control->focusPolicy() == Qt::NoFocus, control != form_.Button1);
  }
  EXPECT_EQ(form_.Image1->size(), QSize(32, 32));
  EXPECT_EQ(form_.Button1->size(), QSize(75, 25));
  EXPECT_EQ(form_.Button1->text(), "OK");
  EXPECT_EQ(form_.Label3->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(form_.Label3->text(), TForm3::kWebAddress);
  EXPECT_FALSE(form_.Label1->text().isEmpty());
  ASSERT_FALSE(form_.Image1->pixmap().isNull());
  EXPECT_EQ(form_.Image1->pixmap().toImage(), AppIconPixmap().toImage());
}

TEST_F(VersionDialogTest, EveryOpeningIsCentredAndShowsTheVersionStringTest) {
  for (int opening = 0; opening < 2; ++opening) {
    QPoint centre;
    QString shown;
    OpenWith([&] {
      centre = form_.frameGeometry().center();
      shown = form_.Label2->text();
    });
    EXPECT_EQ(shown, kVersionString);
    EXPECT_LE((centre - form_.screen()->geometry().center()).manhattanLength(), 2);
  }
  EXPECT_GE(form_.Label2->width(), form_.Label2->sizeHint().width());
  EXPECT_TRUE(RunInsideModal(
      form_, [this] { form_.Open(); }, [this] { form_.close(); }))
      << "the close box did not close the dialog";
}

TEST_F(VersionDialogTest, LinkClickRequestsTheAddressAndTheDialogStaysOpenTest) {
  bool open = false;
  OpenWith([&] { QTest::mouseClick(form_.Label3, Qt::LeftButton); }, &open);
  EXPECT_EQ(opened_, std::vector<QUrl>{QUrl(TForm3::kWebAddress)});
  EXPECT_TRUE(open);
}

TEST_F(VersionDialogTest, ClicksElsewhereDoNothingTest) {
  bool open = false;
  OpenWith(
      [&] {
        for (QWidget* control : {form_.Image1, form_.Label1, form_.Label2}) {
          QTest::mouseClick(control, Qt::LeftButton);
        }
        QTest::mouseClick(&form_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 140));
        // Pressed on the link but released elsewhere is no click.
        QTest::mousePress(form_.Label3, Qt::LeftButton);
        QTest::mouseRelease(form_.Label3, Qt::LeftButton, Qt::NoModifier, QPoint(-20, -20));
      },
      &open);
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(open);
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
