#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>

#include "ui/spin_edit.h"

namespace {

// A window holding the field under test and a second field to move the focus to.
class SpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousBeeper_ = TSpinEdit::SetBeeper([this] { ++beeps_; });
    auto* layout = new QVBoxLayout(&window_);
    other_ = new QLineEdit(&window_);
    spin_ = new TSpinEdit(&window_);
    layout->addWidget(other_);
    layout->addWidget(spin_);
    spin_->SetMinValue(0);
    spin_->SetMaxValue(65535);
  }

  void TearDown() override { TSpinEdit::SetBeeper(previousBeeper_); }

  void ShowAndFocusOther() {
    window_.show();
    QApplication::setActiveWindow(&window_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_, 5000));
    other_->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(other_->hasFocus());
  }

  // Moves the keyboard focus into the field and empties it, as an operator would.
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

// --- Reading Value ---

TEST_F(SpinEditTest, PlainDecimalTextReadsAsItsNumberTest) {
  spin_->SetText("123");
  EXPECT_EQ(spin_->Value(), 123);
  spin_->SetText("+7");
  EXPECT_EQ(spin_->Value(), 7);
  spin_->SetText("   -45");
  EXPECT_EQ(spin_->Value(), -45);
}

TEST_F(SpinEditTest, TextThatIsNoNumberReadsAsMinValueTest) {
  spin_->SetMinValue(100);
  spin_->SetMaxValue(5000);
  for (const char* text : {"", " ", "-", "+", "1.5", "1,5", "12a", "a12", "12 ", "+-3", "- 3",
                           "0x10", "$10", "１２"}) {
    spin_->SetText(QString::fromUtf8(text));
    EXPECT_EQ(spin_->Value(), 100) << text;
  }
}

TEST_F(SpinEditTest, NumbersBeyondThirtyTwoBitsReadAsMinValueTest) {
  spin_->SetMinValue(-1);
  spin_->SetText("2147483647");
  EXPECT_EQ(spin_->Value(), std::numeric_limits<int32_t>::max());
  spin_->SetText("-2147483648");
  EXPECT_EQ(spin_->Value(), std::numeric_limits<int32_t>::min());
  spin_->SetText("2147483648");
  EXPECT_EQ(spin_->Value(), -1);
  spin_->SetText("-2147483649");
  EXPECT_EQ(spin_->Value(), -1);
  spin_->SetText("99999999999999999999");
  EXPECT_EQ(spin_->Value(), -1);
}

TEST_F(SpinEditTest, ReadingValueNeverChangesTheTextTest) {
  spin_->SetText(" 70000");
  QSignalSpy changes(spin_, &TSpinEdit::OnChange);
  EXPECT_EQ(spin_->Value(), 70000);
  spin_->SetText("abc");
  changes.clear();
  EXPECT_EQ(spin_->Value(), 0);
  EXPECT_EQ(spin_->Text(), "abc");
  EXPECT_EQ(changes.count(), 0);
}

// --- Setting Value ---

TEST_F(SpinEditTest, SetValueClampsToTheRangeAndShowsDecimalTest) {
  spin_->SetMinValue(1);
  spin_->SetMaxValue(100);
  spin_->SetValue(500);
  EXPECT_EQ(spin_->Text(), "100");
  spin_->SetValue(-3);
  EXPECT_EQ(spin_->Text(), "1");
  spin_->SetValue(42);
  EXPECT_EQ(spin_->Text(), "42");
}

TEST_F(SpinEditTest, SetValueWithEqualBoundsTakesAnyValueTest) {
  spin_->SetMinValue(0);
  spin_->SetMaxValue(0);
  spin_->SetValue(-20);
  EXPECT_EQ(spin_->Text(), "-20");
  spin_->SetValue(100000);
  EXPECT_EQ(spin_->Text(), "100000");
}

TEST_F(SpinEditTest, ChangingTheBoundsLeavesTheTextAloneTest) {
  spin_->SetValue(500);
  spin_->SetMaxValue(100);
  EXPECT_EQ(spin_->Text(), "500");
}

// --- Focus leaving the field ---

