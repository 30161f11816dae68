#include "shared_readings.h"

namespace exporter {

std::shared_ptr<const Snapshot> SharedReadings::Latest() {
  std::unique_lock lock(mutex_);
  if (reading_) {
    uint64_t round = rounds_;
    roundEnded_.wait(lock, [&] { return rounds_ != round; });
    return latest_;
  }
  if (closed_) return std::make_shared<const Snapshot>();
  // Measured from when the round began, so that rounds begin at least
  // kReadingReuse apart however long each takes.
  auto now = std::chrono::steady_clock::now();
  if (latest_ != nullptr && now - latestBegan_ < kReadingReuse) return latest_;
  reading_ = true;
  lock.unlock();
  std::shared_ptr<const Snapshot> snapshot;
  try {
    snapshot = std::make_shared<const Snapshot>(session_.Read());
  } catch (...) {
    snapshot = std::make_shared<const Snapshot>();  // out of memory: this round reads as down
  }
  lock.lock();
  latest_ = snapshot;
  latestBegan_ = now;
  ++rounds_;
  reading_ = false;
  roundEnded_.notify_all();
  return snapshot;
}

void SharedReadings::Close() {
  std::unique_lock lock(mutex_);
  roundEnded_.wait(lock, [&] { return !reading_; });
  closed_ = true;
  session_.Close();
}

}  // namespace exporter
