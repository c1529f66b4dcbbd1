#include "ui/version_dialog.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <utility>

#include "app/version.h"
#include "base/handler_guard.h"
#include "ui/app_icon.h"
#include "ui/controls.h"

namespace {
constexpr int kClientWidth = 247;
constexpr int kClientHeight = 154;

// Whether a browser opened is not looked at.
TForm3::UrlOpener g_urlOpener = [](const QUrl& url) { QDesktopServices::openUrl(url); };

}  // namespace

TForm3::TForm3(QWidget* parent)
    : FixedDialog("Form3", QStringLiteral("Version"), kClientWidth, kClientHeight, parent) {
  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(12, 20, 32, 32);
  Image1->setPixmap(AppIconPixmap());

  Label2 = MakeLabel(this, "Label2", QStringLiteral("Label2"), 64, 29);
  Label1 = MakeLabel(this, "Label1", QString::fromLatin1(kAuthorLine), 38, 74);
  Label3 = MakeLabel(this, "Label3", QString::fromLatin1(kWebAddress), 37, 92);
  Label3->setCursor(Qt::PointingHandCursor);
  // Plain text in the dialog's font: the label opens the address itself on a click.
  Label3->setTextFormat(Qt::PlainText);
  Label3->installEventFilter(this);

  Button1 = MakeButton(this, "Button1", QStringLiteral("OK"), {160, 120, 75, 25});
  // The only focusable control: Enter clicks it, as it would any focused button.
  Button1->setAutoDefault(true);
  connect(Button1, &QPushButton::clicked, this,
          [this] { HandlerGuard::Run([this] { Button1Click(); }); });
}

TForm3::UrlOpener TForm3::SetUrlOpener(UrlOpener opener) {
  return std::exchange(g_urlOpener, std::move(opener));
}

void TForm3::Open() {
  Label2->setText(QString::fromLatin1(kVersionString));
  Label2->adjustSize();
  ExecCentered();
}

void TForm3::Label3Click() {
  if (g_urlOpener) g_urlOpener(QUrl(QString::fromLatin1(kWebAddress)));
}

void TForm3::Button1Click() { close(); }

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label3) {
    // A click: the left button pressed and released over the label.
    if (event->type() == QEvent::MouseButtonPress) {
      label3Pressed_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    } else if (event->type() == QEvent::MouseButtonRelease) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const bool click = label3Pressed_ && mouse->button() == Qt::LeftButton &&
                         Label3->rect().contains(mouse->position().toPoint());
      label3Pressed_ = false;
      if (click) HandlerGuard::Run([this] { Label3Click(); });
    }
  }
  return FixedDialog::eventFilter(watched, event);
}
