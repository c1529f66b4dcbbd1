#include "ui/settings_dialog.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <iterator>

#include "app/monitor_settings.h"
#include "base/handler_guard.h"
#include "ui/controls.h"
#include "ui/list_style.h"
#include "ui/spin_edit.h"

namespace {
constexpr int kClientWidth = 297;
constexpr int kClientHeight = 309;
constexpr int kUnitLabelLeft = 232;

template <typename T>
T* Make(QWidget* parent, const char* name, const QRect& geometry) {
  auto* control = new T(parent);
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(geometry);
  return control;
}

TSpinEdit* MakeSpin(QWidget* parent, const char* name, const QRect& geometry, int32_t min,
                    int32_t max) {
  auto* spin = Make<TSpinEdit>(parent, name, geometry);
  spin->SetMinValue(min);
  spin->SetMaxValue(max);
  spin->SetIncrement(1);
  return spin;
}

QComboBox* MakeList(QWidget* parent, const char* name, const QRect& geometry) {
  auto* list = Make<QComboBox>(parent, name, geometry);
  list->setEditable(true);
  // Enter in the text part must neither add an item nor change the selection by itself.
  list->setInsertPolicy(QComboBox::NoInsert);
  // Room for the longest item at the designed width: a narrower frame and button, and the
  // line edit's own two pixels beside the text given back (the list's frame already keeps the
  // text off the border).
  auto* style = new ListStyle;
  style->setParent(list);
  list->setStyle(style);
  list->lineEdit()->setTextMargins(-2, 0, -2, 0);
  return list;
}

void FillList(QComboBox* list, const QString& first, const QString& second) {
  list->clear();
  list->clearEditText();
  list->addItem(first);
  list->addItem(second);
}

// Only the indexes of the items select one; anything else leaves the list blank.
void SelectIndex(QComboBox* list, int64_t index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? static_cast<int>(index) : -1);
  if (list->currentIndex() < 0) list->clearEditText();
  // A text wider than the list shows its beginning, not its end.
  if (list->lineEdit() != nullptr) list->lineEdit()->setCursorPosition(0);
}
}  // namespace

TForm2::TForm2(QWidget* parent)
    : FixedDialog("Form2", QStringLiteral("設定"), kClientWidth, kClientHeight, parent) {
  CreateControls();
}

