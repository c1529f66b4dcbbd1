#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

// Folder permissions bind only a user without root's overrides. Run as root, the scope acts as
// the user "nobody" (effective ids only, so that it can return) after handing it the folder's
// tree; run as anyone else, it changes nothing.
class UnprivilegedScope {
 public:
  static constexpr uid_t kNobody = 65534;

  explicit UnprivilegedScope(const std::filesystem::path& folder) {
    if (::geteuid() != 0) return;
    std::error_code error;
    Give(folder);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
      Give(entry.path());
    }
    dropped_ = ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
    EXPECT_TRUE(dropped_) << "cannot act as nobody";
  }
  ~UnprivilegedScope() {
    if (!dropped_) return;
    EXPECT_EQ(::seteuid(0), 0);
    EXPECT_EQ(::setegid(0), 0);
  }
  UnprivilegedScope(const UnprivilegedScope&) = delete;
  UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

 private:
  static void Give(const std::filesystem::path& path) {
    EXPECT_EQ(::lchown(path.c_str(), kNobody, kNobody), 0) << path;
  }

  bool dropped_ = false;
};
