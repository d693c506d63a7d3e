#pragma once
// A small LV2 host on lilv for the tests and the benchmark: loads the bundle
// from the build tree and runs instances of the plugin with a URID map, the
// block length options, and a worker that works between runs.

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/data-access/data-access.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
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
  // A path property set as a host sets one (patch:Set), by its key's URI.
  void setPathProperty(const char* keyUri, const std::string& path, uint32_t frame = 0);
  // An atom a panel writes to the plugin's events port, for the next run.
  void forwardAtom(const LV2_Atom& atom);
  // A control port set by its index, as a panel writes it.
  void setPort(uint32_t index, float value);

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
  LilvInstance* lilvInstance() const { return instance_; }
  Host& host() const { return host_; }

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

// The plugin's LV2 panel inside an X11 window of the host's, idled as a
// host idles it. Its writes go to the instance (control ports, and atoms
// for the next run); its file requests are kept, and answered as a host's
// file browser answers them: the chosen path set as the property asked for.
class Panel {
 public:
  Panel(Instance& instance, unsigned long parentWindow);
  ~Panel();
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  bool ok() const { return ui_ != nullptr; }
  void idle();
  // The URIs of the keys the panel asked a file for, oldest first.
  const std::vector<std::string>& fileRequests() const { return requests_; }
  // The last request answered with `path`; false when there was none.
  bool answerFileRequest(const std::string& path);

 private:
  static LV2UI_Request_Value_Status request(LV2UI_Feature_Handle, LV2_URID key, LV2_URID type,
                                            const LV2_Feature* const*);
  static void write(LV2UI_Controller, uint32_t port, uint32_t size, uint32_t protocol,
                    const void* buffer);

  Instance& instance_;
  void* library_ = nullptr;
  const LV2UI_Descriptor* descriptor_ = nullptr;
  LV2UI_Handle ui_ = nullptr;
  LV2UI_Widget widget_ = nullptr;
  const LV2UI_Idle_Interface* idle_ = nullptr;
  std::vector<std::string> requests_;
  float rate_ = 48000;
  std::array<LV2_Options_Option, 2> options_{};
  LV2UI_Request_Value requestValue_{};
  LV2_Extension_Data_Feature dataAccess_{};
  std::array<LV2_Feature, 7> features_{};
  std::array<const LV2_Feature*, 8> featureList_{};
};

}  // namespace ondelith::lv2test
