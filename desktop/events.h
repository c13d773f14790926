// Events for the page: a numbered, bounded history that server-sent-event streams read from.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quillo::desktop {

struct Event {
  uint64_t id = 0;
  std::string type;  ///< "status", "progress", "box", "complete", ...
  std::string data;  ///< JSON text
};

class EventHub {
 public:
  /// Keeps the last `capacity` events: a page that reconnects catches up on what it missed, and
  /// memory stays bounded however long the program runs.
  explicit EventHub(size_t capacity = 512) : capacity_(capacity) {}
  void Publish(const std::string& type, const std::string& json);
  /// Events numbered above `after`, waiting up to `timeoutMs` for one. Empty on time-out or
  /// when closed.
  std::vector<Event> WaitAfter(uint64_t after, int timeoutMs);
  uint64_t LastId();
  /// Wakes every waiting stream and makes them end.
  void Close();
  bool Closed();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Event> events_;
  size_t capacity_;
  uint64_t nextId_ = 1;
  bool closed_ = false;
};

/// One event in the text/event-stream format.
std::string FormatServerSentEvent(const Event& event);

}  // namespace quillo::desktop
