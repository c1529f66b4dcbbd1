#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <functional>
#include <initializer_list>
#include <tuple>
#include <utility>

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

  // Focuses a field from the keyboard and replaces its text by typing.
  static void Retype(QWidget* field, const QString& text) {
    auto* spin = qobject_cast<TSpinEdit*>(field);
    QLineEdit* edit = spin ? spin->Editor() : qobject_cast<QLineEdit*>(field);
    field->setFocus(Qt::TabFocusReason);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
  }
  void ClickOk() { QTest::mouseClick(form_.Button1, Qt::LeftButton); }
  static QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
  }
  // Every field in the order of the settings, the lists by index.
  QStringList Shown() const {
    return QStringList() << form_.Edit1->text() << form_.SpinEdit1->Text()
                         << form_.SpinEdit2->Text() << form_.SpinEdit3->Text()
                         << QString::number(form_.ComboBox1->currentIndex())
                         << form_.SpinEdit4->Text() << form_.SpinEdit5->Text()
                         << QString::number(form_.ComboBox2->currentIndex());
  }

  TForm2 form_;
  MonitorSettings settings_;
  int beeps_ = 0;
  TSpinEdit::Beeper previousBeeper_;
};

TEST_F(SettingsDialogTest, WindowControlsCaptionsRangesAndTabOrderTest) {
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("設定"));
  EXPECT_EQ(form_.minimumSize(), QSize(297, 309));
  EXPECT_EQ(form_.maximumSize(), QSize(297, 309));
  EXPECT_FALSE(form_.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form_.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(form_.windowFlags() & Qt::WindowSystemMenuHint);
  // Tab order is the order of this table.
  const std::pair<QWidget*, QRect> controls[] = {
      {form_.Edit1, {88, 14, 141, 20}},      {form_.SpinEdit1, {88, 44, 141, 21}},
      {form_.SpinEdit2, {88, 73, 141, 21}},  {form_.SpinEdit3, {88, 103, 141, 21}},
      {form_.ComboBox1, {88, 133, 141, 20}}, {form_.SpinEdit4, {88, 163, 141, 21}},
      {form_.SpinEdit5, {88, 192, 141, 21}}, {form_.Button1, {14, 271, 75, 25}},
      {form_.Button2, {187, 271, 75, 25}},   {form_.ComboBox2, {87, 224, 141, 20}},
      {form_.Edit1, {88, 14, 141, 20}}};
  // Label1 to Label11.
  const std::pair<const char*, QPoint> labels[] = {
      {"IPアドレス", {13, 20}},    {"ポート番号", {14, 50}},  {"繰り返し間隔", {14, 79}},
      {"タイムアウト", {13, 109}}, {"デバイス名", {14, 138}}, {"先頭アドレス", {13, 168}},
      {"個数", {13, 197}},         {"[秒]", {232, 78}},       {"[ミリ秒]", {232, 109}},
      {"符号", {14, 228}},         {"[10進数]", {232, 169}}};
  for (int i = 0; i < 11; ++i) {
    SCOPED_TRACE(i + 1);
    const auto* label = form_.findChild<QLabel*>(QString("Label%1").arg(i + 1));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromUtf8(labels[i].first));
    EXPECT_EQ(label->pos(), labels[i].second);
  }
  QStringList ranges;  // MinValue..MaxValue/Increment
  for (const TSpinEdit* spin :
       {form_.SpinEdit1, form_.SpinEdit2, form_.SpinEdit3, form_.SpinEdit4, form_.SpinEdit5}) {
    ranges
        << QString("%1..%2/%3").arg(spin->MinValue()).arg(spin->MaxValue()).arg(spin->Increment());
  }
  EXPECT_EQ(ranges, QStringList({"0..65535/1", "0..60/1", "100..5000/1", "0..0/1", "1..100/1"}));
  EXPECT_EQ(form_.Button1->text(), "OK");
  EXPECT_EQ(form_.Button2->text(), QStringLiteral("キャンセル"));
  EXPECT_TRUE(form_.ComboBox1->isEditable());
  EXPECT_TRUE(form_.ComboBox2->isEditable());

  form_.show();
  QApplication::setActiveWindow(&form_);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_, 5000));
  form_.Edit1->setFocus(Qt::TabFocusReason);
  for (const auto& [control, rect] : controls) {
    const std::string name = control->objectName().toStdString();
    SCOPED_TRACE(name);
    EXPECT_EQ(form_.findChild<QWidget*>(name.c_str()), control);
    EXPECT_EQ(control->geometry(), rect);
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == control || control->isAncestorOf(focus))
        << "focus in " << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  form_.hide();
}

