#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "ui/spin_edit.h"

namespace {

constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();

// A window holding the field under test and a second field to move the focus to.
class SpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousBeeper_ = TSpinEdit::SetBeeper([this] { ++beeps_; });
    auto* layout = new QVBoxLayout(&window_);
    layout->addWidget(other_ = new QLineEdit(&window_));
    layout->addWidget(spin_ = new TSpinEdit(&window_));
    SetRange(0, 65535);
  }
  void TearDown() override { TSpinEdit::SetBeeper(previousBeeper_); }

  void SetRange(int32_t min, int32_t max) {
    spin_->SetMinValue(min);
    spin_->SetMaxValue(max);
  }

  void ShowAndFocusOther() {
    window_.show();
    QApplication::setActiveWindow(&window_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_, 5000));
    other_->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(other_->hasFocus());
  }

  // Moves the keyboard focus into the field, empties it and types, as an operator would.
  void TypeInto(const QString& text) {
    spin_->setFocus(Qt::TabFocusReason);
    spin_->Editor()->selectAll();
    QTest::keyClick(spin_->Editor(), Qt::Key_Backspace);
    QTest::keyClicks(spin_->Editor(), text);
  }

  QWidget window_;
  QLineEdit* other_ = nullptr;
  TSpinEdit* spin_ = nullptr;
  int beeps_ = 0;
  TSpinEdit::Beeper previousBeeper_;
};

TEST_F(SpinEditTest, ValueReadsDecimalTextAndMinValueForAnythingElseTest) {
  SetRange(-1, 5000);
  std::vector<std::pair<const char*, int32_t>> cases = {
      {"123", 123}, {"+7", 7}, {"   -45", -45}, {"2147483647", kMax32}, {"-2147483648", kMin32}};
  for (const char* text :
       {"", " ", "-", "+", "1.5", "1,5", "12a", "a12", "12 ", "+-3", "- 3", "0x10", "$10", "１２",
        "2147483648", "-2147483649", "99999999999999999999"}) {
    cases.emplace_back(text, -1);
  }
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    spin_->SetText(QString::fromUtf8(text));
    QSignalSpy changes(spin_, &TSpinEdit::OnChange);
    EXPECT_EQ(spin_->Value(), expected);
    EXPECT_EQ(spin_->Text(), QString::fromUtf8(text));
    EXPECT_EQ(changes.count(), 0);
  }
}

TEST_F(SpinEditTest, SetValueClampsUnlessTheBoundsAreEqualTest) {
  const std::tuple<int32_t, int32_t, int32_t, const char*> cases[] = {
      {1, 100, 500, "100"}, {1, 100, -3, "1"},        {1, 100, 42, "42"},
      {0, 0, -20, "-20"},   {0, 0, 100000, "100000"}, {7, 7, 3, "3"}};
  for (const auto& [min, max, value, shown] : cases) {
    SCOPED_TRACE(value);
    SetRange(min, max);
    spin_->SetValue(value);
    EXPECT_EQ(spin_->Text(), shown);
  }
  // Changing the bounds leaves the text alone.
  spin_->SetValue(500);
  SetRange(0, 100);
  EXPECT_EQ(spin_->Text(), "500");
}

TEST_F(SpinEditTest, FocusOutClampsANumberAndLeavesOtherTextTest) {
  ShowAndFocusOther();
  const std::tuple<int32_t, int32_t, const char*, const char*> cases[] = {
      {0, 65535, "70000", "65535"}, {0, 65535, "0", "0"},  {0, 65535, "  +5", "  +5"},
      {100, 5000, "", ""},          {100, 5000, "-", "-"}, {0, 0, "-5", "-5"}};
  for (const auto& [min, max, text, after] : cases) {
    SCOPED_TRACE(text);
    SetRange(min, max);
    spin_->setFocus(Qt::TabFocusReason);
    spin_->SetText(text);
    QTest::keyClick(spin_->Editor(), Qt::Key_Tab);
    ASSERT_FALSE(spin_->Editor()->hasFocus());
    EXPECT_EQ(spin_->Text(), after);
  }
}

// Records the reason of every focus-out of the widget it watches.
class FocusOutRecorder : public QObject {
 public:
  explicit FocusOutRecorder(std::vector<Qt::FocusReason>& reasons) : reasons_(reasons) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      reasons_.push_back(static_cast<QFocusEvent*>(event)->reason());
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::vector<Qt::FocusReason>& reasons_;
};

// The context menu takes the focus for a moment; the field is not left, so an out-of-range
// number stays as typed until the focus really moves on.
TEST_F(SpinEditTest, OpeningTheContextMenuIsNotLeavingTheFieldTest) {
  ShowAndFocusOther();
  TypeInto("70000");
  // The field sees the focus go out to the menu, with the reason that says so.
  std::vector<Qt::FocusReason> focusOuts;
  FocusOutRecorder recorder(focusOuts);
  spin_->Editor()->installEventFilter(&recorder);
  QContextMenuEvent open(QContextMenuEvent::Keyboard, QPoint(5, 5),
                         spin_->Editor()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(spin_->Editor(), &open);
  QWidget* menu = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (menu = QApplication::activePopupWidget()); }, 5000));
  EXPECT_EQ(focusOuts, std::vector<Qt::FocusReason>{Qt::PopupFocusReason});
  EXPECT_EQ(spin_->Text(), "70000");
  menu->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return spin_->Editor()->hasFocus(); }, 5000));
  EXPECT_EQ(spin_->Text(), "70000");
  QTest::keyClick(spin_->Editor(), Qt::Key_Tab);
  EXPECT_EQ(spin_->Text(), "65535");
}

