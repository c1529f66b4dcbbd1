#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

class QKeyEvent;
class QLineEdit;
class QToolButton;

// A numeric field with up and down buttons. Unlike QSpinBox it holds any text the operator
// types or pastes, empty and out-of-range included; Value() interprets that text and gives
// MinValue when it is not a number.
class TSpinEdit : public QWidget {
  Q_OBJECT

 public:
  using Beeper = std::function<void()>;

  explicit TSpinEdit(QWidget* parent = nullptr);

  int32_t MinValue() const { return minValue_; }
  void SetMinValue(int32_t value) { minValue_ = value; }
  int32_t MaxValue() const { return maxValue_; }
  void SetMaxValue(int32_t value) { maxValue_ = value; }
  int32_t Increment() const { return increment_; }
  void SetIncrement(int32_t value) { increment_ = value; }

  // The text as a 32-bit number, MinValue when it is not one. Never changes the text.
  int32_t Value() const;
  // Clamps to MinValue..MaxValue unless the two are equal, then shows the value in decimal.
  void SetValue(int32_t value);

  QString Text() const;
  void SetText(const QString& text);

  QLineEdit* Editor() const { return editor_; }
  QToolButton* UpButton() const { return upButton_; }
  QToolButton* DownButton() const { return downButton_; }

  void UpClick();
  void DownClick();

  // What sounds when a typed character is refused; returns the previous one. Tests count.
  static Beeper SetBeeper(Beeper beeper);

  // Parses the text by the field's rules: optional leading blanks, an optional sign, decimal
  // digits and nothing after them, within 32 bits.
  static bool ParseValue(const QString& text, int32_t& value);

  QSize sizeHint() const override;

 signals:
  // After every change of the text, whether typed, pasted or set by SetValue.
  void OnChange();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  class LineEdit;

  int32_t CheckValue(int64_t value) const;
  void Step(int64_t delta);
  void FocusEntered(Qt::FocusReason reason);
  void FocusLeft();
  // True when the key was a refused typed character (then it has beeped).
  bool RefuseKey(const QKeyEvent& event) const;
  void FocusEditorForButton();

  QLineEdit* editor_ = nullptr;
  QToolButton* upButton_ = nullptr;
  QToolButton* downButton_ = nullptr;
  int32_t minValue_ = 0;
  int32_t maxValue_ = 0;
  int32_t increment_ = 1;
};
