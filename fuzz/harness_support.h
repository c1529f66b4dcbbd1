#pragma once

// What the harnesses share: how a finding ends the run, and a scratch folder for files.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// A finding: the reason on stderr, then abort, which libFuzzer reports with the input.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

// A new folder for one harness's files, removed at exit. Under $TMPDIR when set (scripts/fuzz.sh
// points it at a folder of its own, also removed after a finding), else on tmpfs, where the
// syncs of every save cost little.
inline std::filesystem::path ScratchFolder(const char* harness) {
  namespace fs = std::filesystem;
  static fs::path folder;
  const char* tmpdir = std::getenv("TMPDIR");
  const fs::path base = tmpdir != nullptr && *tmpdir != '\0' ? fs::path(tmpdir)
                        : fs::is_directory("/dev/shm")       ? fs::path("/dev/shm")
                                                             : fs::temp_directory_path();
  std::string name = (base / (std::string(harness) + ".XXXXXX")).string();
  if (::mkdtemp(name.data()) == nullptr) Fail("cannot make a folder under " + base.string());
  folder = name;
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  });
  return folder;
}
