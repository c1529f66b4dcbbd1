#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <functional>
#include <initializer_list>
#include <tuple>
#include <vector>

#include "app/monitor_settings.h"
#include "tests/ui/modal_runner.h"
#include "ui/settings_dialog.h"
#include "ui/spin_edit.h"

namespace {

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousBeeper_ = TSpinEdit::SetBeeper([this] { ++beeps_; });
    settings_.IPAddress = "192.0.2.1";
  }
  void TearDown() override { TSpinEdit::SetBeeper(previousBeeper_); }

  // Opens the dialog on settings_ and runs `inside` while it is shown.
  void OpenWith(const std::function<void()>& inside) {
    EXPECT_TRUE(RunInsideModal(
        form_, [this] { form_.Open(settings_); }, inside))
        << "the dialog was still open at the bound";
    EXPECT_FALSE(form_.isVisible());
  }

  // Focuses a spin field from the keyboard and replaces its text by typing.
  static void Retype(TSpinEdit* spin, const QString& text) {
    spin->setFocus(Qt::TabFocusReason);
    spin->Editor()->selectAll();
    QTest::keyClick(spin->Editor(), Qt::Key_Backspace);
    QTest::keyClicks(spin->Editor(), text);
  }

  TForm2 form_;
  MonitorSettings settings_;
  int beeps_ = 0;
  TSpinEdit::Beeper previousBeeper_;
};

// --- Window and controls ---

TEST_F(SettingsDialogTest, WindowIsFixedSizeWithoutMaximiseTest) {
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("設定"));
  EXPECT_EQ(form_.minimumSize(), QSize(297, 309));
  EXPECT_EQ(form_.maximumSize(), QSize(297, 309));
  const Qt::WindowFlags flags = form_.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
}

TEST_F(SettingsDialogTest, FieldsAndButtonsStandAtTheirPlacesTest) {
  const std::vector<std::pair<QWidget*, QRect>> expected = {
      {form_.Edit1, {88, 14, 141, 20}},      {form_.SpinEdit1, {88, 44, 141, 21}},
      {form_.SpinEdit2, {88, 73, 141, 21}},  {form_.SpinEdit3, {88, 103, 141, 21}},
      {form_.ComboBox1, {88, 133, 141, 20}}, {form_.SpinEdit4, {88, 163, 141, 21}},
      {form_.SpinEdit5, {88, 192, 141, 21}}, {form_.Button1, {14, 271, 75, 25}},
      {form_.Button2, {187, 271, 75, 25}},   {form_.ComboBox2, {87, 224, 141, 20}},
  };
  for (const auto& [control, rect] : expected) {
    EXPECT_EQ(control->geometry(), rect) << control->objectName().toStdString();
  }
  EXPECT_EQ(form_.Button1->text(), "OK");
  EXPECT_EQ(form_.Button2->text(), QStringLiteral("キャンセル"));
}

TEST_F(SettingsDialogTest, LabelsStandAtTheirPlacesWithTheirCaptionsTest) {
  struct Expected {
    QLabel* label;
    const char* name;
    const char* caption;
    QPoint at;
  };
  const Expected labels[] = {
      {form_.Label1, "Label1", "IPアドレス", {13, 20}},
      {form_.Label2, "Label2", "ポート番号", {14, 50}},
      {form_.Label3, "Label3", "繰り返し間隔", {14, 79}},
      {form_.Label4, "Label4", "タイムアウト", {13, 109}},
      {form_.Label5, "Label5", "デバイス名", {14, 138}},
      {form_.Label6, "Label6", "先頭アドレス", {13, 168}},
      {form_.Label7, "Label7", "個数", {13, 197}},
      {form_.Label8, "Label8", "[秒]", {232, 78}},
      {form_.Label9, "Label9", "[ミリ秒]", {232, 109}},
      {form_.Label10, "Label10", "符号", {14, 228}},
      {form_.Label11, "Label11", "[10進数]", {232, 169}},
  };
  for (const Expected& e : labels) {
    EXPECT_EQ(e.label->objectName(), e.name);
    EXPECT_EQ(e.label->text(), QString::fromUtf8(e.caption)) << e.name;
    EXPECT_EQ(e.label->pos(), e.at) << e.name;
  }
}

TEST_F(SettingsDialogTest, ControlsAreFoundByTheirNamesTest) {
  for (const char* name : {"Edit1", "SpinEdit1", "SpinEdit2", "SpinEdit3", "SpinEdit4", "SpinEdit5",
                           "ComboBox1", "ComboBox2", "Button1", "Button2"}) {
    EXPECT_NE(form_.findChild<QWidget*>(name), nullptr) << name;
  }
}

