#pragma once

#include <string>

class QWidget;

// The standard error box: an error icon, the program's title as caption and the message,
// ending in a period.
class ErrorBox {
 public:
  // The caption: the executable's file name without directory, cut at its first ".".
  static std::string Caption();
  // The text: the message, plus "." unless it already ends in one.
  static std::string Text(const std::string& message);
  static void Show(const std::string& message, QWidget* parent = nullptr);
};
