#include "ui/spin_edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <algorithm>
#include <limits>
#include <utility>

namespace {
TSpinEdit::Beeper g_beeper = [] { QApplication::beep(); };

constexpr int kButtonWidth = 16;
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 100;
}  // namespace

// The text part: hands keys and focus changes to the field before its own handling.
class TSpinEdit::LineEdit : public QLineEdit {
 public:
  explicit LineEdit(TSpinEdit* owner) : QLineEdit(owner), owner_(owner) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Up) {
      owner_->UpClick();
      event->accept();
      return;
    }
    if (event->key() == Qt::Key_Down) {
      owner_->DownClick();
      event->accept();
      return;
    }
    if (owner_->RefuseKey(*event)) {
      event->accept();
      return;
    }
    QLineEdit::keyPressEvent(event);
  }

  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    owner_->FocusEntered(event->reason());
  }

  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    // Leaving the window or opening the context menu is not leaving the field.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
      owner_->FocusLeft();
  }

 private:
  TSpinEdit* owner_;
};

TSpinEdit::TSpinEdit(QWidget* parent) : QWidget(parent) {
  editor_ = new LineEdit(this);
  upButton_ = new QToolButton(this);
  downButton_ = new QToolButton(this);
  upButton_->setArrowType(Qt::UpArrow);
  downButton_->setArrowType(Qt::DownArrow);
  for (QToolButton* button : {upButton_, downButton_}) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(kRepeatDelayMs);
    button->setAutoRepeatInterval(kRepeatIntervalMs);
    connect(button, &QToolButton::pressed, this, &TSpinEdit::FocusEditorForButton);
  }
  connect(upButton_, &QToolButton::clicked, this, &TSpinEdit::UpClick);
  connect(downButton_, &QToolButton::clicked, this, &TSpinEdit::DownClick);
  connect(editor_, &QLineEdit::textChanged, this, &TSpinEdit::OnChange);

  // No click focus of its own: a press on a spin button must not count as a press in the
  // field, so the buttons hand the focus over themselves.
  setFocusPolicy(Qt::TabFocus);
  setFocusProxy(editor_);
}

TSpinEdit::Beeper TSpinEdit::SetBeeper(Beeper beeper) {
  return std::exchange(g_beeper, std::move(beeper));
}

bool TSpinEdit::ParseValue(const QString& text, int32_t& value) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (i == n) return false;
  // The magnitude may reach 2^31 only for a negative number.
  const int64_t limit = negative ? int64_t{1} << 31 : std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; i < n; ++i) {
    const char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') return false;
    magnitude = magnitude * 10 + (c - u'0');
    if (magnitude > limit) return false;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

int32_t TSpinEdit::Value() const {
  int32_t value = 0;
  return ParseValue(editor_->text(), value) ? value : minValue_;
}

int32_t TSpinEdit::CheckValue(int64_t value) const {
  if (minValue_ != maxValue_) {
    if (value < minValue_) return minValue_;
    if (value > maxValue_) return maxValue_;
  }
  // Without a range a step past the 32-bit limits stops there instead of wrapping round.
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

void TSpinEdit::SetValue(int32_t value) { editor_->setText(QString::number(CheckValue(value))); }

QString TSpinEdit::Text() const { return editor_->text(); }

void TSpinEdit::SetText(const QString& text) { editor_->setText(text); }

void TSpinEdit::Step(int64_t delta) { SetValue(CheckValue(int64_t{Value()} + delta)); }

void TSpinEdit::UpClick() { Step(increment_); }

void TSpinEdit::DownClick() { Step(-int64_t{increment_}); }

void TSpinEdit::FocusEntered(Qt::FocusReason reason) {
  if (reason != Qt::MouseFocusReason && reason != Qt::PopupFocusReason) editor_->selectAll();
}

void TSpinEdit::FocusLeft() {
  const int32_t value = Value();
  if (CheckValue(value) != value) SetValue(value);
}

void TSpinEdit::FocusEditorForButton() {
  if (!editor_->hasFocus() && editor_->isEnabled()) editor_->setFocus(Qt::OtherFocusReason);
}

bool TSpinEdit::RefuseKey(const QKeyEvent& event) const {
  // Shortcuts such as paste and cut are not typed characters.
  if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString text = event.text();
  if (text.isEmpty()) return false;
  const QString separator = QLocale().decimalPoint();
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    const bool control = u < 0x20 || u == 0x7F;
    const bool passes = (control && u != u'\r') || u == u'+' || u == u'-' ||
                        (u >= u'0' && u <= u'9') || separator == QString(c);
    if (!passes) {
      if (g_beeper) g_beeper();
      return true;
    }
  }
  return false;
}

QSize TSpinEdit::sizeHint() const {
  const QSize hint = editor_->sizeHint();
  return {hint.width() + kButtonWidth, hint.height()};
}

void TSpinEdit::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width();
  const int h = height();
  const int editorWidth = std::max(0, w - kButtonWidth);
  editor_->setGeometry(0, 0, editorWidth, h);
  upButton_->setGeometry(editorWidth, 0, w - editorWidth, h / 2);
  downButton_->setGeometry(editorWidth, h / 2, w - editorWidth, h - h / 2);
}
