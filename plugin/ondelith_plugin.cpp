// The plugin every format is built from: its parameters are the registry's,
// its state is the patch text, its programs are the factory sounds; the run
// plays each note and each parameter change at its frame.
#include <cstdarg>
#include <cstring>
#include <string>

#include "DistrhoPlugin.hpp"
#include "DistrhoPluginUtils.hpp"
#include "engine/oversampling.h"
#include "plugin/plugin_core.h"

START_NAMESPACE_DISTRHO

namespace {

using ondelith::kParameterCount;
using ondelith::plugin::programs;

using ondelith::plugin::kLatencyKey;
using ondelith::plugin::kPatchFileStateKey;
using ondelith::plugin::kPatchStateKey;

// Once per message, never from the run.
void logLine(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  d_stderr("Ondelith: %s", text);
}

class OndelithPlugin : public Plugin, public ondelith::plugin::PanelLink {
 public:
  uint32_t soundGeneration() const override { return generation_.load(std::memory_order_acquire); }
  ondelith::Sound currentSound() const override { return shared_.sound(); }
  ondelith::SoundHistory& soundHistory() override { return history_; }
  ondelith::Tuning currentTuning() const override { return tuning_.tuning(); }

  OndelithPlugin()
      : Plugin(kParameterCount, static_cast<uint32_t>(programs().size()), 5),
        voice_(shared_, &tuning_),
        lv2_(std::strcmp(getPluginFormatName(), "LV2") == 0),
        // VST3 hosts read the latency when they activate the plugin; the others
        // follow it from the run on.
        latencyFromRun_(std::strcmp(getPluginFormatName(), "VST3") != 0) {
    if (!isDummyInstance()) takeRate(getSampleRate());
  }

 protected:
  const char* getLabel() const override { return "Ondelith"; }
  const char* getDescription() const override {
    return "Monophonic synthesizer whose waveform is a Bezier curve with wobbling control points";
  }
  const char* getMaker() const override { return "The Ondelith developers"; }
  const char* getLicense() const override { return "GPL-3.0-or-later"; }
  uint32_t getVersion() const override {
    // LV2 reads release or development from the minor version's parity.
    return d_version(ONDELITH_VERSION_MAJOR,
                     lv2_ ? ONDELITH_LV2_VERSION_MINOR : ONDELITH_VERSION_MINOR,
                     ONDELITH_VERSION_PATCH);
  }
  int64_t getUniqueId() const override { return d_cconst('O', 'n', 'd', 'l'); }

  void initAudioPort(bool input, uint32_t, AudioPort& port) override {
    if (input) return;
    port.name = "Out";
    port.symbol = "out";
  }

  void initParameter(uint32_t index, Parameter& out) override {
    const ondelith::Parameter& p = ondelith::parameter(static_cast<int>(index));
    out.hints = kParameterIsInteger | (p.automatable ? kParameterIsAutomatable : 0);
    if (p.taper == ondelith::Taper::Logarithmic) out.hints |= kParameterIsLogarithmic;
    out.name = std::string(p.name).c_str();
    out.shortName = std::string(p.label).c_str();
    out.symbol = std::string(p.symbol).c_str();
    out.unit = std::string(ondelith::unitInfo(p.unit).symbol).c_str();
    out.description = std::string(p.help).c_str();
    out.ranges = ParameterRanges(static_cast<float>(p.start), static_cast<float>(p.minimum),
                                 static_cast<float>(p.maximum));
    out.groupId = static_cast<uint32_t>(p.group);
    if (p.text == ondelith::TextRule::Choice || p.text == ondelith::TextRule::Channel) {
      // A choice's values, or every channel: each with the row's own text.
      const int count = p.text == ondelith::TextRule::Choice ? static_cast<int>(p.choices.size())
                                                             : p.maximum - p.minimum + 1;
      auto* values = new ParameterEnumerationValue[count];
      for (int k = 0; k < count; ++k) {
        const int32_t v = p.text == ondelith::TextRule::Choice
                              ? p.choices[static_cast<size_t>(k)].value
                              : p.minimum + k;
        values[k].value = static_cast<float>(v);
        values[k].label = ondelith::parameterText(static_cast<int>(index), v).c_str();
      }
      out.enumValues.count = static_cast<uint8_t>(count);
      out.enumValues.restrictedMode = true;
      out.enumValues.values = values;
    }
  }

