#include "tools/midi_file.h"

#include <functional>
#include <queue>
#include <utility>

#include "engine/midi_parser.h"

namespace ondelith {

namespace {

constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note

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

// One track chunk, an event at a time; its played messages and tempo changes
// are kept, every other event only moves the time on.
class TrackReader {
 public:
  TrackReader(std::string_view bytes, size_t begin, size_t end, int track)
      : bytes_(bytes), c_(bytes, begin, end), track_(track) {}

  // Reads the next event; false with a reason when the track is malformed or
  // cut short. Not called again once ended().
  bool step(std::string& reason) {
    word_ = 0;
    tempo_ = -1;
    uint32_t delta;
    if (c_.done()) return fail(reason, "ends without End of Track (truncated?)");
    if (!c_.quantity(delta)) return fail(reason, "bad delta time (truncated?)");
    pulses_ += delta;
    uint8_t status;
    if (!c_.peek(status)) return fail(reason, "truncated event");
    if (status < 0xF0) return channelMessage(reason);
    c_.byte(status);
    parser_.reset();  // system and meta events end running status
    if (status == 0xF0 || status == 0xF7) {
      uint32_t length;
      if (!c_.quantity(length) || !c_.skip(length))
        return fail(reason, "truncated system exclusive event");
      return true;
    }
    if (status != 0xFF) return fail(reason, "unexpected status byte");
    uint8_t type;
    uint32_t length;
    if (!c_.byte(type) || !c_.quantity(length)) return fail(reason, "truncated meta event");
    const size_t data = c_.at();
    if (!c_.skip(length)) return fail(reason, "truncated meta event");
    if (type == 0x51 && length == 3) tempo_ = static_cast<int32_t>(bigEndian(bytes_, data, 3));
    ended_ = type == 0x2F;  // End of Track; anything after it is not read
    return true;
  }

  int64_t pulses() const { return pulses_; }
  uint32_t word() const { return word_; }   // the event's played message, or 0
  int32_t tempo() const { return tempo_; }  // the event's tempo, or -1
  bool ended() const { return ended_; }
  int track() const { return track_; }

 private:
  // A channel message, its status given or running, read through the parser
  // that live input uses; a file is stricter than a cable: any byte of 0x80
  // or above inside a message (a real-time one too) makes it malformed.
  bool channelMessage(std::string& reason) {
    for (bool first = true;; first = false) {
      uint8_t b;
      if (!c_.byte(b)) return fail(reason, "truncated event");
      if (!first && (b & 0x80)) return fail(reason, "status byte inside a message");
      switch (parser_.feed(b)) {
        case MidiParser::Result::Message: {
          // Notes, controllers, program changes and the wheel: what the synthesizer plays.
          const uint8_t kind = parser_.word() & 0xF0;
          if (kind == 0x80 || kind == 0x90 || kind == 0xB0 || kind == 0xC0 || kind == 0xE0)
            word_ = parser_.word();
          return true;
        }
        case MidiParser::Result::Stray: return fail(reason, "data byte without a status");
        case MidiParser::Result::Cut: return fail(reason, "status byte inside a message");
        case MidiParser::Result::None: break;
      }
    }
  }

  bool fail(std::string& reason, const char* what) const {
    reason = "track " + std::to_string(track_) + ": " + what;
    return false;
  }

  std::string_view bytes_;
  Cursor c_;
  int track_;
  int64_t pulses_ = 0;
  MidiParser parser_;
  uint32_t word_ = 0;
  int32_t tempo_ = -1;
  bool ended_ = false;
};

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

  // Every track is read through once to find its faults and count its notes,
  // so that the notes are held in one allocation of their exact size; the
  // events themselves are never held.
  struct Span {
    size_t begin, end;
  };
  std::vector<Span> spans;
  size_t noteCount = 0;
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
      TrackReader track(bytes, at + 8, at + 8 + length, static_cast<int>(found));
      do {
        if (!track.step(reason)) return false;
        if (track.word()) ++noteCount;
      } while (!track.ended());
      spans.push_back({at + 8, at + 8 + length});
    }
    at += 8 + length;  // chunks of other kinds are skipped
  }
  if (found < tracks) {
    reason = "truncated: " + std::to_string(found) + " of " + std::to_string(tracks) + " tracks";
    return false;
  }
  // Tracks past the header's count: a damaged header, whose music is not
  // all there to play as the file was meant.
  uint32_t beyond = 0;
  for (size_t next = at; bytes.size() - next >= 8 && next < bytes.size();) {
    const uint32_t length = bigEndian(bytes, next + 4, 4);
    beyond += bytes.substr(next, 4) == "MTrk";
    if (length > bytes.size() - next - 8) break;
    next += 8 + length;
  }
  if (beyond > 0) {
    reason = "the header counts " + std::to_string(tracks) + " track" + (tracks == 1 ? "" : "s") +
             " but the file holds " + std::to_string(tracks + beyond) + " (a damaged header?)";
    return false;
  }

  // Tracks merged by time, the lower track first on a tie, each in its order.
  std::vector<TrackReader> readers;
  readers.reserve(spans.size());
  using Next = std::pair<int64_t, size_t>;  // a track's next event: its time, the track
  std::priority_queue<Next, std::vector<Next>, std::greater<Next>> due;
  for (const Span& span : spans) {
    readers.emplace_back(bytes, span.begin, span.end, static_cast<int>(readers.size() + 1));
    if (!readers.back().step(reason)) return false;
    due.push({readers.back().pulses(), readers.size() - 1});
  }
  out.notes.reserve(noteCount);
  __int128 elapsed = 0;  // in 1 / denominator seconds
  int64_t lastPulses = 0;
  uint32_t tempo = kDefaultTempo;
  while (!due.empty()) {
    TrackReader& e = readers[due.top().second];
    due.pop();
    const __int128 ticks = e.pulses() - lastPulses;
    elapsed += ticks * (smpte ? smpteScale : __int128{tempo});
    lastPulses = e.pulses();
    if (!smpte && e.tempo() == 0) {
      // Every later event would fall on one instant: nothing would sound.
      reason =
          "track " + std::to_string(e.track()) + ": a tempo of 0 microseconds per quarter note";
      return false;
    }
    if (!smpte && e.tempo() >= 0) tempo = static_cast<uint32_t>(e.tempo());
    if (e.word())
      out.notes.push_back({roundRatioHalfEven(elapsed * sampleRate, denominator), e.word()});
    if (e.ended()) continue;
    if (!e.step(reason)) return false;
    due.push({e.pulses(), static_cast<size_t>(&e - readers.data())});
  }
  out.lastEventFrames =
      static_cast<long double>(elapsed) * sampleRate / static_cast<long double>(denominator);
  return true;
}

}  // namespace ondelith
