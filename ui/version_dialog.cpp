#include "ui/version_dialog.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QWindow>
#include <utility>

#include "app/handler_guard.h"
#include "app/version.h"
#include "ui/app_icon.h"

namespace {
constexpr int kClientWidth = 247;
constexpr int kClientHeight = 154;

// Whether a browser opened is not looked at.
TForm3::UrlOpener g_urlOpener = [](const QUrl& url) { QDesktopServices::openUrl(url); };

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}
}  // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Version"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

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

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(160, 120, 75, 25);
  connect(Button1, &QPushButton::clicked, this,
          [this] { HandlerGuard::Run([this] { Button1Click(); }); });
}

TForm3::UrlOpener TForm3::SetUrlOpener(UrlOpener opener) {
  return std::exchange(g_urlOpener, std::move(opener));
}

void TForm3::Open() {
  Label2->setText(QString::fromLatin1(kVersionString));
  Label2->adjustSize();
  CenterOnScreen();
  // Errors of handlers that run inside the dialog's own loop end in the error box there.
  HandlerGuard::ModalScope modal;
  exec();
}

void TForm3::Label3Click() {
  if (g_urlOpener) g_urlOpener(QUrl(QString::fromLatin1(kWebAddress)));
}

void TForm3::Button1Click() { close(); }

void TForm3::CenterOnScreen() {
  QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->geometry();
  // The platform window gives the frame margins where the window system knows them before
  // the first showing; elsewhere the client size is the best estimate.
  winId();
  const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
  const QSize outer = size().grownBy(frame);
  move(area.x() + (area.width() - outer.width()) / 2,
       area.y() + (area.height() - outer.height()) / 2);
}

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
  return QDialog::eventFilter(watched, event);
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  // No button answers Enter or Escape.
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}