  void initPortGroup(uint32_t groupId, PortGroup& group) override {
    if (groupId >= ondelith::kGroups.size()) return;
    group.name = std::string(ondelith::kGroups[groupId].name).c_str();
    group.symbol = std::string(ondelith::kGroups[groupId].symbol).c_str();
  }

  void initProgramName(uint32_t index, String& name) override {
    if (index < programs().size()) name = programs()[index].name.c_str();
  }

  void initProgramCategory(uint32_t index, String& category) override {
    if (index < programs().size()) category = programs()[index].category.c_str();
  }

  void initState(uint32_t index, State& state) override {
    if (index == 0) {
      state.key = kPatchStateKey;
      state.hints = kStateIsOnlyForDSP;
      state.defaultValue =
          ondelith::formatPatch(ondelith::savedPatch(ondelith::startSound())).c_str();
      state.label = "Patch";
      state.description = "The sound as the text of an Ondelith patch (.vx)";
    } else if (index == 2) {
      state.key = kLatencyKey;
      state.hints = 0;
      state.label = "Report the set-up fade as latency";
      state.description = ondelith::plugin::setUpLatencyHelp().c_str();
    } else if (index >= 3) {
      // The player's tuning, as the texts of its files: a session reopens in it.
      const bool map = index == 4;
      state.key = map ? ondelith::plugin::kKeyboardMapKey : ondelith::plugin::kScaleKey;
      state.hints = kStateIsOnlyForDSP;
      state.defaultValue = "";
      state.label = map ? "Keyboard map" : "Scale";
      state.description = map ? "The tuning's Scala keyboard map (.kbm text); empty for the "
                                "standard map"
                              : "The tuning's Scala scale (.scl text); empty for 12-TET";
    } else {
      state.key = kPatchFileStateKey;
      state.hints = kStateIsFilenamePath | kStateIsOnlyForDSP;
      state.label = "Patch file";
      state.description = "An Ondelith patch (.vx): its curves and controls replace the sound.";
    }
  }

  float getParameterValue(uint32_t index) const override {
    return static_cast<float>(shared_.value(static_cast<int>(index)));
  }

  void setParameterValue(uint32_t index, float value) override {
    // A restored LV2 session's patch wins over the port values restored
    // with it, until a port then moves.
    if (ondelith::parameter(static_cast<int>(index)).owner == ondelith::Owner::Sound &&
        adoptPorts_.load(std::memory_order_relaxed))
      return;
    shared_.setValue(static_cast<int>(index), value);
  }

  void loadProgram(uint32_t index) override {
    if (index < programs().size()) shared_.setSound(programs()[index].sound);
    generation_.fetch_add(1, std::memory_order_acq_rel);
  }

  String getState(const char* key) const override {
    if (std::strcmp(key, kPatchStateKey) == 0)
      return String(ondelith::formatPatch(ondelith::savedPatch(shared_.sound())).c_str());
    if (std::strcmp(key, kLatencyKey) == 0)
      return String(reportLatency_.load(std::memory_order_relaxed) ? "on" : "");
    if (const int map = tuningKey(key); map >= 0) {
      const ondelith::Tuning t = tuning_.tuning();
      return String((map ? t.map : t.scale).c_str());
    }
    // The patch text holds the sound; the file it came from is not read again.
    return String();
  }

  void setState(const char* key, const char* value) override {
    if (std::strcmp(key, kLatencyKey) == 0) {
      // Anything but "on" or "off" (a preset's empty value) leaves it as it is.
      if (std::strcmp(value, "on") == 0 || std::strcmp(value, "off") == 0)
        reportLatency_.store(std::strcmp(value, "on") == 0, std::memory_order_relaxed);
      return;
    }
    if (const int map = tuningKey(key); map >= 0) {
      std::string reason;
      if (!tuning_.set(map == 1, value, reason))
        logLine("the saved tuning is refused (%s); the tuning is kept", reason.c_str());
      return;
    }
    if (std::strcmp(key, kPatchStateKey) == 0) {
      // An empty value is a host with no saved patch, not a file of no bytes.
      if (value[0] == '\0') return;
      const std::optional<ondelith::Patch> patch = ondelith::plugin::patchFromText(value);
      if (!patch) return logLine("the saved patch is no patch; the sound is kept");
      applyPatch(*patch);
      generation_.fetch_add(1, std::memory_order_acq_rel);
      if (lv2_) adoptPorts_.store(true, std::memory_order_relaxed);
    } else if (std::strcmp(key, kPatchFileStateKey) == 0 && value[0] != '\0') {
      std::string reason;
      const std::optional<ondelith::Patch> patch = ondelith::plugin::readPatchFile(value, reason);
      if (!patch) return logLine("%s: %s; the sound is kept", value, reason.c_str());
      applyPatch(*patch, value);
      generation_.fetch_add(1, std::memory_order_acq_rel);
    }
  }

