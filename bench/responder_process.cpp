#include "bench/responder_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr int kBoundMs = 10000;

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Reads exactly `size` bytes, each wait bounded.
bool ReadAll(int fd, void* data, size_t size) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kBoundMs) != 1) return false;
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

// The child: answers until the parent closes the control pipe, then hands over the records.
[[noreturn]] void Serve(int control, int results) {
  StampingResponder responder;
  std::string error;
  if (!responder.Start(&error)) {
    const char* text = error.c_str();
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    ::_exit(1);
  }
  const uint16_t port = responder.Port();
  if (!WriteAll(results, &port, sizeof port)) ::_exit(1);
  char byte = 0;
  while (::read(control, &byte, 1) < 0 && errno == EINTR) {
  }
  responder.Stop();
  const std::vector<StampingResponder::Exchange>& exchanges = responder.Exchanges();
  const uint64_t count = exchanges.size();
  const bool ok = WriteAll(results, &count, sizeof count) &&
                  WriteAll(results, exchanges.data(), count * sizeof exchanges[0]);
  ::_exit(ok ? 0 : 1);
}

}  // namespace

ResponderProcess::~ResponderProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  for (const int fd : {control_, results_}) {
    if (fd >= 0) ::close(fd);
  }
}

bool ResponderProcess::Start(std::string* error) {
  int control[2];
  int results[2];
  if (::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(results, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  pid_ = ::fork();
  if (pid_ < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid_ == 0) {
    ::close(control[1]);
    ::close(results[0]);
    Serve(control[0], results[1]);
  }
  ::close(control[0]);
  ::close(results[1]);
  control_ = control[1];
  results_ = results[0];
  if (!ReadAll(results_, &port_, sizeof port_)) {
    *error = "the responder did not start";
    return false;
  }
  return true;
}

bool ResponderProcess::Finish(std::vector<StampingResponder::Exchange>* exchanges,
                              std::string* error) {
  ::close(std::exchange(control_, -1));
  uint64_t count = 0;
  bool ok = ReadAll(results_, &count, sizeof count) && count < (uint64_t{1} << 24);
  if (ok) {
    exchanges->resize(count);
    ok = ReadAll(results_, exchanges->data(), count * sizeof(*exchanges)[0]);
  }
  int status = 0;
  if (!ok) ::kill(pid_, SIGTERM);
  ::waitpid(std::exchange(pid_, -1), &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = "the responder failed";
    return false;
  }
  return true;
}