TEST_F(SettingsDialogTest, EveryOpeningCentresAndShowsTheSettingsAfreshTest) {
  settings_ = {"10.0.0.7", 9600, 5, 250, 1, 300, 16, 1};
  form_.ComboBox1->addItem("stale");
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    QPoint centre;
    OpenWith([&] {
      centre = form_.frameGeometry().center();
      EXPECT_EQ(Items(form_.ComboBox1), QStringList({"データメモリ(DM)", "テンポラリメモリ(TM)"}));
      EXPECT_EQ(Items(form_.ComboBox2),
                QStringList({"あり(-32768\uFF5E+32767)", "なし(0\uFF5E65535)"}));
      EXPECT_EQ(Shown(), QStringList({"10.0.0.7", "9600", "5", "250", "1", "300", "16", "1"}));
      // Left behind for the next opening to overwrite.
      Retype(form_.SpinEdit2, "33");
      form_.ComboBox1->setCurrentIndex(0);
      form_.Button2->click();
    });
    EXPECT_LE((centre - form_.screen()->geometry().center()).manhattanLength(), 2);
  }
}

TEST_F(SettingsDialogTest, OutOfRangeSettingsShowClampedAndOnlyOkStoresTest) {
  settings_.TimeOut = 50;
  settings_.DeviceNum = 500;
  settings_.DeviceStart = -20;
  const MonitorSettings before = settings_;
  for (const char* closer : {"Cancel", "close box", "OK"}) {
    SCOPED_TRACE(closer);
    OpenWith([&] {
      EXPECT_EQ(Shown(), QStringList({"192.0.2.1", "8501", "1", "100", "0", "-20", "100", "0"}));
      Retype(form_.Edit1, "1.1.1.1");
      Retype(form_.SpinEdit1, "1234");
      if (closer[0] == 'C') QTest::mouseClick(form_.Button2, Qt::LeftButton);
      if (closer[0] == 'c') form_.close();
      if (closer[0] == 'O') ClickOk();
    });
    if (closer[0] != 'O') {
      EXPECT_EQ(settings_, before);
    }
  }
  EXPECT_EQ(settings_, (MonitorSettings{"1.1.1.1", 1234, 1, 100, 0, -20, 100, 0}));
}

TEST_F(SettingsDialogTest, UnknownListIndexesOpenBlankAndOkStoresTheirMarksTest) {
  settings_.DeviceName = 7;
  settings_.Unsigned = 5;
  OpenWith([&] {
    EXPECT_EQ(form_.ComboBox1->currentText(), "");
    EXPECT_EQ(Shown()[4] + Shown()[7], "-1-1");
    form_.Button1->click();
  });
  EXPECT_EQ(settings_.DeviceName, 255);
  EXPECT_EQ(settings_.Unsigned, -1);
}

TEST_F(SettingsDialogTest, PortTypedBeyondRangeBecomesMaxWhenFocusLeavesTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit1, "70000");
    QTest::keyClick(form_.SpinEdit1->Editor(), Qt::Key_Tab);
    EXPECT_EQ(form_.SpinEdit1->Text(), "65535");
    Retype(form_.SpinEdit1, "70000");
    // The click moves the focus to OK first, and the field clamps on leaving.
    ClickOk();
  });
  EXPECT_EQ(settings_.PortNo, 65535);
}

TEST_F(SettingsDialogTest, OkCopiesEveryFieldAndTheMinimumForNoNumberTest) {
  // Typed into Edit1 and SpinEdit1 to SpinEdit5, with the two list indexes.
  const std::tuple<QStringList, int, int, MonitorSettings> cases[] = {
      {{"127.0.0.1", "9000", "0", "2500", "100000", "8"},
       1,
       1,
       {"127.0.0.1", 9000, 0, 2500, 1, 100000, 8, 1}},
      {{"", "-", "", "+", "", ""}, 0, 0, {"", 0, 0, 100, 0, 0, 1, 0}}};
  settings_.DeviceStart = 12;
  for (const auto& [typed, kind, sign, expected] : cases) {
    SCOPED_TRACE(typed.join('|').toStdString());
    OpenWith([&] {
      QWidget* const fields[] = {form_.Edit1,     form_.SpinEdit1, form_.SpinEdit2,
                                 form_.SpinEdit3, form_.SpinEdit4, form_.SpinEdit5};
      for (int i = 0; i < 6; ++i) Retype(fields[i], typed[i]);
      form_.ComboBox1->setCurrentIndex(kind);
      form_.ComboBox2->setCurrentIndex(sign);
      ClickOk();
    });
    EXPECT_EQ(settings_, expected);
  }
}

