#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "logger/mqtt_config.h"

class QSocketNotifier;
struct mosquitto;

// One persistent MQTT session over libmosquitto, driven by the Qt main loop: the socket is
// watched with notifiers, keep-alive runs on a timer, nothing ever blocks the loop. A lost or
// refused connection is tried again after 1 s, doubling up to 60 s, each wait shortened by a
// random part of up to a quarter so that many loggers do not reconnect in step.
class BrokerClient {
 public:
  // In-flight QoS 1 messages the library keeps; the publisher keeps within it.
  static constexpr int kMaxInFlight = 64;

  explicit BrokerClient(const MqttConfig& config);
  ~BrokerClient();
  BrokerClient(const BrokerClient&) = delete;
  BrokerClient& operator=(const BrokerClient&) = delete;

  // Connects in the background; OnConnected or OnTrouble tell how it went.
  void Start();
  bool Connected() const { return state_ == State::kConnected; }
  // The message id, or -1 when it cannot be sent now (not connected, or refused).
  int Publish(const std::string& topic, const std::string& payload, int qos, bool retain);
  // Runs the socket until nothing waits to be written or `ms` pass.
  void FlushFor(int ms);
  // Ends the session cleanly: the broker then does not send the last will.
  void Disconnect();

  std::function<void()> OnConnected;
  // A condition text naming the cause: refused, unreachable, credentials, TLS, silence.
  std::function<void(const std::string& cause)> OnTrouble;
  // The broker acknowledged a QoS 1 message, or a QoS 0 message went out.
  std::function<void(int mid)> OnPublished;

 private:
  enum class State { kIdle, kLookingUp, kConnecting, kConnected, kWaiting, kStopped };

  static void ConnectCallback(mosquitto*, void* self, int rc);
  static void DisconnectCallback(mosquitto*, void* self, int rc);
  static void PublishCallback(mosquitto*, void* self, int mid);

  void Create();
  void Connect();
  void Connecting(int rc, int error);
  void Loop();
  void Lost(const std::string& cause);
  void WatchSocket();
  void DropSocket();
  std::string Cause(int rc, int error) const;

  MqttConfig config_;
  mosquitto* mosq_ = nullptr;
  State state_ = State::kIdle;
  std::unique_ptr<QSocketNotifier> reader_;
  std::unique_ptr<QSocketNotifier> writer_;
  int socket_ = -1;
  QTimer misc_;
  QTimer retry_;
  int backoffMs_ = 1000;
  std::minstd_rand random_;
  QObject context_;
  // A host name is resolved inside the library's connect, which may block: that call alone
  // runs on this thread, while the main loop leaves the session alone.
  std::thread lookup_;
  bool numericHost_ = false;
};
