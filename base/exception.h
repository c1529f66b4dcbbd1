#pragma once

#include <stdexcept>
#include <string>

// The general error of the program: every error that leaves an event handler ends in the
// standard error box with its message.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};
