#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

// The local ports handed out lately, oldest first, so that none is used again while an answer
// to it could still arrive: a port is remembered for the next `capacity` ports after it.
class RecentPorts {
 public:
  explicit RecentPorts(std::size_t capacity);

  bool Contains(std::uint16_t port) const { return member_[port]; }
  // Remembers `port`; the oldest is forgotten once `capacity` are remembered.
  void Add(std::uint16_t port);
  std::size_t Capacity() const { return ring_.size(); }

 private:
  std::vector<std::uint16_t> ring_;
  std::size_t next_ = 0;
  std::size_t count_ = 0;
  std::bitset<65536> member_;
};
