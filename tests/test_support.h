#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

// Helpers shared by the suites. Files are read and written in binary so that line endings are
// checked byte for byte.
inline std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::set<std::string> FileNamesIn(const std::filesystem::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Everything written to a stream so far, from its start.
inline std::string ReadStream(std::FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  for (int c = 0; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
  return text;
}

// The message of the E that the call throws; fails the test when it throws nothing.
template <typename E = std::exception>
std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const E& error) {
    return error.what();
  }
  ADD_FAILURE() << "nothing thrown";
  return {};
}
