#include <QApplication>

#include "app/handler_guard.h"
#include "ui/app_font.h"
#include "ui/app_icon.h"
#include "ui/error_box.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "ui/version_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  AppFont::Apply();
  QApplication::setWindowIcon(AppIcon());
  HandlerGuard::SetReporter([](const std::string& message) { ErrorBox::Show(message); });
  try {
    TForm1 form1;
    TForm2 form2;
    TForm3 form3;
    form1.SetDialogs(&form2, &form3);
    form1.show();
    return QApplication::exec();
  } catch (...) {
    ErrorBox::Show(HandlerGuard::MessageOf(std::current_exception()));
    return 1;
  }
}