TEST_F(SettingsDialogTest, CountIsClampedAtEveryChangeTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit5, "");
    EXPECT_EQ(form_.SpinEdit5->Text(), "");
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_2, "2"}, {Qt::Key_5, "25"}, {Qt::Key_0, "100"}};
    for (const auto& [key, shown] : keys) {
      QTest::keyClick(form_.SpinEdit5->Editor(), key);
      EXPECT_EQ(form_.SpinEdit5->Text(), shown);
    }
    Retype(form_.SpinEdit5, "0");
    EXPECT_EQ(form_.SpinEdit5->Text(), "1");
    form_.SpinEdit5->SetText("123456");
    EXPECT_EQ(form_.SpinEdit5->Text(), "100");
    // Empty stays empty when the focus leaves.
    Retype(form_.SpinEdit5, "");
    QTest::keyClick(form_.SpinEdit5->Editor(), Qt::Key_Tab);
    EXPECT_EQ(form_.SpinEdit5->Text(), "");
    form_.Button2->click();
  });
}

TEST_F(SettingsDialogTest, TypedCharactersBeepInSpinFieldsAndDropSilentlyInAddressTest) {
  OpenWith([&] {
    Retype(form_.SpinEdit2, "1");
    QTest::keyClick(form_.SpinEdit2->Editor(), Qt::Key_K);
    EXPECT_EQ(form_.SpinEdit2->Text(), "1");
    EXPECT_EQ(beeps_, 1);
    Retype(form_.Edit1, "1a9 2.-3x/4");
    EXPECT_EQ(form_.Edit1->text(), "192.34");
    QTest::keyClick(form_.Edit1, Qt::Key_Backspace);
    EXPECT_EQ(form_.Edit1->text(), "192.3");
    Retype(form_.Edit1, "999..2");
    EXPECT_EQ(form_.Edit1->text(), "999..2");
    form_.Edit1->selectAll();
    QApplication::clipboard()->setText("localhost");
    QTest::keyClick(form_.Edit1, Qt::Key_V, Qt::ControlModifier);
    ClickOk();
  });
  EXPECT_EQ(settings_.IPAddress, "localhost");
  EXPECT_EQ(beeps_, 1);
}

// The filter drops typed characters only: Delete is an editing key and still deletes, also
// when the key event carries the DEL character as its text, as the X11 keyboard's does.
TEST_F(SettingsDialogTest, DeleteKeyStillDeletesInAddressTest) {
  const auto pressDelete = [this] {
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent event(type, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7F)));
      QApplication::sendEvent(form_.Edit1, &event);
    }
  };
  OpenWith([&] {
    Retype(form_.Edit1, "192.168.0.1");
    form_.Edit1->setCursorPosition(0);
    pressDelete();
    EXPECT_EQ(form_.Edit1->text(), "92.168.0.1");
    form_.Edit1->setCursorPosition(3);
    QTest::keyClick(form_.Edit1, Qt::Key_Delete);
    EXPECT_EQ(form_.Edit1->text(), "92.68.0.1");
    ClickOk();
  });
  EXPECT_EQ(settings_.IPAddress, "92.68.0.1");
  EXPECT_EQ(beeps_, 0);
}

TEST_F(SettingsDialogTest, EnterAndEscapeInAnyFieldDoNotCloseTheDialogTest) {
  bool stillOpen = true;
  OpenWith([&] {
    form_.ComboBox1->setFocus(Qt::TabFocusReason);
    form_.ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(form_.ComboBox1, "XYZ");
    for (QWidget* field : std::initializer_list<QWidget*>{
             form_.ComboBox1, form_.Edit1, form_.SpinEdit1->Editor(), form_.SpinEdit2->Editor(),
             form_.SpinEdit3->Editor(), form_.SpinEdit4->Editor(), form_.SpinEdit5->Editor(),
             form_.ComboBox2, form_.Button1}) {
      field->setFocus(Qt::TabFocusReason);
      if (field != form_.Button1) {
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Enter);
      }
      QTest::keyClick(field, Qt::Key_Escape);
      QCoreApplication::processEvents();
      stillOpen = stillOpen && form_.isVisible();
    }
    // Enter in the list neither adds the typed text nor changes the selection.
    EXPECT_EQ(form_.ComboBox1->count(), 2);
    EXPECT_EQ(form_.ComboBox1->currentIndex(), 0);
    ClickOk();
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(settings_.DeviceName, 0);
  for (QPushButton* button : {form_.Button1, form_.Button2}) {
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
  }
}

}  // namespace
