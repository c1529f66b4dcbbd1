#include "ui/main_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/settings_location.h"
#include "app/settings_store.h"
#include "app/version.h"
#include "base/handler_guard.h"
#include "monitor/clock.h"
#include "monitor/csv_log.h"
#include "monitor/monitor_conduct.h"
#include "monitor/read_cycle.h"
#include "net/udp_endpoint.h"
#include "ui/controls.h"
#include "ui/settings_dialog.h"
#include "ui/version_dialog.h"

namespace {
constexpr int kClientWidth = 324;
constexpr int kClientHeight = 124;

}  // namespace

TForm1::TForm1(Environment environment)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      environment_(std::move(environment)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  setFixedSize(kClientWidth, kClientHeight);
  CreateControls();
  LoadEndpoint();
  FormCreate();
}

TForm1::TForm1() : TForm1(Environment{}) {}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
  Label10 = MakeLabel(this, "Label10", QStringLiteral("ステータス"), 22, 21);
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setGeometry(95, 15, 219, 20);
  Edit2->setReadOnly(true);
  // Selectable and copyable with the mouse, never reached with Tab.
  Edit2->setFocusPolicy(Qt::ClickFocus);
  Button4 = MakeButton(this, "Button4", QStringLiteral("設定"), {8, 44, 75, 25});
  Label1 = MakeLabel(this, "Label1", QStringLiteral("実行中"), 102, 53);
  Label1->setVisible(false);
  Button2 = MakeButton(this, "Button2", QStringLiteral("実行"), {157, 44, 75, 25});
  Button3 = MakeButton(this, "Button3", QStringLiteral("停止"), {239, 44, 75, 25});
  Button1 = MakeButton(this, "Button1", QStringLiteral("終了"), {9, 85, 75, 25});
  Button5 = MakeButton(this, "Button5", QStringLiteral("バージョン"), {239, 85, 75, 25});
  setTabOrder(Button4, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, Button1);
  setTabOrder(Button1, Button5);

  const auto guarded = [this](void (TForm1::*handler)()) {
    return [this, handler] { HandlerGuard::Run([this, handler] { (this->*handler)(); }); };
  };
  connect(Button1, &QPushButton::clicked, this, guarded(&TForm1::Button1Click));
  connect(Button2, &QPushButton::clicked, this, guarded(&TForm1::Button2Click));
  connect(Button3, &QPushButton::clicked, this, guarded(&TForm1::Button3Click));
  connect(Button4, &QPushButton::clicked, this, guarded(&TForm1::Button4Click));
  connect(Button5, &QPushButton::clicked, this, guarded(&TForm1::Button5Click));
}

// The poller applies the endpoint's stored properties in their stored order (setting LocalPort
// to 0 rebinds to a port the system picks) and binds it again as the loaded window does.
void TForm1::LoadEndpoint() {
  poller_ = std::make_unique<Poller>(environment_.Poll, Timer1, Timer2, Timer3);
  TUDPEndpoint& endpoint = poller_->Endpoint();
  endpoint.OnInvalidHost = [this](bool& handled) { UDPEndpoint1InvalidHost(handled); };
  endpoint.OnStreamInvalid = [this](bool& handled, std::iostream* stream) {
    UDPEndpoint1StreamInvalid(handled, stream);
  };
  endpoint.OnBufferInvalid = [this](bool& handled, std::span<char> buff, int32_t& length) {
    UDPEndpoint1BufferInvalid(handled, buff, length);
  };
}

void TForm1::FormCreate() {
  setWindowTitle(QString::fromUtf8(kVersionString));
  settingsPath_ = environment_.SettingsPath.empty()
                      ? SettingsStore::SettingsPathFor(SettingsStore::ExecutablePath())
                      : environment_.SettingsPath;
  settingsFiles_ = std::make_unique<SettingsLocation>(SettingsLocation::Choose(
      settingsPath_, environment_.UserSettingsPath.empty() ? SettingsLocation::UserSettingsPath()
                                                           : environment_.UserSettingsPath));
  settings_ = SettingsStore::Load(settingsFiles_->LoadPath());
  logFileName_ = CsvLog::MakeFileName(poller_->LocalTime().Now());
  log_ = std::make_unique<CsvLog>(logFileName_);
  // A new cycle starts idle: CycleBusy is false.
  poller_->Assemble(settings_, std::make_unique<MonitorConduct>(*log_),
                    [this](const std::string& text) { SetStatus(text); });
}

void TForm1::SetDialogs(TForm2* form2, TForm3* form3) {
  form2_ = form2;
  form3_ = form3;
}

void TForm1::SetStatus(const std::string& text) { Edit2->setText(QString::fromStdString(text)); }

void TForm1::ShowRunning() {
  Label1->setVisible(true);
  Button2->setEnabled(false);
  Button3->setEnabled(true);
}

void TForm1::ShowStopped() {
  Label1->setVisible(false);
  Button2->setEnabled(true);
  Button3->setEnabled(false);
}

void TForm1::Button1Click() { close(); }

void TForm1::Button2Click() {
  poller_->Cycle().BeginMonitoring([this] { ShowRunning(); });
}

void TForm1::Button3Click() {
  poller_->Cycle().StopWait();
  SetStatus("");
  ShowStopped();
  Timer1.SetEnabled(false);
}

void TForm1::Button4Click() {
  if (form2_ == nullptr) return;
  HandlerGuard::ModalScope modal;
  form2_->Open(settings_);
}

void TForm1::Button5Click() {
  if (form3_ == nullptr) return;
  HandlerGuard::ModalScope modal;
  form3_->Open();
}

void TForm1::FormClose() {
  // A failed save is silent: there is nowhere left to keep the settings.
  settingsFiles_->Save(settings_);
  poller_->Cycle().StopWait();
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool closed = false;
  HandlerGuard::Run([this, &closed] {
    FormClose();
    closed = true;
  });
  // An error inside the close wait leaves the window open, as any failed handler does.
  if (closed) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TForm1::UDPEndpoint1BufferInvalid(bool& /*handled*/, std::span<char> /*buff*/,
                                       int32_t& /*length*/) {
  SetStatus("UDP-BufferInvalid");
}

void TForm1::UDPEndpoint1InvalidHost(bool& /*handled*/) { SetStatus("UDP-InvalidHost"); }

void TForm1::UDPEndpoint1StreamInvalid(bool& /*handled*/, std::iostream* /*stream*/) {
  SetStatus("UDP-StreamInvalid");
}