TEST_F(SettingsDialogTest, SpinFieldsHaveTheirRangesTest) {
  const std::vector<std::tuple<TSpinEdit*, int32_t, int32_t>> ranges = {
      {form_.SpinEdit1, 0, 65535}, {form_.SpinEdit2, 0, 60},  {form_.SpinEdit3, 100, 5000},
      {form_.SpinEdit4, 0, 0},     {form_.SpinEdit5, 1, 100},
  };
  for (const auto& [spin, min, max] : ranges) {
    EXPECT_EQ(spin->MinValue(), min) << spin->objectName().toStdString();
    EXPECT_EQ(spin->MaxValue(), max) << spin->objectName().toStdString();
    EXPECT_EQ(spin->Increment(), 1);
  }
  EXPECT_TRUE(form_.ComboBox1->isEditable());
  EXPECT_TRUE(form_.ComboBox2->isEditable());
}

TEST_F(SettingsDialogTest, TabVisitsTheControlsInOrderWithTheSignListLastTest) {
  form_.show();
  QApplication::setActiveWindow(&form_);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_, 5000));
  QWidget* const order[] = {form_.Edit1,     form_.SpinEdit1, form_.SpinEdit2, form_.SpinEdit3,
                            form_.ComboBox1, form_.SpinEdit4, form_.SpinEdit5, form_.Button1,
                            form_.Button2,   form_.ComboBox2, form_.Edit1};
  form_.Edit1->setFocus(Qt::TabFocusReason);
  for (QWidget* expected : order) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == expected || expected->isAncestorOf(focus))
        << "expected " << expected->objectName().toStdString() << ", focus in "
        << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  form_.hide();
}

TEST_F(SettingsDialogTest, OpeningCentresTheDialogOnTheScreenTest) {
  QPoint centre;
  OpenWith([&] {
    centre = form_.frameGeometry().center();
    form_.Button2->click();
  });
  const QPoint screenCentre = form_.screen()->geometry().center();
  EXPECT_LE((centre - screenCentre).manhattanLength(), 2);
}

// --- Opening ---

TEST_F(SettingsDialogTest, OpeningFillsTheListsWithTheirItemsInOrderTest) {
  form_.ComboBox1->addItem("stale");
  OpenWith([&] {
    ASSERT_EQ(form_.ComboBox1->count(), 2);
    EXPECT_EQ(form_.ComboBox1->itemText(0), QStringLiteral("データメモリ(DM)"));
    EXPECT_EQ(form_.ComboBox1->itemText(1), QStringLiteral("テンポラリメモリ(TM)"));
    ASSERT_EQ(form_.ComboBox2->count(), 2);
    EXPECT_EQ(form_.ComboBox2->itemText(0), QStringLiteral("あり(-32768\uFF5E+32767)"));
    EXPECT_EQ(form_.ComboBox2->itemText(1), QStringLiteral("なし(0\uFF5E65535)"));
    form_.Button2->click();
  });
}

TEST_F(SettingsDialogTest, OpeningShowsEverySettingTest) {
  settings_ = {"10.0.0.7", 9600, 5, 250, 1, 300, 16, 1};
  OpenWith([&] {
    EXPECT_EQ(form_.Edit1->text(), "10.0.0.7");
    EXPECT_EQ(form_.SpinEdit1->Text(), "9600");
    EXPECT_EQ(form_.SpinEdit2->Text(), "5");
    EXPECT_EQ(form_.SpinEdit3->Text(), "250");
    EXPECT_EQ(form_.ComboBox1->currentIndex(), 1);
    EXPECT_EQ(form_.ComboBox1->currentText(), QStringLiteral("テンポラリメモリ(TM)"));
    EXPECT_EQ(form_.SpinEdit4->Text(), "300");
    EXPECT_EQ(form_.SpinEdit5->Text(), "16");
    EXPECT_EQ(form_.ComboBox2->currentIndex(), 1);
    form_.Button2->click();
  });
}

