// One reading for every request that arrives while it is taken, and again
// for those that arrive soon after: the counter table sees one reader at a
// time, a burst of scrapes costs one round, and any number of open pages
// and scrapers cost at most two rounds a second.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "counter_session.h"

namespace exporter {

// How long a reading is served again to every request, page or scrape.
inline constexpr std::chrono::milliseconds kReadingReuse{500};

class SharedReadings {
 public:
  explicit SharedReadings(CounterSession& session) : session_(session) {}

  // The round in progress when there is one (waiting for it to end), else
  // the last round when it began less than kReadingReuse ago, else a new
  // round taken by this thread.
  std::shared_ptr<const Snapshot> Latest();

  // Waits for a round in progress, then closes the session: no round starts
  // after this.
  void Close();

 private:
  CounterSession& session_;
  std::mutex mutex_;
  std::condition_variable roundEnded_;
  bool reading_ = false;
  bool closed_ = false;
  uint64_t rounds_ = 0;
  std::shared_ptr<const Snapshot> latest_;
  std::chrono::steady_clock::time_point latestBegan_;
};

}  // namespace exporter
