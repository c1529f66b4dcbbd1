#pragma once

#include <mosquitto.h>

#include <string>

// libmosquitto, loaded when the first broker session needs it, so that a logger that publishes
// nothing never maps it and the TLS libraries it pulls in (about 2 MiB of resident memory).
struct MosquittoLibrary {
  // clang-format off
#define VARNEL_MOSQUITTO_FUNCTIONS(X)                                                   \
  X(lib_init) X(lib_cleanup) X(new) X(destroy) X(int_option)                            \
  X(max_inflight_messages_set) X(connect_callback_set) X(disconnect_callback_set)       \
  X(publish_callback_set) X(will_set) X(username_pw_set) X(tls_set) X(connect_async)    \
  X(disconnect) X(socket) X(want_write) X(loop) X(publish) X(strerror) X(connack_string)
  // clang-format on
#define VARNEL_MOSQUITTO_POINTER(name) decltype(&::mosquitto_##name) mosquitto_##name = nullptr;
  VARNEL_MOSQUITTO_FUNCTIONS(VARNEL_MOSQUITTO_POINTER)
#undef VARNEL_MOSQUITTO_POINTER

  // The library, loaded on the first call and kept; nullptr, with the reason in *error, when it
  // cannot be loaded.
  static const MosquittoLibrary* Get(std::string* error = nullptr);
};
