#pragma once

#include <optional>
#include <string>
#include <vector>

#include "logger/log_row_reader.h"

// What of a folder's logs the broker has not acknowledged yet, kept in the folder as
// `.varnel-publish`: stretches of rows, oldest first, each from its first unacknowledged row up
// to an end; the last one has no end (the rows still to come). Replaced atomically, so a crash
// or power cut leaves the old state or the new one.
class PublishPosition {
 public:
  static constexpr const char* kFileName = ".varnel-publish";

  struct Stretch {
    LogPosition From;
    std::optional<LogPosition> End;  // none: up to whatever is written
  };

  explicit PublishPosition(std::string folder);

  // The stretches saved in the folder; empty when there is no (readable) state.
  std::vector<Stretch> Load() const;
  // False with *error when the state could not be replaced.
  bool Save(const std::vector<Stretch>& stretches, std::string* error) const;

 private:
  std::string path_;
};
