#include "devices/callback_times.h"

#include <fstream>

namespace ondelith {

CallbackTimes::Summary CallbackTimes::summary() const {
  Summary s;
  for (const auto& c : counts_) s.runs += c.load(std::memory_order_relaxed);
  const double rate = rate_.load(std::memory_order_relaxed);
  s.bufferUs = rate > 0 ? frames_.load(std::memory_order_relaxed) * 1e6 / rate : 0;
  if (s.runs == 0) return s;
  // The bucket holding the run at share q of them all, ordered by length.
  const auto at = [&](double q) {
    const uint64_t rank = static_cast<uint64_t>(q * static_cast<double>(s.runs - 1));
    uint64_t seen = 0;
    for (size_t b = 0; b < kBuckets; ++b) {
      seen += counts_[b].load(std::memory_order_relaxed);
      if (seen > rank) return static_cast<double>(b);
    }
    return static_cast<double>(kBuckets - 1);
  };
  s.medianUs = at(0.5);
  s.p99Us = at(0.99);
  s.p999Us = at(0.999);
  s.maxUs = at(1.0);
  for (size_t b = 0; b < kBuckets; ++b)
    if (static_cast<double>(b) > s.bufferUs / 4) s.overQuarter += counts_[b].load();
  return s;
}

bool CallbackTimes::write(const std::string& path) const {
  std::ofstream out(path);
  const Summary s = summary();
  out << "runs " << s.runs << "\nbuffer_us " << s.bufferUs << "\nmedian_us " << s.medianUs
      << "\np99_us " << s.p99Us << "\np999_us " << s.p999Us << "\nmax_us " << s.maxUs
      << "\nover_quarter " << s.overQuarter << "\n";
  for (size_t b = 0; b < kBuckets; ++b)
    if (const uint64_t n = counts_[b].load(std::memory_order_relaxed))
      out << "bucket_us " << b << " " << n << "\n";
  return static_cast<bool>(out.flush());
}

}  // namespace ondelith