void TForm2::CreateControls() {
  Label1 = MakeLabel(this, "Label1", QStringLiteral("IPアドレス"), 13, 20);
  Label2 = MakeLabel(this, "Label2", QStringLiteral("ポート番号"), 14, 50);
  Label3 = MakeLabel(this, "Label3", QStringLiteral("繰り返し間隔"), 14, 79);
  Label4 = MakeLabel(this, "Label4", QStringLiteral("タイムアウト"), 13, 109);
  Label5 = MakeLabel(this, "Label5", QStringLiteral("デバイス名"), 14, 138);
  Label6 = MakeLabel(this, "Label6", QStringLiteral("先頭アドレス"), 13, 168);
  Label7 = MakeLabel(this, "Label7", QStringLiteral("個数"), 13, 197);
  Label8 = MakeLabel(this, "Label8", QStringLiteral("[秒]"), kUnitLabelLeft, 78);
  Label9 = MakeLabel(this, "Label9", QStringLiteral("[ミリ秒]"), kUnitLabelLeft, 109);
  Label10 = MakeLabel(this, "Label10", QStringLiteral("符号"), 14, 228);
  Label11 = MakeLabel(this, "Label11", QStringLiteral("[10進数]"), kUnitLabelLeft, 169);

  Edit1 = Make<QLineEdit>(this, "Edit1", {88, 14, 141, 20});
  SpinEdit1 = MakeSpin(this, "SpinEdit1", {88, 44, 141, 21}, 0, 65535);
  SpinEdit2 = MakeSpin(this, "SpinEdit2", {88, 73, 141, 21}, 0, 60);
  SpinEdit3 = MakeSpin(this, "SpinEdit3", {88, 103, 141, 21}, 100, 5000);
  ComboBox1 = MakeList(this, "ComboBox1", {88, 133, 141, 20});
  // Equal bounds: the first address has no range at all.
  SpinEdit4 = MakeSpin(this, "SpinEdit4", {88, 163, 141, 21}, 0, 0);
  SpinEdit5 = MakeSpin(this, "SpinEdit5", {88, 192, 141, 21}, 1, 100);
  Button1 = MakeButton(this, "Button1", QStringLiteral("OK"), {14, 271, 75, 25});
  Button2 = MakeButton(this, "Button2", QStringLiteral("キャンセル"), {187, 271, 75, 25});
  ComboBox2 = MakeList(this, "ComboBox2", {87, 224, 141, 20});

  QWidget* const order[] = {Edit1,     SpinEdit1, SpinEdit2, SpinEdit3, ComboBox1,
                            SpinEdit4, SpinEdit5, Button1,   Button2,   ComboBox2};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  Edit1->installEventFilter(this);
  connect(Button1, &QPushButton::clicked, this,
          [this] { HandlerGuard::Run([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this,
          [this] { HandlerGuard::Run([this] { Button2Click(); }); });
  connect(SpinEdit5, &TSpinEdit::OnChange, this,
          [this] { HandlerGuard::Run([this] { SpinEdit5Change(); }); });
}

void TForm2::Open(MonitorSettings& settings) {
  settings_ = &settings;
  FillList(ComboBox1, QStringLiteral("データメモリ(DM)"), QStringLiteral("テンポラリメモリ(TM)"));
  FillList(ComboBox2, QStringLiteral("あり(-32768～+32767)"), QStringLiteral("なし(0～65535)"));
  Edit1->setText(QString::fromStdString(settings.IPAddress));
  SpinEdit1->SetValue(settings.PortNo);
  SpinEdit2->SetValue(settings.Interval);
  SpinEdit3->SetValue(settings.TimeOut);
  SelectIndex(ComboBox1, settings.DeviceName);
  SpinEdit4->SetValue(settings.DeviceStart);
  SpinEdit5->SetValue(settings.DeviceNum);
  SelectIndex(ComboBox2, settings.Unsigned);

  ExecCentered();
  settings_ = nullptr;
}

void TForm2::Button1Click() {
  if (settings_ != nullptr) {
    MonitorSettings& s = *settings_;
    s.IPAddress = Edit1->text().toStdString();
    s.PortNo = SpinEdit1->Value();
    s.Interval = SpinEdit2->Value();
    s.TimeOut = SpinEdit3->Value();
    s.DeviceName = static_cast<uint8_t>(ComboBox1->currentIndex() & 0xFF);
    s.DeviceStart = SpinEdit4->Value();
    s.DeviceNum = SpinEdit5->Value();
    s.Unsigned = ComboBox2->currentIndex();
  }
  close();
}

void TForm2::Button2Click() { close(); }

bool TForm2::Edit1KeyPress(const QKeyEvent& event) {
  if (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab) return false;
  // Shortcuts such as paste are not typed characters.
  if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString text = event.text();
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    // Delete and Escape are editing keys here, not characters.
    if (u == 0x7F || u == 0x1B) return false;
    if (!(u == u'\b' || u == u'.' || (u >= u'0' && u <= u'9'))) return true;
  }
  return false;
}

void TForm2::SpinEdit5Change() {
  if (SpinEdit5->Value() > SpinEdit5->MaxValue()) SpinEdit5->SetValue(SpinEdit5->MaxValue());
  if (SpinEdit5->Value() < SpinEdit5->MinValue()) SpinEdit5->SetValue(SpinEdit5->MinValue());
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    bool drop = false;
    HandlerGuard::Run([&] { drop = Edit1KeyPress(*static_cast<QKeyEvent*>(event)); });
    if (drop) return true;
  }
  return FixedDialog::eventFilter(watched, event);
}