TEST_F(SpinEditTest, SteppingGoesThroughSetValueLimitsTest) {
  // {min, max, text, up, shown}: a text that is no number steps from MinValue.
  const std::tuple<int32_t, int32_t, const char*, bool, const char*> cases[] = {
      {0, 65535, "65535", true, "65535"},
      {0, 65535, "0", false, "0"},
      {100, 5000, "x", true, "101"},
      {0, 0, "2147483647", true, "2147483647"},
      {kMin32, kMin32, "-2147483648", false, "-2147483648"}};
  for (const auto& [min, max, text, up, shown] : cases) {
    SCOPED_TRACE(text);
    SetRange(min, max);
    spin_->SetText(text);
    up ? spin_->UpClick() : spin_->DownClick();
    EXPECT_EQ(spin_->Text(), shown);
  }
}

TEST_F(SpinEditTest, KeysAndButtonsStepByTheIncrementTest) {
  ShowAndFocusOther();
  spin_->SetValue(10);
  QTest::mousePress(spin_->UpButton(), Qt::LeftButton);
  // The press moves the focus into the field, which selects the text as keyboard focus does.
  EXPECT_TRUE(spin_->Editor()->hasFocus());
  EXPECT_EQ(spin_->Editor()->selectedText(), "10");
  QTest::mouseRelease(spin_->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Text(), "11");
  QTest::mouseClick(spin_->DownButton(), Qt::LeftButton);
  QTest::mouseClick(spin_->DownButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Text(), "9");
  QTest::keyClick(spin_->Editor(), Qt::Key_Down);
  EXPECT_EQ(spin_->Text(), "8");
  spin_->SetIncrement(10);
  QTest::keyClick(spin_->Editor(), Qt::Key_Up);
  QTest::mouseClick(spin_->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Text(), "28");
}

TEST_F(SpinEditTest, HoldingAButtonRepeatsTheStepUntilReleasedTest) {
  ShowAndFocusOther();
  spin_->SetValue(0);
  for (QToolButton* button : {spin_->UpButton(), spin_->DownButton()}) {
    EXPECT_EQ(button->autoRepeatDelay(), 400);
    EXPECT_EQ(button->autoRepeatInterval(), 100);
  }
  QTest::mousePress(spin_->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Text(), "0");  // the step comes with the click, not the press
  QTRY_VERIFY_WITH_TIMEOUT(spin_->Value() >= 3, 10000);
  QTest::mouseRelease(spin_->UpButton(), Qt::LeftButton);
  const int32_t released = spin_->Value();
  QTest::qWait(300);
  EXPECT_EQ(spin_->Value(), released);
}

TEST_F(SpinEditTest, TypedCharactersOtherThanNumberPartsBeepAndAreDroppedTest) {
  ShowAndFocusOther();
  const QString allowed = "+-0123456789" + QLocale().decimalPoint();
  TypeInto(allowed);
  EXPECT_EQ(spin_->Text(), allowed);
  EXPECT_EQ(beeps_, 0);
  TypeInto("123");
  QTest::keyClick(spin_->Editor(), Qt::Key_Backspace);
  QTest::keyClick(spin_->Editor(), Qt::Key_Home);
  QTest::keyClick(spin_->Editor(), Qt::Key_Delete);
  EXPECT_EQ(spin_->Text(), "2");
  EXPECT_EQ(beeps_, 0);
  QTest::keyClick(spin_->Editor(), Qt::Key_A);
  QTest::keyClicks(spin_->Editor(), " x");
  QTest::keyClick(spin_->Editor(), Qt::Key_Return);
  QTest::keyClick(spin_->Editor(), Qt::Key_Enter);
  EXPECT_EQ(spin_->Text(), "2");
  EXPECT_EQ(beeps_, 5);
}

TEST_F(SpinEditTest, PasteAndCutAreNotFilteredAndEveryChangeFiresOnChangeTest) {
  ShowAndFocusOther();
  QSignalSpy changes(spin_, &TSpinEdit::OnChange);
  TypeInto("7");
  int count = changes.count();
  EXPECT_GE(count, 1);
  QApplication::clipboard()->setText("abc");
  QTest::keyClick(spin_->Editor(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(spin_->Text(), "7abc");
  EXPECT_EQ(changes.count(), ++count);
  spin_->Editor()->selectAll();
  QTest::keyClick(spin_->Editor(), Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(spin_->Text(), "");
  EXPECT_EQ(QApplication::clipboard()->text(), "7abc");
  EXPECT_EQ(changes.count(), ++count);
  spin_->SetValue(9);
  EXPECT_EQ(changes.count(), ++count);
  QTest::keyClick(spin_->Editor(), Qt::Key_Q);  // refused: no change
  EXPECT_EQ(changes.count(), count);
  EXPECT_EQ(beeps_, 1);
}

TEST_F(SpinEditTest, KeyboardFocusSelectsAllButAMousePressDoesNotTest) {
  ShowAndFocusOther();
  spin_->SetValue(1234);
  QTest::keyClick(other_, Qt::Key_Tab);
  ASSERT_TRUE(spin_->Editor()->hasFocus());
  EXPECT_EQ(spin_->Editor()->selectedText(), "1234");
  other_->setFocus(Qt::OtherFocusReason);
  spin_->setFocus(Qt::OtherFocusReason);
  EXPECT_EQ(spin_->Editor()->selectedText(), "1234");
  other_->setFocus(Qt::OtherFocusReason);
  QTest::mouseClick(spin_->Editor(), Qt::LeftButton, Qt::NoModifier, QPoint(3, 5));
  ASSERT_TRUE(spin_->Editor()->hasFocus());
  EXPECT_TRUE(spin_->Editor()->selectedText().isEmpty());
}

}  // namespace
