#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The [MQTT] section of the logger's config: where rows are published. Without Host there is
// no publishing at all.
struct MqttConfig {
  enum class Payload { kJson, kInflux };

  std::string Host;
  int32_t Port = 1883;  // 8883 when CAFile is set and Port is not
  std::string Topic;    // varnel/<config base name>
  int32_t QoS = 1;
  Payload Format = Payload::kJson;
  std::string ClientId;  // varnel-<host name>-<config base name>
  std::string Username;
  std::string Password;  // read from PasswordFile, never from the INI
  std::string CAFile;
  std::string CertFile;
  std::string KeyFile;
  int32_t KeepAlive = 30;
  std::string LoggerName;  // the config's base name, the influx tag

  // Reads [MQTT] from the config at path by the profile rules. nullopt with one line in
  // *error for a value that cannot work; a config without Host gives a config whose Host is
  // empty.
  static std::optional<MqttConfig> Load(const std::string& path, std::string* error);
};
