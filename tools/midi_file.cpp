#include "tools/midi_file.h"

#include <algorithm>

namespace ondelith {

namespace {

constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note

struct Event {
  int64_t pulses;
  int track;
  uint32_t word;  // note message, or 0
  int32_t tempo;  // a tempo change, or -1
};

// Big-endian reads and variable-length quantities over a bounded range.
class Cursor {
 public:
  Cursor(std::string_view bytes, size_t begin, size_t end) : b_(bytes), at_(begin), end_(end) {}
  bool done() const { return at_ >= end_; }
  size_t at() const { return at_; }
  bool byte(uint8_t& v) {
    if (at_ >= end_) return false;
    v = static_cast<uint8_t>(b_[at_++]);
    return true;
  }
  bool peek(uint8_t& v) const {
    if (at_ >= end_) return false;
    v = static_cast<uint8_t>(b_[at_]);
    return true;
  }
  bool skip(uint64_t n) {
    if (n > end_ - at_) return false;
    at_ += static_cast<size_t>(n);
    return true;
  }
  // At most four bytes, as the file format allows.
  bool quantity(uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t c;
      if (!byte(c)) return false;
      v = (v << 7) | (c & 0x7F);
      if (!(c & 0x80)) return true;
    }
    return false;
  }

 private:
  std::string_view b_;
  size_t at_, end_;
};

uint32_t bigEndian(std::string_view b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

int dataBytes(uint8_t status) { return (status & 0xE0) == 0xC0 ? 1 : 2; }

// One track chunk's events; false with a reason when it is malformed or cut short.
bool readTrack(std::string_view bytes, size_t begin, size_t end, int track,
               std::vector<Event>& events, std::string& reason) {
  Cursor c(bytes, begin, end);
  int64_t pulses = 0;
  uint8_t running = 0;
  const std::string where = "track " + std::to_string(track) + ": ";
  for (;;) {
    uint32_t delta;
    if (c.done()) {
      reason = where + "ends without End of Track (truncated?)";
      return false;
    }
    if (!c.quantity(delta)) {
      reason = where + "bad delta time (truncated?)";
      return false;
    }
    pulses += delta;
    uint8_t status;
    if (!c.peek(status)) {
      reason = where + "truncated event";
      return false;
    }
    if (status & 0x80) {
      c.byte(status);
    } else if (running) {
      status = running;
    } else {
      reason = where + "data byte without a status";
      return false;
    }
    if (status < 0xF0) {
      running = status;
      uint8_t data[2] = {0, 0};
      for (int i = 0; i < dataBytes(status); ++i) {
        if (!c.byte(data[i])) {
          reason = where + "truncated event";
          return false;
        }
        if (data[i] & 0x80) {
          reason = where + "status byte inside a message";
          return false;
        }
      }
      const uint32_t word = status | (uint32_t{data[0]} << 8) | (uint32_t{data[1]} << 16);
      events.push_back({pulses, track, (status & 0xE0) == 0x80 ? word : 0, -1});
      continue;
    }
    running = 0;  // system and meta events cancel running status
    if (status == 0xF0 || status == 0xF7) {
      uint32_t length;
      if (!c.quantity(length) || !c.skip(length)) {
        reason = where + "truncated system exclusive event";
        return false;
      }
      events.push_back({pulses, track, 0, -1});
      continue;
    }
    if (status != 0xFF) {
      reason = where + "unexpected status byte";
      return false;
    }
    uint8_t type;
    uint32_t length;
    if (!c.byte(type) || !c.quantity(length)) {
      reason = where + "truncated meta event";
      return false;
    }
    const size_t data = c.at();
    if (!c.skip(length)) {
      reason = where + "truncated meta event";
      return false;
    }
    int32_t tempo = -1;
    if (type == 0x51 && length == 3) tempo = static_cast<int32_t>(bigEndian(bytes, data, 3));
    events.push_back({pulses, track, 0, tempo});
    if (type == 0x2F) return true;  // End of Track; anything after it is not read
  }
}

}  // namespace

int64_t roundRatioHalfEven(__int128 numerator, __int128 denominator) {
  __int128 q = numerator / denominator;
  __int128 r = numerator % denominator;
  if (r < 0) {
    r += denominator;
    --q;
  }
  if (2 * r > denominator || (2 * r == denominator && (q & 1) != 0)) ++q;
  return static_cast<int64_t>(q);
}

bool readMidiFile(std::string_view bytes, MidiFileContents& out, std::string& reason,
                  int sampleRate) {
  out = {};
  if (bytes.size() < 8 || bytes.substr(0, 4) != "MThd") {
    reason = "not a MIDI file";
    return false;
  }
  const uint32_t headerLength = bigEndian(bytes, 4, 4);
  if (headerLength < 6 || headerLength > bytes.size() - 8) {
    reason = "truncated or malformed MIDI header";
    return false;
  }
  const uint32_t format = bigEndian(bytes, 8, 2);
  const uint32_t tracks = bigEndian(bytes, 10, 2);
  const uint32_t division = bigEndian(bytes, 12, 2);
  if (format > 1) {
    reason = "MIDI file format " + std::to_string(format) + " is not supported (only 0 and 1)";
    return false;
  }

  // Ticks-per-quarter time is the sum of ticks times tempo over ppqn * 10^6
  // seconds; SMPTE time is ticks over frames per second times ticks per
  // frame (29 stands for 29.97). Kept as exact fractions of a second.
  const bool smpte = division & 0x8000;
  __int128 denominator;
  __int128 smpteScale = 1;
  if (smpte) {
    const int framesPerSecond = 256 - static_cast<int>(division >> 8);
    const int ticksPerFrame = static_cast<int>(division & 0xFF);
    if (ticksPerFrame == 0) {
      reason = "SMPTE division with no ticks per frame";
      return false;
    }
    denominator = __int128{framesPerSecond == 29 ? 30000 : framesPerSecond} * ticksPerFrame;
    if (framesPerSecond == 29) smpteScale = 1001;
  } else {
    if (division == 0) {
      reason = "division of 0 ticks per quarter note";
      return false;
    }
    denominator = __int128{division} * 1000000;
  }

  std::vector<Event> events;
  size_t at = 8 + headerLength;
  uint32_t found = 0;
  while (found < tracks && at < bytes.size()) {
    if (bytes.size() - at < 8) {
      reason = "truncated chunk";
      return false;
    }
    const uint32_t length = bigEndian(bytes, at + 4, 4);
    if (length > bytes.size() - at - 8) {
      reason = "chunk runs past the end of the file (truncated?)";
      return false;
    }
    if (bytes.substr(at, 4) == "MTrk") {
      ++found;
      if (!readTrack(bytes, at + 8, at + 8 + length, static_cast<int>(found), events, reason))
        return false;
    }
    at += 8 + length;  // chunks of other kinds are skipped
  }
  if (found < tracks) {
    reason = "truncated: " + std::to_string(found) + " of " + std::to_string(tracks) + " tracks";
    return false;
  }

  // Tracks merged by time, the lower track first on a tie, each in its order.
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    return a.pulses != b.pulses ? a.pulses < b.pulses : a.track < b.track;
  });
  __int128 elapsed = 0;  // in 1 / denominator seconds
  int64_t lastPulses = 0;
  uint32_t tempo = kDefaultTempo;
  for (const Event& e : events) {
    const __int128 ticks = e.pulses - lastPulses;
    elapsed += ticks * (smpte ? smpteScale : __int128{tempo});
    lastPulses = e.pulses;
    if (!smpte && e.tempo >= 0) tempo = static_cast<uint32_t>(e.tempo);
    if (e.word)
      out.notes.push_back({roundRatioHalfEven(elapsed * sampleRate, denominator), e.word});
  }
  out.lastEventFrames =
      static_cast<long double>(elapsed) * sampleRate / static_cast<long double>(denominator);
  return true;
}

}  // namespace ondelith