TEST_F(SettingsDialogTest, TimeOutBelowRangeShowsClampedAndOkStoresItTest) {
  settings_.TimeOut = 50;
  OpenWith([&] {
    EXPECT_EQ(form_.SpinEdit3->Text(), "100");
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.TimeOut, 100);
}

TEST_F(SettingsDialogTest, CancelCopiesNothingBackTest) {
  settings_.TimeOut = 50;
  settings_.DeviceNum = 500;
  const MonitorSettings before = settings_;
  OpenWith([&] {
    Retype(form_.SpinEdit1, "1234");
    QTest::mouseClick(form_.Button2, Qt::LeftButton);
  });
  EXPECT_EQ(settings_, before);
}

TEST_F(SettingsDialogTest, CloseBoxCopiesNothingBackTest) {
  settings_.TimeOut = 50;
  const MonitorSettings before = settings_;
  OpenWith([&] {
    form_.Edit1->setText("1.1.1.1");
    form_.close();
  });
  EXPECT_EQ(settings_, before);
}

TEST_F(SettingsDialogTest, CountAboveRangeShowsHundredAndFirstAddressKeepsItsSignTest) {
  settings_.DeviceNum = 500;
  settings_.DeviceStart = -20;
  OpenWith([&] {
    EXPECT_EQ(form_.SpinEdit5->Text(), "100");
    EXPECT_EQ(form_.SpinEdit4->Text(), "-20");
    form_.Button1->click();
  });
  EXPECT_EQ(settings_.DeviceNum, 100);
  EXPECT_EQ(settings_.DeviceStart, -20);
}

TEST_F(SettingsDialogTest, UnknownDeviceKindOpensBlankAndOkStores255Test) {
  settings_.DeviceName = 7;
  settings_.Unsigned = 5;
  OpenWith([&] {
    EXPECT_EQ(form_.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(form_.ComboBox1->currentText(), "");
    EXPECT_EQ(form_.ComboBox2->currentIndex(), -1);
    form_.Button1->click();
  });
  EXPECT_EQ(settings_.DeviceName, 255);
  EXPECT_EQ(settings_.Unsigned, -1);
}

TEST_F(SettingsDialogTest, EveryOpeningOverwritesWhatTheLastOneLeftTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit2, "33");
    form_.ComboBox1->setCurrentIndex(1);
    form_.Button2->click();
  });
  OpenWith([&] {
    EXPECT_EQ(form_.SpinEdit2->Text(), "1");
    EXPECT_EQ(form_.ComboBox1->currentIndex(), 0);
    form_.Button2->click();
  });
}

// --- OK ---

TEST_F(SettingsDialogTest, OkCopiesEveryFieldBackTest) {
  OpenWith([&] {
    form_.Edit1->setText("127.0.0.1");
    Retype(form_.SpinEdit1, "9000");
    Retype(form_.SpinEdit2, "0");
    Retype(form_.SpinEdit3, "2500");
    form_.ComboBox1->setCurrentIndex(1);
    Retype(form_.SpinEdit4, "100000");
    Retype(form_.SpinEdit5, "8");
    form_.ComboBox2->setCurrentIndex(1);
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  const MonitorSettings expected{"127.0.0.1", 9000, 0, 2500, 1, 100000, 8, 1};
  EXPECT_EQ(settings_, expected);
}

TEST_F(SettingsDialogTest, PortTypedBeyondRangeBecomesMaxWhenFocusLeavesTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit1, "70000");
    QTest::keyClick(form_.SpinEdit1->Editor(), Qt::Key_Tab);
    EXPECT_EQ(form_.SpinEdit1->Text(), "65535");
    Retype(form_.SpinEdit1, "0");
    QTest::keyClick(form_.SpinEdit1->Editor(), Qt::Key_Tab);
    EXPECT_EQ(form_.SpinEdit1->Text(), "0");
    form_.Button2->click();
  });
}

TEST_F(SettingsDialogTest, ClickingOkRightAfterTypingStoresTheClampedNumberTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit1, "70000");
    // The click moves the focus to OK first, and the field clamps on leaving.
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.PortNo, 65535);
}

TEST_F(SettingsDialogTest, FirstAddressTakesAnyNumberAndEmptyStoresZeroTest) {
  settings_.DeviceStart = 12;
  OpenWith([&] {
    Retype(form_.SpinEdit4, "-5");
    QTest::keyClick(form_.SpinEdit4->Editor(), Qt::Key_Tab);
    EXPECT_EQ(form_.SpinEdit4->Text(), "-5");
    Retype(form_.SpinEdit4, "");
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.DeviceStart, 0);
}

TEST_F(SettingsDialogTest, FieldsThatAreNoNumberStoreTheirMinimumTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit1, "-");
    Retype(form_.SpinEdit2, "");
    Retype(form_.SpinEdit3, "+");
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.PortNo, 0);
  EXPECT_EQ(settings_.Interval, 0);
  EXPECT_EQ(settings_.TimeOut, 100);
}

// --- Count clamp ---

TEST_F(SettingsDialogTest, CountIsClampedWhileTypedTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit5, "");
    EXPECT_EQ(form_.SpinEdit5->Text(), "");
    QTest::keyClick(form_.SpinEdit5->Editor(), Qt::Key_2);
    EXPECT_EQ(form_.SpinEdit5->Text(), "2");
    QTest::keyClick(form_.SpinEdit5->Editor(), Qt::Key_5);
    EXPECT_EQ(form_.SpinEdit5->Text(), "25");
    QTest::keyClick(form_.SpinEdit5->Editor(), Qt::Key_0);
    EXPECT_EQ(form_.SpinEdit5->Text(), "100");
    Retype(form_.SpinEdit5, "0");
    EXPECT_EQ(form_.SpinEdit5->Text(), "1");
    form_.Button2->click();
  });
}

