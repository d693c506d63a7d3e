#include "plugin/plugin_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <thread>

#include "engine/note_course.h"
#include "engine/numeric.h"
#include "instrument/sound_bank.h"
#include "platform/files.h"

namespace ondelith::plugin {

namespace {

// Curves as words, for storage that any thread may read: per row the count,
// then each point's x and y.
constexpr size_t kRowWords = 1 + 2 * kCurvePointCount;

template <typename Words>
void pack(const std::array<CurvePoints, kWobbleRows>& curves, Words& words) {
  size_t w = 0;
  for (const CurvePoints& c : curves) {
    words[w++] = static_cast<uint32_t>(c.count);
    for (const CurvePoint& p : c.points) {
      words[w++] = static_cast<uint32_t>(p.x);
      words[w++] = static_cast<uint32_t>(p.y);
    }
  }
}

template <typename Words>
void unpack(const Words& words, std::array<CurvePoints, kWobbleRows>& curves) {
  size_t w = 0;
  for (CurvePoints& c : curves) {
    c.count = static_cast<int32_t>(words[w++]);
    for (CurvePoint& p : c.points) {
      p.x = static_cast<int32_t>(words[w++]);
      p.y = static_cast<int32_t>(words[w++]);
    }
  }
}

}  // namespace

static_assert(SharedSound::kCurveWords == kRowWords * kWobbleRows);

SharedSound::SharedSound() {
  const Sound start = startSound();
  for (int i = 0; i < kParameterCount; ++i) {
    const int32_t v = start.values[static_cast<size_t>(i)];
    values_[static_cast<size_t>(i)].store(v);
    asked_[static_cast<size_t>(i)].store(v);
  }
  wobbleMs_.store(start.wobbleDurationMs);
  std::array<uint32_t, kCurveWords> words{};
  pack(start.curves, words);
  for (size_t i = 0; i < kCurveWords; ++i) curveWords_[i].store(words[i]);
}

int32_t SharedSound::setValue(int index, double value) { return store(index, value, true); }

int32_t SharedSound::setValueApplied(int index, double value) { return store(index, value, false); }

int32_t SharedSound::value(int index) const {
  if (index < 0 || index >= kParameterCount) return 0;
  return values_[static_cast<size_t>(index)].load(std::memory_order_relaxed);
}

int32_t SharedSound::keepInRange(int index, Changes& changes) {
  const int by = rangeSwitchOf(index);
  const int32_t range =
      by >= 0 ? values_[static_cast<size_t>(by)].load(std::memory_order_relaxed) : 0;
  const int32_t kept =
      limitValue(index, asked_[static_cast<size_t>(index)].load(std::memory_order_relaxed), range);
  values_[static_cast<size_t>(index)].store(kept, std::memory_order_relaxed);
  if (index == kDurationIndex) wobbleMs_.store(kept, std::memory_order_relaxed);
  changes.mark(index);
  return kept;
}

int32_t SharedSound::store(int index, double value, bool mark) {
  if (index < 0 || index >= kParameterCount) return 0;
  if (std::isnan(value)) return this->value(index);  // no number: nothing to take
  const Parameter& p = parameter(index);
  const int32_t asked = roundEven(std::clamp<double>(value, p.minimum, p.maximum));
  asked_[static_cast<size_t>(index)].store(asked, std::memory_order_relaxed);
  Changes changes;
  const int32_t kept = keepInRange(index, changes);
  for (int i = 0; i < kParameterCount; ++i)
    if (rangeSwitchOf(i) == index) keepInRange(i, changes);
  if (mark) giveBack(changes);
  return kept;
}

void SharedSound::giveBack(const Changes& changes) {
  for (size_t w = 0; w < changes.bits.size(); ++w)
    if (changes.bits[w]) changed_[w].fetch_or(changes.bits[w], std::memory_order_release);
  if (changes.wholeSound) wholeSound_.store(true, std::memory_order_release);
  if (changes.any()) pending_.store(true, std::memory_order_release);
}

void SharedSound::setSound(const Sound& sound) {
  const std::lock_guard<std::mutex> lock(writer_);
  std::array<uint32_t, kCurveWords> words{};
  pack(sound.curves, words);
  const uint32_t s = curveSequence_.load(std::memory_order_relaxed);
  curveSequence_.store(s + 1, std::memory_order_relaxed);
  // Release stores, not a fence the race checker cannot see: a reader that
  // sees any new value also sees the odd sequence.
  constexpr auto kRelease = std::memory_order_release;
  for (int i = 0; i < kParameterCount; ++i) {
    if (!soundOwned(i)) continue;
    values_[static_cast<size_t>(i)].store(sound.values[static_cast<size_t>(i)], kRelease);
    asked_[static_cast<size_t>(i)].store(sound.values[static_cast<size_t>(i)], kRelease);
  }
  wobbleMs_.store(sound.wobbleDurationMs, kRelease);
  for (size_t i = 0; i < kCurveWords; ++i) curveWords_[i].store(words[i], kRelease);
  curveSequence_.store(s + 2, std::memory_order_release);
  unknown_ = sound.unknown;
  giveBackWholeSound();
}

void SharedSound::readValues(Sound& out) const {
  // Acquire loads keep the closing look at the sequence after every copy.
  constexpr auto kAcquire = std::memory_order_acquire;
  for (int i = 0; i < kParameterCount; ++i)
    out.values[static_cast<size_t>(i)] =
        soundOwned(i) ? values_[static_cast<size_t>(i)].load(kAcquire) : parameter(i).start;
  out.wobbleDurationMs = wobbleMs_.load(kAcquire);
  std::array<uint32_t, kCurveWords> words{};
  for (size_t i = 0; i < kCurveWords; ++i) words[i] = curveWords_[i].load(kAcquire);
  unpack(words, out.curves);
}

bool SharedSound::tryReadSound(Sound& out) const {
  const uint32_t before = curveSequence_.load(std::memory_order_acquire);
  if (before & 1u) return false;
  readValues(out);
  return curveSequence_.load(std::memory_order_relaxed) == before;
}

Sound SharedSound::sound() const {
  Sound s;
  while (!tryReadSound(s)) std::this_thread::yield();
  const std::lock_guard<std::mutex> lock(writer_);
  s.unknown = unknown_;
  return s;
}

int32_t SharedSound::wobbleMs() const { return wobbleMs_.load(std::memory_order_relaxed); }

Voice::~Voice() {
  if (engine_) engine_->~Engine();
}

bool Voice::setRate(double hz, std::string& reason) {
  const std::optional<SampleRate> rate = SampleRate::of(hz, &reason);
  if (engine_) {
    engine_->~Engine();
    engine_ = nullptr;
  }
  if (!rate) return false;
  if (!room_) room_ = std::make_unique<Room>();
  engine_ = new (room_->bytes) Engine(*rate);
  played_ = false;
  tuningSeen_ = 0;
  shared_.giveBackWholeSound();  // a new voice hears everything at its first run
  return true;
}

void Voice::reset() {
  if (!engine_ || !played_) return;
  const SampleRate rate = engine_->rate;
  engine_->~Engine();
  engine_ = new (room_->bytes) Engine(rate);
  played_ = false;
  tuningSeen_ = 0;
  shared_.giveBackWholeSound();
}

void Voice::beginRun(float* out) {
  out_ = out;
  done_ = 0;
  if (!engine_) return;
  applyTuning();
  applyChanges();
}

void Voice::applyTuning() {
  KeyFrequencies keys;
  if (tuning_ && tuning_->takeKeys(tuningSeen_, keys))
    keysEvents(0, keys, [this](const EngineEvent& e) { apply(e); });
}

void Voice::renderUntil(uint32_t frame) {
  if (frame <= done_) return;
  if (engine_) {
    engine_->render(out_ + done_, frame - done_);
    played_ = true;
  } else {
    std::fill(out_ + done_, out_ + frame, 0.0f);
  }
  done_ = frame;
}

void Voice::midi(uint32_t word) {
  if (engine_) apply(midiEvent(0, word));
}

void Voice::parameter(int index, double value) {
  if (index < 0 || index >= kParameterCount) return;
  shared_.setValueApplied(index, value);
  if (engine_) applyValue(index);
}

void Voice::applyChanges() {
  const SharedSound::Changes changes = shared_.takeChanges();
  if (!changes.any()) return;
  if (changes.wholeSound) {
    Sound sound;
    if (!shared_.tryReadSound(sound)) {
      shared_.giveBack(changes);  // a writer is at work: at the next run
      return;
    }
    forEachSoundEvent(sound, 0, true, [this](const EngineEvent& e) { apply(e); });
  }
  // A whole sound brought every value it holds: the player's settings too.
  for (int i = 0; i < kParameterCount; ++i)
    if (changes.wholeSound ? ondelith::parameter(i).owner == Owner::Player : changes.has(i))
      applyValue(i);
}

void Voice::applyValue(int index) {
  const Parameter& p = ondelith::parameter(index);
  const int32_t v = shared_.value(index);
  switch (p.target) {
    case Target::Param:
      // The wobble's length is what the voice takes, after Open the file's.
      apply(paramEvent(0, paramOf(index),
                       engineValue(index, index == kDurationIndex ? shared_.wobbleMs() : v)));
      break;
    case Target::RangeSwitch: break;  // the rows it switches are marked with it
    case Target::Channel: apply(channelEvent(0, engineChannel(v))); break;
    case Target::Setting:
      apply(settingEvent(0, static_cast<NoteSetting>(p.targetId), engineValue(index, v)));
      break;
  }
}

std::optional<Patch> patchFromText(std::string_view text) {
  Patch patch;
  std::string reason;
  if (!acceptPatchBytes(text, patch, reason)) return std::nullopt;
  return patch;
}

std::optional<Patch> readPatchFile(const std::string& path, std::string& reason) {
  InputFile file;
  if (!file.open(path, &reason)) return std::nullopt;
  std::string text;
  char piece[1024];
  for (;;) {
    size_t got = 0;
    if (!file.read(piece, sizeof piece, got, &reason)) return std::nullopt;
    if (got == 0) break;
    text.append(piece, got);
    if (text.size() > kMaxPatchFileBytes) break;  // too long for a patch: no need to read on
  }
  Patch patch;
  if (!acceptPatchBytes(text, patch, reason)) return std::nullopt;
  return patch;
}

// The start-up sound first, then the factory bank: program n is the bank's
// sound number n, so a host's program list and the bank's numbers agree.
uint32_t setUpLatency(double hz, uint32_t decimatorDelay) {
  const std::optional<SampleRate> rate = SampleRate::of(hz);
  if (!rate) return 0;
  // The attack starts on the tick after the fade's last.
  return static_cast<uint32_t>(NoteLifecycle(*rate).fadeTicks + 1) + decimatorDelay;
}

std::string setUpLatencyHelp() {
  const double ms = 1000.0 * setUpLatency(kDefaultSampleRate, 0) / kDefaultSampleRate;
  char text[512];
  std::snprintf(text, sizeof text,
                "Tells the host that notes start %.1f ms late (the set-up fade before each "
                "note), so that a workstation that compensates plays note starts on the grid. "
                "Only note starts wait out the fade: with this on, note-offs, legato pitch "
                "changes, bends and automation sound %.1f ms early. In VST3 hosts it takes "
                "effect when the plugin is next activated.",
                ms, ms);
  return text;
}

const std::vector<Program>& programs() {
  static const std::vector<Program> list = [] {
    std::vector<Program> out;
    out.push_back({"Init", startSound(), {}});
    for (const BankSound& entry : factoryBank())
      out.push_back({std::string(entry.name), bankSound(entry), categoryTitle(entry.category),
                     entry.number, std::string(entry.description)});
    return out;
  }();
  return list;
}

}  // namespace ondelith::plugin
