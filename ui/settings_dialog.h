#pragma once

#include "ui/fixed_dialog.h"

struct MonitorSettings;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class TSpinEdit;

// The settings dialog: edits the eight monitoring settings. Filled afresh at each opening;
// OK copies every field back, Cancel and the close box copy nothing.
class TForm2 : public FixedDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  // Fills the lists and fields from the settings and shows the dialog modally. The settings
  // must outlive the call.
  void Open(MonitorSettings& settings);

  // Handlers, named after their control and event.
  void Button1Click();
  void Button2Click();
  // True when the typed key is dropped.
  bool Edit1KeyPress(const QKeyEvent& event);
  void SpinEdit5Change();

  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Label9 = nullptr;
  QLabel* Label10 = nullptr;
  QLabel* Label11 = nullptr;
  QLineEdit* Edit1 = nullptr;
  TSpinEdit* SpinEdit1 = nullptr;
  TSpinEdit* SpinEdit2 = nullptr;
  TSpinEdit* SpinEdit3 = nullptr;
  TSpinEdit* SpinEdit4 = nullptr;
  TSpinEdit* SpinEdit5 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();

  MonitorSettings* settings_ = nullptr;
};
