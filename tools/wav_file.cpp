#include "tools/wav_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

namespace ondelith {

namespace {

constexpr uint16_t kFormatFloat = 3;  // WAVE_FORMAT_IEEE_FLOAT
constexpr uint32_t kBytesPerFrame = 4;
constexpr uint32_t kSizeUnknown = 0xFFFFFFFF;  // in RF64: see the ds64 chunk
constexpr uint32_t kDs64Bytes = 28;
// The RIFF size field counts everything after itself.
constexpr uint64_t kRiffSizeBeforeData = kWavHeaderBytes - 8;

class Bytes {
 public:
  Bytes& tag(const char* t) {
    out_.append(t, 4);
    return *this;
  }
  Bytes& le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    return *this;
  }
  Bytes& zeros(size_t n) {
    out_.append(n, '\0');
    return *this;
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace

std::string wavHeader(int rate, uint64_t frames) {
  const uint64_t data = frames * kBytesPerFrame;
  const uint64_t riff = kRiffSizeBeforeData + data;
  const bool rf64 = riff > kSizeUnknown;
  Bytes b;
  b.tag(rf64 ? "RF64" : "RIFF").le(rf64 ? kSizeUnknown : riff, 4).tag("WAVE");
  // The 64-bit sizes, or the room kept for them.
  if (rf64)
    b.tag("ds64").le(kDs64Bytes, 4).le(riff, 8).le(data, 8).le(frames, 8).le(0, 4);
  else
    b.tag("JUNK").le(kDs64Bytes, 4).zeros(kDs64Bytes);
  b.tag("fmt ").le(18, 4);
  b.le(kFormatFloat, 2).le(1, 2).le(static_cast<uint32_t>(rate), 4);
  b.le(static_cast<uint64_t>(rate) * kBytesPerFrame, 4).le(kBytesPerFrame, 2).le(32, 2).le(0, 2);
  b.tag("fact").le(4, 4).le(rf64 ? kSizeUnknown : frames, 4);
  b.tag("data").le(rf64 ? kSizeUnknown : data, 4);
  return b.take();
}

bool WavFile::open(const std::string& path, int rate, uint64_t frames, std::string& reason) {
  rate_ = rate;
  frames_ = 0;
  if (!file_.open(path, &reason)) return false;
  // Only a hint: the size stays what is written, and where the space cannot
  // be set aside (a full disk, a limit, a file system without it) the writes
  // meet the same condition and report it.
  const uint64_t bytes = kWavHeaderBytes + frames * kBytesPerFrame;
  (void)fallocate(file_.descriptor(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
  // The header is written last, over this room kept for it.
  return file_.write(std::string(kWavHeaderBytes, '\0'), &reason);
}

bool WavFile::write(const float* samples, int64_t count, std::string& reason) {
  static_assert(std::endian::native == std::endian::little, "WAV samples are little-endian");
  const std::string_view bytes(reinterpret_cast<const char*>(samples),
                               static_cast<size_t>(count) * sizeof(float));
  if (!file_.write(bytes, &reason)) return false;
  frames_ += static_cast<uint64_t>(count);
  return true;
}

bool WavFile::commit(std::string& reason) {
  const std::string header = wavHeader(rate_, frames_);
  const ssize_t n = pwrite(file_.descriptor(), header.data(), header.size(), 0);
  if (n != static_cast<ssize_t>(header.size())) {
    reason = std::string("cannot write: ") + (n < 0 ? std::strerror(errno) : "short write");
    file_.abandon();
    return false;
  }
  return file_.commit(&reason);
}

}  // namespace ondelith
