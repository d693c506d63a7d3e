#pragma once
// The instrument inside a plugin, apart from any plugin API: the sound and
// the player's settings as the host's parameters, states and programs set
// them, kept where any thread may read them, and the voice the host's audio
// thread plays them with.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "instrument/sound.h"
#include "instrument/sound_history.h"
#include "plugin/plugin_tuning.h"

namespace ondelith::plugin {

// What changed since the audio thread last looked: a bit for each of
// `Count` parameters, in as many words as they need, and the whole sound.
template <int Count>
struct ChangeMarks {
  static constexpr int kWords = (Count + 63) / 64;
  std::array<uint64_t, kWords> bits{};
  bool wholeSound = false;
  bool has(int index) const { return (bits[static_cast<size_t>(index / 64)] >> (index % 64)) & 1u; }
  void mark(int index) { bits[static_cast<size_t>(index / 64)] |= uint64_t{1} << (index % 64); }
  bool any() const {
    if (wholeSound) return true;
    for (uint64_t w : bits)
      if (w) return true;
    return false;
  }
};

// The sound and the settings, shared by the host's threads. Single values
// change from any thread without a lock (a host sets parameters from its
// audio thread and from others); whole sounds come from threads that may
// wait for each other, never from the audio thread.
class SharedSound {
 public:
  SharedSound();

  // A parameter as a host sets it, by registry position: rounded and limited
  // as its control limits it, a row with a range switch within the range
  // the switch gives (the value asked for is kept, so that a switch set
  // after it finds it).
  // Returns the value kept. Lock-free.
  int32_t setValue(int index, double value);
  // The same, from the thread that applies it to the voice itself: marks nothing.
  int32_t setValueApplied(int index, double value);
  int32_t value(int index) const;
  // The wobble's length as the voice takes it (after Open, the file's Duration).
  int32_t wobbleMs() const;

  // A whole sound; the player's settings stay. Not for the audio thread.
  void setSound(const Sound& sound);
  // The sound as it stands. Not for the audio thread.
  Sound sound() const;

  using Changes = ChangeMarks<kParameterCount>;
  // Audio thread: what changed since it last looked, and the whole sound,
  // unless a writer is under way.
  Changes takeChanges() {
    // Most runs find nothing: a plain look first, since an exchange is a
    // locked instruction that stalls the pipeline at every run's start.
    Changes c;
    if (!pending_.load(std::memory_order_acquire)) return c;
    // The flag before the words: a mark made meanwhile raises it again.
    pending_.exchange(false, std::memory_order_acq_rel);
    c.wholeSound = wholeSound_.exchange(false, std::memory_order_acq_rel);
    for (size_t w = 0; w < c.bits.size(); ++w)
      c.bits[w] = changed_[w].exchange(0, std::memory_order_acq_rel);
    return c;
  }
  void giveBack(const Changes& changes);
  void giveBackWholeSound() {
    Changes c;
    c.wholeSound = true;
    giveBack(c);
  }
  bool tryReadSound(Sound& out) const;

  // Each curve's count and points, as words.
  static constexpr size_t kCurveWords = (1 + 2 * kCurvePointCount) * kWobbleRows;

 private:
  int32_t store(int index, double value, bool mark);
  // Keeps a row's value within the range its switch gives it now, from
  // what was last asked of it.
  int32_t keepInRange(int index, Changes& changes);
  void readValues(Sound& out) const;