TEST_F(SpinEditTest, FocusOutClampsATypedNumberBeyondTheRangeTest) {
  ShowAndFocusOther();
  TypeInto("70000");
  EXPECT_EQ(spin_->Text(), "70000");
  QTest::keyClick(spin_->Editor(), Qt::Key_Tab);
  EXPECT_FALSE(spin_->Editor()->hasFocus());
  EXPECT_EQ(spin_->Text(), "65535");
}

TEST_F(SpinEditTest, FocusOutLeavesANumberInRangeAsTypedTest) {
  ShowAndFocusOther();
  TypeInto("0");
  other_->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(spin_->Text(), "0");
  // A number inside the range is not rewritten, even though it is not in plain form.
  spin_->SetText("  +5");
  spin_->setFocus(Qt::TabFocusReason);
  other_->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(spin_->Text(), "  +5");
}

TEST_F(SpinEditTest, FocusOutLeavesTextThatIsNoNumberTest) {
  spin_->SetMinValue(100);
  spin_->SetMaxValue(5000);
  ShowAndFocusOther();
  TypeInto("");
  other_->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(spin_->Text(), "");
  TypeInto("-");
  other_->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(spin_->Text(), "-");
}

TEST_F(SpinEditTest, FocusOutWithoutRangeKeepsAnyNumberTest) {
  spin_->SetMaxValue(0);
  ShowAndFocusOther();
  TypeInto("-5");
  other_->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(spin_->Text(), "-5");
}

// --- Stepping ---

TEST_F(SpinEditTest, ArrowKeysStepByTheIncrementTest) {
  ShowAndFocusOther();
  spin_->SetValue(5);
  spin_->setFocus(Qt::TabFocusReason);
  QTest::keyClick(spin_->Editor(), Qt::Key_Up);
  EXPECT_EQ(spin_->Text(), "6");
  QTest::keyClick(spin_->Editor(), Qt::Key_Down);
  QTest::keyClick(spin_->Editor(), Qt::Key_Down);
  EXPECT_EQ(spin_->Text(), "4");
  spin_->SetIncrement(10);
  QTest::keyClick(spin_->Editor(), Qt::Key_Up);
  EXPECT_EQ(spin_->Text(), "14");
}

TEST_F(SpinEditTest, SteppingStopsAtTheBoundsTest) {
  spin_->SetValue(65535);
  spin_->UpClick();
  EXPECT_EQ(spin_->Text(), "65535");
  spin_->SetValue(0);
  spin_->DownClick();
  EXPECT_EQ(spin_->Text(), "0");
}

TEST_F(SpinEditTest, SteppingTextThatIsNoNumberStartsFromMinValueTest) {
  spin_->SetMinValue(100);
  spin_->SetMaxValue(5000);
  spin_->SetText("x");
  spin_->UpClick();
  EXPECT_EQ(spin_->Text(), "101");
}

TEST_F(SpinEditTest, SteppingWithoutRangeStopsAtThirtyTwoBitLimitsTest) {
  spin_->SetMaxValue(0);
  spin_->SetValue(std::numeric_limits<int32_t>::max());
  spin_->UpClick();
  EXPECT_EQ(spin_->Value(), std::numeric_limits<int32_t>::max());
  spin_->SetValue(std::numeric_limits<int32_t>::min());
  spin_->SetMinValue(std::numeric_limits<int32_t>::min());
  spin_->SetMaxValue(std::numeric_limits<int32_t>::min());
  spin_->DownClick();
  EXPECT_EQ(spin_->Value(), std::numeric_limits<int32_t>::min());
}

TEST_F(SpinEditTest, ButtonsStepAndTakeTheFocusIntoTheFieldTest) {
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
}

TEST_F(SpinEditTest, HoldingAButtonRepeatsTheStepUntilReleasedTest) {
  ShowAndFocusOther();
  spin_->SetValue(0);
  QToolButton* up = spin_->UpButton();
  EXPECT_EQ(up->autoRepeatDelay(), 400);
  EXPECT_EQ(up->autoRepeatInterval(), 100);
  EXPECT_EQ(spin_->DownButton()->autoRepeatDelay(), 400);
  EXPECT_EQ(spin_->DownButton()->autoRepeatInterval(), 100);
  QTest::mousePress(up, Qt::LeftButton);
  EXPECT_EQ(spin_->Text(), "0");  // the step comes with the click, not the press
  QTRY_VERIFY_WITH_TIMEOUT(spin_->Value() >= 3, 10000);
  QTest::mouseRelease(up, Qt::LeftButton);
  const int32_t released = spin_->Value();
  QTest::qWait(300);
  EXPECT_EQ(spin_->Value(), released);
}

