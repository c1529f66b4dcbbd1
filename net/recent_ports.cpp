#include "net/recent_ports.h"

#include <algorithm>

RecentPorts::RecentPorts(std::size_t capacity) : ring_(std::max<std::size_t>(capacity, 1)) {}

void RecentPorts::Add(std::uint16_t port) {
  if (member_[port]) return;  // never handed out twice while remembered
  if (count_ == ring_.size()) {
    member_[ring_[next_]] = false;
  } else {
    ++count_;
  }
  ring_[next_] = port;
  member_[port] = true;
  next_ = (next_ + 1) % ring_.size();
}