  std::array<std::atomic<int32_t>, kParameterCount> values_{};
  // What a host last asked of each row, before a range switch limited it:
  // a state or an automation lane may set a row and its switch in either order.
  std::array<std::atomic<int32_t>, kParameterCount> asked_{};
  std::atomic<int32_t> wobbleMs_{0};
  std::array<std::atomic<uint64_t>, Changes::kWords> changed_{};
  std::atomic<bool> wholeSound_{false};
  std::atomic<bool> pending_{false};
  // The curves as words behind a sequence count, odd while a writer works.
  std::atomic<uint32_t> curveSequence_{0};
  std::array<std::atomic<uint32_t>, kCurveWords> curveWords_{};
  mutable std::mutex writer_;
  std::vector<KeyedLine> unknown_;  // the sound's unknown keys; behind writer_
};

// The voice of one plugin instance. Audio thread, except where said.
class Voice {
 public:
  explicit Voice(SharedSound& shared, const SharedTuning* tuning = nullptr)
      : shared_(shared), tuning_(tuning) {}
  ~Voice();
  Voice(const Voice&) = delete;
  Voice& operator=(const Voice&) = delete;

  // Not the audio thread: the voice made at the host's rate. A rate the
  // engine refuses leaves no voice (silence) and says why.
  bool setRate(double hz, std::string& reason);
  bool playing() const { return engine_ != nullptr; }

  // The voice afresh with the same sound. Not the audio thread: an
  // oversampled voice's memory is made again.
  void reset();

  // A run: changes made since the last one apply at its start; then
  // samples up to a frame, events between them.
  void beginRun(float* out);
  void renderUntil(uint32_t frame);
  void midi(uint32_t word);
  // A parameter change at the current frame.
  void parameter(int index, double value);

 private:
  void applyChanges();
  void applyTuning();
  void applyValue(int index);
  void apply(const EngineEvent& e) { engine_->apply(e); }

  SharedSound& shared_;
  const SharedTuning* tuning_;
  uint32_t tuningSeen_ = 0;  // a new voice plays equal temperament, as the count's start
  // Made once per rate; a reset builds the new voice in the same room.
  struct Room {
    alignas(Engine) std::byte bytes[sizeof(Engine)];
  };
  std::unique_ptr<Room> room_;
  Engine* engine_ = nullptr;
  float* out_ = nullptr;
  uint32_t done_ = 0;
  bool played_ = false;
};

// The plugin's state keys, which the panel uses too: the sound as a .vx
// text, and a patch file chosen in the host (the LV2 file property).
inline constexpr const char* kPatchStateKey = "patch";
inline constexpr const char* kPatchFileStateKey = "patch-file";
// "on" when the set-up fade is reported as latency; empty otherwise, so that a
// preset, which carries every state key, leaves the player's choice alone.
inline constexpr const char* kLatencyKey = "report-latency";

// "Report the set-up fade as latency": the frames a note's attack waits out
// at this rate (its set-up fade), plus the oversampling decimator's delay in
// frames at this rate. The one sum every format reports; 0 for a rate the
// voice refuses.
uint32_t setUpLatency(double hz, uint32_t decimatorDelay);
// What Help and the panel say of the setting, with the fade's length.
std::string setUpLatencyHelp();

// A patch's text as the plugin takes it: an Ondelith patch, else nothing.
std::optional<Patch> patchFromText(std::string_view text);

// A patch file read for the plugin: a regular file (never waited on) whose
// text is a patch. Not for the audio thread.
std::optional<Patch> readPatchFile(const std::string& path, std::string& reason);

// The programs a host lists, the start-up sound first.
struct Program {
  std::string name;
  Sound sound;
  std::string category;          // as people read it; empty for the start-up sound
  int number = 0;                // the bank's program number; 0 for the start-up sound
  std::string description = {};  // one line for menus; empty for the start-up sound
};
const std::vector<Program>& programs();

// What the panel reads of its own plugin instance (the framework hands it
// the instance): the sound as it stands, and a count that moves whenever a
// whole sound arrives (a program, a state), so the panel knows to redraw.
class PanelLink {
 public:
  virtual ~PanelLink() = default;
  virtual uint32_t soundGeneration() const = 0;
  virtual Sound currentSound() const = 0;
  // The instance's undo history: its panels come and go, the steps stay.
  // The panel's thread alone uses it.
  virtual SoundHistory& soundHistory() = 0;
  // The tuning in force: the texts the state keeps.
  virtual Tuning currentTuning() const = 0;
};

}  // namespace ondelith::plugin
