#pragma once

#include <QWidget>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>

#include "app/monitor_settings.h"
#include "monitor/poller.h"
#include "monitor/timer.h"

class CsvLog;
class QLabel;
class QLineEdit;
class QPushButton;
class ReadCycle;
class SettingsLocation;
class TForm2;
class TForm3;
class TUDPEndpoint;

// The main window: status line, running indicator and the five buttons. It owns the settings,
// the endpoint, the three timers and the read cycle, and forwards their events to the cycle.
class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // What the window runs on; the defaults are the real ones. Tests inject a socket layer, a
  // clock or a settings path.
  struct Environment {
    Poller::Environment Poll;           // the socket layer and the clock
    std::string SettingsPath;           // empty: beside the executable
    std::string UserSettingsPath = {};  // empty: in the user's configuration folder
  };

  TForm1();
  explicit TForm1(Environment environment);
  ~TForm1() override;

  void SetDialogs(TForm2* form2, TForm3* form3);

  MonitorSettings& Settings() { return settings_; }
  const std::string& LogFileName() const { return logFileName_; }
  const std::string& SettingsPath() const { return settingsPath_; }
  // Where this run read its settings and where it writes them at close.
  const SettingsLocation& SettingsFiles() const { return *settingsFiles_; }
  ReadCycle& Cycle() { return poller_->Cycle(); }
  TUDPEndpoint& UDPEndpoint1() { return poller_->Endpoint(); }

  // Handlers, named after their control and event.
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void FormCreate();
  void FormClose();
  void UDPEndpoint1BufferInvalid(bool& handled, std::span<char> buff, int32_t& length);
  void UDPEndpoint1InvalidHost(bool& handled);
  void UDPEndpoint1StreamInvalid(bool& handled, std::iostream* stream);

  QLabel* Label10 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QPushButton* Button4 = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button5 = nullptr;

  TTimer Timer1;
  TTimer Timer2;
  TTimer Timer3;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void LoadEndpoint();
  void SetStatus(const std::string& text);
  void ShowRunning();
  void ShowStopped();

  Environment environment_;
  MonitorSettings settings_;
  std::string settingsPath_;
  std::unique_ptr<SettingsLocation> settingsFiles_;
  std::string logFileName_;
  std::unique_ptr<CsvLog> log_;
  // The endpoint and the read cycle, over the timers above.
  std::unique_ptr<Poller> poller_;
  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
};
