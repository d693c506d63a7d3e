#pragma once
// A small LV2 host on lilv for the tests and the benchmark: loads the bundle
// from the build tree and runs instances of the plugin with a URID map, the
// block length options, and a worker that works between runs.

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ondelith::lv2test {

// The lilv world, with LV2_PATH leading to the build tree's bundle.
class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  LV2_URID map(const char* uri);
  const char* unmap(LV2_URID urid) const;

  LilvWorld* world = nullptr;
  const LilvPlugin* plugin = nullptr;  // null when the bundle is not found
  LV2_URID_Map mapFeature{};
  LV2_URID_Unmap unmapFeature{};

 private:
  std::map<std::string, LV2_URID> ids_;
  std::vector<std::string> uris_;
};

class Instance {
 public:
  Instance(Host& host, double rate);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  bool ok() const { return instance_ != nullptr; }
  void set(const std::string& symbol, float value);
  float get(const std::string& symbol) const;

  // Events for the next run, at frame offsets within it. False when the
  // event buffer is full.
  bool midi(uint32_t frame, std::initializer_list<uint8_t> bytes);
  void choosePatchFile(const std::string& path, uint32_t frame = 0);

  // One run; then the worker's work and its answers, as a host delivers
  // them after run(). The samples go to the end of `out`.
  void run(uint32_t frames, std::vector<float>& out);

  // The parts of a run, for tests that look at each: the plugin's run()
  // alone, the work it scheduled, and the answers for the audio thread.
  void runOnly(uint32_t frames);
  void work();
  void deliverAnswers();

  void deactivate();
  void activate();

  // The whole state as a host saves it (ports and the plugin's properties),
  // in Turtle, and restored from that text.
  std::string saveState();
  bool restoreState(const std::string& turtle);
  const LV2_State_Interface* stateInterface() const;
  LV2_Handle handle() const;

  const float* output() const { return out_.data(); }
  static constexpr uint32_t kMaxBlock = 8192;

 private:
  static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle, uint32_t size, const void* data);
  static LV2_Worker_Status respond(LV2_Worker_Respond_Handle, uint32_t size, const void* data);
  void beginEvents();
  uint32_t port(const std::string& symbol) const;

  Host& host_;
  LilvInstance* instance_ = nullptr;
  const LV2_Worker_Interface* worker_ = nullptr;
  std::vector<float> controls_;  // by port index
  std::array<float, kMaxBlock> out_{};
  // The atom sequences in and out, 8-byte aligned: room for 10,000 events and more.
  std::vector<uint64_t> events_ = std::vector<uint64_t>(40000);
  std::vector<uint64_t> eventsOut_ = std::vector<uint64_t>(8192);
  LV2_Atom_Forge forge_{};
  LV2_Atom_Forge_Frame sequence_{};
  bool eventsOpen_ = false;
  // Work and answers wait in room made beforehand: scheduling allocates nothing.
  struct Parcel {
    uint32_t size = 0;
    std::array<uint8_t, 8192> data{};
  };
  std::array<Parcel, 8> work_{}, answers_{};
  size_t workCount_ = 0, answerCount_ = 0;

  LV2_Worker_Schedule scheduleData_{};
  int32_t blockLength_ = kMaxBlock;
  std::array<LV2_Options_Option, 3> options_{};
  LV2_Feature mapFeature_{}, unmapFeature_{}, scheduleFeature_{}, optionsFeature_{};
  std::array<const LV2_Feature*, 5> features_{};
};

}  // namespace ondelith::lv2test
