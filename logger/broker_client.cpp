#include "logger/broker_client.h"

#include <arpa/inet.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "logger/mosquitto_library.h"

namespace {

constexpr int kMaxBackoffMs = 60000;
constexpr int kMiscMs = 500;

// The logger refuses to start when it cannot be loaded, so a session always has it.
const MosquittoLibrary& Mosq() { return *MosquittoLibrary::Get(); }

// The library wants one init before any session and one cleanup after the last.
std::mutex libraryMutex;
int libraryUsers = 0;

bool Numeric(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

BrokerClient::BrokerClient(const MqttConfig& config)
    : config_(config), random_(std::random_device{}()) {
  {
    const std::lock_guard lock(libraryMutex);
    if (libraryUsers++ == 0) Mosq().mosquitto_lib_init();
  }
  numericHost_ = Numeric(config_.Host);
  misc_.setInterval(kMiscMs);
  QObject::connect(&misc_, &QTimer::timeout, &context_, [this] { Loop(); });
  retry_.setSingleShot(true);
  QObject::connect(&retry_, &QTimer::timeout, &context_, [this] { Connect(); });
}

void BrokerClient::Create() {
  if (mosq_ != nullptr) Mosq().mosquitto_destroy(mosq_);
  mosq_ = Mosq().mosquitto_new(config_.ClientId.c_str(), /*clean_session=*/false, this);
  Mosq().mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  Mosq().mosquitto_max_inflight_messages_set(mosq_, kMaxInFlight);
  Mosq().mosquitto_connect_callback_set(mosq_, &BrokerClient::ConnectCallback);
  Mosq().mosquitto_disconnect_callback_set(mosq_, &BrokerClient::DisconnectCallback);
  Mosq().mosquitto_publish_callback_set(mosq_, &BrokerClient::PublishCallback);
  const std::string will = R"({"state":"offline"})";
  const std::string statusTopic = config_.Topic + "/status";
  Mosq().mosquitto_will_set(mosq_, statusTopic.c_str(), static_cast<int>(will.size()), will.data(),
                            1, true);
  if (!config_.Username.empty()) {
    Mosq().mosquitto_username_pw_set(mosq_, config_.Username.c_str(),
                                     config_.Password.empty() ? nullptr : config_.Password.c_str());
  }
  if (!config_.CAFile.empty()) {
    Mosq().mosquitto_tls_set(mosq_, config_.CAFile.c_str(), nullptr,
                             config_.CertFile.empty() ? nullptr : config_.CertFile.c_str(),
                             config_.KeyFile.empty() ? nullptr : config_.KeyFile.c_str(), nullptr);
  }
}

BrokerClient::~BrokerClient() {
  if (lookup_.joinable()) lookup_.join();
  DropSocket();
  if (mosq_ != nullptr) Mosq().mosquitto_destroy(mosq_);
  const std::lock_guard lock(libraryMutex);
  if (--libraryUsers == 0) Mosq().mosquitto_lib_cleanup();
}

void BrokerClient::Start() {
  if (state_ == State::kIdle) Connect();
}

void BrokerClient::Connect() {
  if (state_ == State::kStopped || state_ == State::kLookingUp) return;
  DropSocket();
  // A fresh session object each time: the library then resends nothing on its own, and the
  // publisher, which rewinds to the last acknowledged row, alone decides what goes out.
  Create();
  if (numericHost_) {
    state_ = State::kConnecting;
    const int rc = Mosq().mosquitto_connect_async(mosq_, config_.Host.c_str(), config_.Port,
                                                  config_.KeepAlive);
    Connecting(rc, errno);
    return;
  }
  state_ = State::kLookingUp;
  if (lookup_.joinable()) lookup_.join();
  lookup_ = std::thread([this] {
    const int rc = Mosq().mosquitto_connect_async(mosq_, config_.Host.c_str(), config_.Port,
                                                  config_.KeepAlive);
    const int error = errno;
    QMetaObject::invokeMethod(
        &context_,
        [this, rc, error] {
          state_ = State::kConnecting;
          Connecting(rc, error);
        },
        Qt::QueuedConnection);
  });
}

void BrokerClient::Connecting(int rc, int error) {
  if (rc != MOSQ_ERR_SUCCESS) {
    Lost(Cause(rc, error));
    return;
  }
  WatchSocket();
  misc_.start();
}

void BrokerClient::WatchSocket() {
  const int socket = Mosq().mosquitto_socket(mosq_);
  if (socket != socket_) {
    DropSocket();
    if (socket < 0) return;
    socket_ = socket;
    reader_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    writer_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    QObject::connect(reader_.get(), &QSocketNotifier::activated, &context_, [this] { Loop(); });
    QObject::connect(writer_.get(), &QSocketNotifier::activated, &context_, [this] { Loop(); });
  }
  writer_->setEnabled(Mosq().mosquitto_want_write(mosq_));
}

void BrokerClient::DropSocket() {
  // Possibly inside one of their own activations: they go once it has returned.
  for (auto* notifier : {reader_.release(), writer_.release()}) {
    if (notifier == nullptr) continue;
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
  socket_ = -1;
}

void BrokerClient::Loop() {
  if (state_ != State::kConnecting && state_ != State::kConnected) return;
  // A zero time-out: the library's own select only polls, so this never waits.
  const int rc = Mosq().mosquitto_loop(mosq_, 0, 1);
  const int error = errno;
  if (state_ != State::kConnecting && state_ != State::kConnected) return;
  if (rc != MOSQ_ERR_SUCCESS) {
    Lost(Cause(rc, error));
    return;
  }
  WatchSocket();
}

void BrokerClient::Lost(const std::string& cause) {
  if (state_ == State::kStopped || state_ == State::kWaiting) return;
  state_ = State::kWaiting;
  DropSocket();
  misc_.stop();
  if (OnTrouble) OnTrouble(cause);
  std::uniform_int_distribution<int> jitter(0, backoffMs_ / 4);
  retry_.start(backoffMs_ - jitter(random_));
  backoffMs_ = std::min(backoffMs_ * 2, kMaxBackoffMs);
}

std::string BrokerClient::Cause(int rc, int error) const {
  switch (rc) {
    case MOSQ_ERR_ERRNO: {
      std::string text = std::strerror(error);
      if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
      return text;
    }
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
      return "the TLS handshake failed (a certificate that does not verify?)";
    case MOSQ_ERR_KEEPALIVE:
      return "the broker stopped answering (nothing within the keep-alive)";
    case MOSQ_ERR_EAI:
      return "the host name cannot be resolved";
    case MOSQ_ERR_CONN_LOST:
      return "the connection was lost";
    default:
      return Mosq().mosquitto_strerror(rc);
  }
}

void BrokerClient::ConnectCallback(mosquitto*, void* self, int rc) {
  auto* client = static_cast<BrokerClient*>(self);
  if (rc != 0) {
    client->Lost(std::string("the broker refused the connection: ") +
                 Mosq().mosquitto_connack_string(rc));
    return;
  }
  client->state_ = State::kConnected;
  client->backoffMs_ = 1000;
  if (client->OnConnected) client->OnConnected();
}

void BrokerClient::DisconnectCallback(mosquitto*, void* self, int rc) {
  auto* client = static_cast<BrokerClient*>(self);
  if (client->state_ == State::kStopped || rc == 0) return;
  // Keep-alive and lost connections report here as well as through the loop's result.
  client->Lost(client->Cause(rc == MOSQ_ERR_KEEPALIVE ? rc : MOSQ_ERR_CONN_LOST, 0));
}

void BrokerClient::PublishCallback(mosquitto*, void* self, int mid) {
  auto* client = static_cast<BrokerClient*>(self);
  if (client->OnPublished) client->OnPublished(mid);
}

int BrokerClient::Publish(const std::string& topic, const std::string& payload, int qos,
                          bool retain) {
  if (state_ != State::kConnected) return -1;
  int mid = 0;
  const int rc = Mosq().mosquitto_publish(
      mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
      Lost(Cause(rc, errno));
    }
    return -1;
  }
  WatchSocket();
  return mid;
}

void BrokerClient::FlushFor(int ms) {
  const QDeadlineTimer deadline(ms);
  while (state_ == State::kConnected && Mosq().mosquitto_want_write(mosq_) &&
         !deadline.hasExpired()) {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

void BrokerClient::Disconnect() {
  if (state_ == State::kConnected) {
    Mosq().mosquitto_disconnect(mosq_);
    Mosq().mosquitto_loop(mosq_, 0, 1);
  }
  if (lookup_.joinable()) lookup_.join();
  state_ = State::kStopped;
  misc_.stop();
  retry_.stop();
  DropSocket();
}
