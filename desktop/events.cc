// The event history behind the page's server-sent-event stream.
#include "events.h"

#include <chrono>

namespace quillo::desktop {

void EventHub::Publish(const std::string& type, const std::string& json) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({nextId_++, type, json});
    while (events_.size() > capacity_) events_.pop_front();
  }
  changed_.notify_all();
}

std::vector<Event> EventHub::WaitAfter(uint64_t after, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [&] { return closed_ || (!events_.empty() && events_.back().id > after); };
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  std::vector<Event> out;
  if (closed_) return out;
  for (const Event& e : events_)
    if (e.id > after) out.push_back(e);
  return out;
}

uint64_t EventHub::LastId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return nextId_ - 1;
}

void EventHub::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool EventHub::Closed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

std::string FormatServerSentEvent(const Event& event) {
  std::string out = "id: " + std::to_string(event.id) + "\nevent: " + event.type + "\n";
  // A data field ends at a line break, so every line of the JSON gets its own "data:".
  size_t pos = 0;
  while (true) {
    size_t end = event.data.find('\n', pos);
    out += "data: " +
           event.data.substr(pos, end == std::string::npos ? std::string::npos : end - pos) + "\n";
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return out + "\n";
}

}  // namespace quillo::desktop
