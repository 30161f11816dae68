// One reading for every request that arrives while it is taken: the counter
// table sees one reader at a time, and a burst of scrapes costs one round.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "counter_session.h"

namespace exporter {

class SharedReadings {
 public:
  explicit SharedReadings(CounterSession& session) : session_(session) {}

  // The round in progress when there is one (waiting for it to end), else a
  // new round taken by this thread.
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
};

}  // namespace exporter
