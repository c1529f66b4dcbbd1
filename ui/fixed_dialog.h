#pragma once

#include <QDialog>

class QKeyEvent;

// A dialog of the designed client size that cannot be resized or maximised, is centred on the
// screen when it opens, and has no button bound to Enter or Escape.
class FixedDialog : public QDialog {
  Q_OBJECT

 public:
  FixedDialog(const char* name, const QString& caption, int clientWidth, int clientHeight,
              QWidget* parent);

 protected:
  // Centres the dialog, then shows it modally; errors of handlers run by its own loop end in
  // the error box there.
  void ExecCentered();
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CenterOnScreen();
};
