#pragma once

#include <functional>

#include "ui/fixed_dialog.h"

class QLabel;
class QPushButton;
class QUrl;

// The version dialog: the icon, the version string, the author line and a web link.
class TForm3 : public FixedDialog {
  Q_OBJECT

 public:
  using UrlOpener = std::function<void(const QUrl& url)>;

  static constexpr const char* kAuthorLine = "(C) 2004 Varnel developers";
  static constexpr const char* kWebAddress = "https://varnel.example.org/";

  explicit TForm3(QWidget* parent = nullptr);

  // Sets the version label and shows the dialog modally.
  void Open();

  // Handlers, named after their control and event.
  void Label3Click();
  void Button1Click();

  // What asks the desktop to open an address; returns the previous one. Tests intercept it.
  static UrlOpener SetUrlOpener(UrlOpener opener);

  QLabel* Image1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  QPushButton* Button1 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool label3Pressed_ = false;
};