  void activate() override {
    voice_.reset();
    setLatency(latencyNow());
  }

  void sampleRateChanged(double rate) override { takeRate(rate); }

  void run(const float**, float** outputs, uint32_t frames, const MidiEvent* events,
           uint32_t count) override {
    if (latencyFromRun_) setLatency(latencyNow());
    voice_.beginRun(outputs[0]);
    for (uint32_t i = 0; i < count;) {
      // The events of one frame: parameter changes first, so that a note
      // there starts with them.
      const uint32_t frame = std::min(events[i].frame, frames);
      uint32_t end = i + 1;
      while (end < count && std::min(events[end].frame, frames) == frame) ++end;
      voice_.renderUntil(frame);
      for (uint32_t k = i; k < end; ++k) {
        const MidiEvent& e = events[k];
        if (e.size & MidiEvent::kParameterChange) {
          float value;
          std::memcpy(&value, e.data, sizeof value);
          voice_.parameter(static_cast<int>(e.size & ~MidiEvent::kParameterChange), value);
        }
      }
      for (uint32_t k = i; k < end; ++k) {
        const MidiEvent& e = events[k];
        // Channel messages only: nothing longer than three bytes, nothing shorter than two.
        if (e.size >= 2 && e.size <= 3)
          voice_.midi(e.data[0] | (uint32_t{e.data[1]} << 8) |
                      (e.size == 3 ? uint32_t{e.data[2]} << 16 : 0u));
      }
      i = end;
    }
    voice_.renderUntil(frames);
    adoptPorts_.store(false, std::memory_order_relaxed);
  }

 private:
  // 0 for the scale's key, 1 for the keyboard map's, -1 for another.
  static int tuningKey(const char* key) {
    if (std::strcmp(key, ondelith::plugin::kScaleKey) == 0) return 0;
    return std::strcmp(key, ondelith::plugin::kKeyboardMapKey) == 0 ? 1 : -1;
  }

  // What of a patch's keyed lines was not read goes to the host's log, once.
  void applyPatch(const ondelith::Patch& patch, const char* from = "the saved patch") {
    ondelith::Sound sound = shared_.sound();
    std::string unread;
    ondelith::applyPatch(sound, patch, &unread);
    shared_.setSound(sound);
    if (!unread.empty()) logLine("%s: %s", from, unread.c_str());
  }

  // Not the audio thread: what the latency will be at the next activation.
  // Not the audio thread: the set-up fade's frames at this rate.
  void updateLatency(double hz) {
    fadeLatency_.store(ondelith::plugin::setUpLatency(hz, 0), std::memory_order_relaxed);
  }

  // The decimator delays every sound, so its delay is always reported; the
  // set-up fade only when the player asks. Read at each run, since the
  // oversampling may move with any parameter change.
  uint32_t latencyNow() const {
    const auto decimator = static_cast<uint32_t>(
        ondelith::oversamplingDelayFrames(shared_.value(ondelith::kOversamplingIndex)));
    const bool fade = reportLatency_.load(std::memory_order_relaxed);
    return decimator + (fade ? fadeLatency_.load(std::memory_order_relaxed) : 0);
  }

  // Not the audio thread. A rate the voice refuses gives silence, said once.
  void takeRate(double hz) {
    updateLatency(hz);
    std::string reason;
    if (voice_.setRate(hz, reason)) {
      refusedRate_ = 0;
    } else if (hz != refusedRate_) {
      refusedRate_ = hz;
      logLine("%s; the plugin plays silence", reason.c_str());
    }
  }

  ondelith::plugin::SharedSound shared_;
  ondelith::SoundHistory history_;
  ondelith::plugin::SharedTuning tuning_;
  ondelith::plugin::Voice voice_;
  const bool lv2_;
  const bool latencyFromRun_;
  std::atomic<bool> reportLatency_{false};  // the player's choice, off unless asked for
  std::atomic<uint32_t> fadeLatency_{0};
  std::atomic<bool> adoptPorts_{false};
  std::atomic<uint32_t> generation_{0};
  double refusedRate_ = 0;

  DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(OndelithPlugin)
};

}  // namespace

Plugin* createPlugin() { return new OndelithPlugin(); }

END_NAMESPACE_DISTRHO