// --- Typed characters ---

TEST_F(SpinEditTest, DigitsSignsAndDecimalSeparatorPassWithoutBeepTest) {
  ShowAndFocusOther();
  TypeInto("+-0123456789");
  QTest::keyClicks(spin_->Editor(), QLocale().decimalPoint());
  EXPECT_EQ(spin_->Text(), "+-0123456789" + QLocale().decimalPoint());
  EXPECT_EQ(beeps_, 0);
}

TEST_F(SpinEditTest, LetterBeepsAndIsDroppedTest) {
  ShowAndFocusOther();
  TypeInto("12");
  QTest::keyClick(spin_->Editor(), Qt::Key_A);
  QTest::keyClicks(spin_->Editor(), " x");
  EXPECT_EQ(spin_->Text(), "12");
  EXPECT_EQ(beeps_, 3);
}

TEST_F(SpinEditTest, CarriageReturnBeepsAndIsDroppedTest) {
  ShowAndFocusOther();
  TypeInto("5");
  QTest::keyClick(spin_->Editor(), Qt::Key_Return);
  QTest::keyClick(spin_->Editor(), Qt::Key_Enter);
  EXPECT_EQ(spin_->Text(), "5");
  EXPECT_EQ(beeps_, 2);
}

TEST_F(SpinEditTest, BackspaceAndDeleteEditWithoutBeepTest) {
  ShowAndFocusOther();
  TypeInto("123");
  QTest::keyClick(spin_->Editor(), Qt::Key_Backspace);
  EXPECT_EQ(spin_->Text(), "12");
  QTest::keyClick(spin_->Editor(), Qt::Key_Home);
  QTest::keyClick(spin_->Editor(), Qt::Key_Delete);
  EXPECT_EQ(spin_->Text(), "2");
  EXPECT_EQ(beeps_, 0);
}

TEST_F(SpinEditTest, PasteAndCutAreNotFilteredTest) {
  ShowAndFocusOther();
  TypeInto("7");
  QApplication::clipboard()->setText("abc");
  QTest::keyClick(spin_->Editor(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(spin_->Text(), "7abc");
  spin_->Editor()->selectAll();
  QTest::keyClick(spin_->Editor(), Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(spin_->Text(), "");
  EXPECT_EQ(QApplication::clipboard()->text(), "7abc");
  EXPECT_EQ(beeps_, 0);
}

// --- Change notification ---

TEST_F(SpinEditTest, OnChangeFiresForTypingAndForSetValueTest) {
  ShowAndFocusOther();
  QSignalSpy changes(spin_, &TSpinEdit::OnChange);
  TypeInto("4");
  const int afterTyping = changes.count();
  EXPECT_GE(afterTyping, 1);
  spin_->SetValue(9);
  EXPECT_EQ(changes.count(), afterTyping + 1);
  QTest::keyClick(spin_->Editor(), Qt::Key_Q);  // refused: no change
  EXPECT_EQ(changes.count(), afterTyping + 1);
}

// --- Focus entering the field ---

TEST_F(SpinEditTest, KeyboardFocusSelectsTheWholeTextTest) {
  ShowAndFocusOther();
  spin_->SetValue(1234);
  QTest::keyClick(other_, Qt::Key_Tab);
  ASSERT_TRUE(spin_->Editor()->hasFocus());
  EXPECT_EQ(spin_->Editor()->selectedText(), "1234");
  other_->setFocus(Qt::OtherFocusReason);
  spin_->setFocus(Qt::OtherFocusReason);
  EXPECT_EQ(spin_->Editor()->selectedText(), "1234");
}

TEST_F(SpinEditTest, MousePressInTheFieldDoesNotSelectAllTest) {
  ShowAndFocusOther();
  spin_->SetValue(1234);
  QTest::mouseClick(spin_->Editor(), Qt::LeftButton, Qt::NoModifier, QPoint(3, 5));
  ASSERT_TRUE(spin_->Editor()->hasFocus());
  EXPECT_TRUE(spin_->Editor()->selectedText().isEmpty());
}

}  // namespace
