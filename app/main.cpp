#include <QApplication>
#include <cstdio>
#include <filesystem>

#include "base/graphical_session.h"
#include "base/handler_guard.h"
#include "ui/app_font.h"
#include "ui/app_icon.h"
#include "ui/error_box.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "ui/version_dialog.h"

int main(int argc, char** argv) {
  // The monitor takes no arguments; over SSH without a display it says why it cannot start
  // rather than letting the platform plugin abort.
  if (const std::string missing = GraphicalSession::Missing(); !missing.empty()) {
    std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "";
    if (program.empty()) program = "varnel";
    std::fprintf(stderr, "%s: needs a graphical session (%s); varnel-logger logs without one\n",
                 program.c_str(), missing.c_str());
    return 1;
  }
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