TEST_F(SettingsDialogTest, EmptyCountStaysEmptyAndOkStoresOneTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit5, "");
    QTest::keyClick(form_.SpinEdit5->Editor(), Qt::Key_Tab);
    EXPECT_EQ(form_.SpinEdit5->Text(), "");
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.DeviceNum, 1);
}

TEST_F(SettingsDialogTest, PastedCountBeyondRangeIsClampedAtOnceTest) {
  OpenWith([&] {
    form_.SpinEdit5->SetText("-7");
    EXPECT_EQ(form_.SpinEdit5->Text(), "1");
    form_.SpinEdit5->SetText("123456");
    EXPECT_EQ(form_.SpinEdit5->Text(), "100");
    form_.Button2->click();
  });
}

// --- Typed characters ---

TEST_F(SettingsDialogTest, LetterInSpinFieldBeepsAndIsDroppedTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit2, "1");
    QTest::keyClick(form_.SpinEdit2->Editor(), Qt::Key_K);
    EXPECT_EQ(form_.SpinEdit2->Text(), "1");
    form_.Button2->click();
  });
  EXPECT_EQ(beeps_, 1);
}

TEST_F(SettingsDialogTest, AddressFieldDropsOtherCharactersSilentlyTest) {
  OpenWith([&] {
    form_.Edit1->setFocus(Qt::TabFocusReason);
    form_.Edit1->clear();
    QTest::keyClicks(form_.Edit1, "1a9 2.-3x/4");
    EXPECT_EQ(form_.Edit1->text(), "192.34");
    QTest::keyClick(form_.Edit1, Qt::Key_Backspace);
    EXPECT_EQ(form_.Edit1->text(), "192.3");
    form_.Button2->click();
  });
  EXPECT_EQ(beeps_, 0);
}

TEST_F(SettingsDialogTest, AddressFieldTakesOddDottedTextsAsTypedTest) {
  OpenWith([&] {
    form_.Edit1->setFocus(Qt::TabFocusReason);
    form_.Edit1->clear();
    QTest::keyClicks(form_.Edit1, "999.1.2");
    EXPECT_EQ(form_.Edit1->text(), "999.1.2");
    form_.Edit1->clear();
    QTest::keyClicks(form_.Edit1, "1..2");
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.IPAddress, "1..2");
}

TEST_F(SettingsDialogTest, AddressFieldAcceptsPastedTextTest) {
  OpenWith([&] {
    form_.Edit1->setFocus(Qt::TabFocusReason);
    form_.Edit1->clear();
    QApplication::clipboard()->setText("localhost");
    QTest::keyClick(form_.Edit1, Qt::Key_V, Qt::ControlModifier);
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.IPAddress, "localhost");
}

// --- Enter and Escape ---

TEST_F(SettingsDialogTest, EnterInAnyFieldDoesNotCloseTheDialogTest) {
  bool stillOpen = true;
  OpenWith([&] {
    for (QWidget* field : std::initializer_list<QWidget*>{
             form_.Edit1, form_.SpinEdit1->Editor(), form_.SpinEdit2->Editor(),
             form_.SpinEdit3->Editor(), form_.ComboBox1, form_.SpinEdit4->Editor(),
             form_.SpinEdit5->Editor(), form_.ComboBox2}) {
      field->setFocus(Qt::TabFocusReason);
      QTest::keyClick(field, Qt::Key_Return);
      QTest::keyClick(field, Qt::Key_Enter);
      QTest::keyClick(field, Qt::Key_Escape);
      QCoreApplication::processEvents();
      stillOpen = stillOpen && form_.isVisible();
    }
    form_.Button1->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form_.Button1, Qt::Key_Escape);
    QCoreApplication::processEvents();
    stillOpen = stillOpen && form_.isVisible();
    form_.Button2->click();
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(form_.Button1->isDefault());
  EXPECT_FALSE(form_.Button1->autoDefault());
  EXPECT_FALSE(form_.Button2->isDefault());
  EXPECT_FALSE(form_.Button2->autoDefault());
}

TEST_F(SettingsDialogTest, EnterInListKeepsItsItemsAndSelectionTest) {
  OpenWith([&] {
    form_.ComboBox1->setFocus(Qt::TabFocusReason);
    form_.ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(form_.ComboBox1, "XYZ");
    QTest::keyClick(form_.ComboBox1, Qt::Key_Return);
    EXPECT_EQ(form_.ComboBox1->count(), 2);
    EXPECT_EQ(form_.ComboBox1->currentIndex(), 0);
    QTest::mouseClick(form_.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(settings_.DeviceName, 0);
}

}  // namespace
