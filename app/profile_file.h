#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A small INI reader/writer with the Windows profile rules: section and key names compare
// case-insensitively, values are trimmed of blanks and tabs, the first matching section and the
// first matching key in it win, and a missing file, section or key gives the caller's default.
// LF, CR LF and a lone CR each end a line, for reading and writing alike; a write keeps every
// other line's own line ending, gives a new key the line ending of the line it follows, and a
// new section (or a last line that had none) the file's first one.
class ProfileFile {
 public:
  using KeyValues = std::vector<std::pair<std::string, std::string>>;

  // Loads the file once; a missing or unreadable file reads like an empty one.
  explicit ProfileFile(const std::string& path);

  // The key's trimmed value cut to its first maxChars characters, or defaultValue when the
  // section or key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& defaultValue, std::size_t maxChars) const;

  // Whether the section holds the key, whatever its value.
  bool HasKey(std::string_view section, std::string_view key) const {
    return FindValue(section, key).has_value();
  }

  // Every key line of the first matching section, in file order, with trimmed names and values;
  // a key given twice is listed twice.
  KeyValues Entries(std::string_view section) const;

  // Reads the file as if it did not start with a UTF-8 byte-order mark.
  void SkipByteOrderMark();

  // The key's value by the profile-integer rule (see ParseInteger), or defaultValue when the
  // section or key is missing.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;

  // The number at the start of the trimmed text: an optional '+' or '-', then decimal digits up
  // to the first non-digit; no digits gives 0.
  static int32_t ParseInteger(std::string_view text);

  // Writes the keys, in order, into the section of the file at path, keeping every other line
  // byte for byte, and replaces the file atomically. False when the file could not be read or
  // replaced; the file is then unchanged and no temporary file is left.
  static bool WriteStrings(const std::string& path, std::string_view section,
                           const KeyValues& keyValues);

 private:
  std::optional<std::string_view> FindValue(std::string_view section, std::string_view key) const;

  std::string text_;
};
