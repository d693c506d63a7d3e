#pragma once
// How long the audio callback runs, for a debug run
// (ONDELITH_CALLBACK_TIMES=file): the audio thread counts each run in a
// microsecond bucket with two clock reads and no lock; the UI thread writes
// the distribution once the stream has stopped.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace ondelith {

class CallbackTimes {
 public:
  static constexpr size_t kBuckets = 20000;  // 1 us each; the last holds longer runs

  using Clock = std::chrono::steady_clock;
  // The audio thread's: one callback that began at `start` and ends now,
  // with `frames` frames at `rate` frames per second.
  void record(Clock::time_point start, uint32_t frames, double rate) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    count(static_cast<uint64_t>(us.count()), frames, rate);
  }
  // One run of `us` whole microseconds.
  void count(uint64_t us, uint32_t frames, double rate) {
    const size_t bucket = static_cast<size_t>(std::min<uint64_t>(us, kBuckets - 1));
    // One writer: plain relaxed stores, read after the stream stops.
    counts_[bucket].store(counts_[bucket].load(std::memory_order_relaxed) + 1,
                          std::memory_order_relaxed);
    frames_.store(frames, std::memory_order_relaxed);
    rate_.store(rate, std::memory_order_relaxed);
  }

  struct Summary {
    uint64_t runs = 0;
    double medianUs = 0, p99Us = 0, p999Us = 0, maxUs = 0;
    double bufferUs = 0;       // the last callback's buffer, in time
    uint64_t overQuarter = 0;  // runs longer than a quarter of it
  };
  Summary summary() const;
  // The summary and every non-empty bucket, as text; false when it cannot
  // be written.
  bool write(const std::string& path) const;

 private:
  std::array<std::atomic<uint64_t>, kBuckets> counts_{};
  std::atomic<uint32_t> frames_{0};
  std::atomic<double> rate_{0};
};

}  // namespace ondelith
