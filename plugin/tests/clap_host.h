#pragma once
// A small CLAP host for the tests and the benchmark, on the CLAP headers the
// framework ships: loads ondelith.clap, makes instances, sends them note and
// parameter events at frames, keeps what they play, saves and loads state.

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/host.h>
#include <clap/plugin-factory.h>
#include <clap/plugin.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ondelith::claptest {

// The loaded module and its factory; one per process.
class Module {
 public:
  explicit Module(const std::string& path);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool ok() const { return factory != nullptr; }
  const clap_plugin_entry_t* entry = nullptr;
  const clap_plugin_factory_t* factory = nullptr;
  const clap_plugin_descriptor_t* descriptor = nullptr;

 private:
  void* handle_ = nullptr;
};

class Instance {
 public:
  Instance(Module& module, double rate, uint32_t maxFrames = 8192);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  bool ok() const { return active_; }

  // Events for the next process call, at frames within it, in time order.
  void midi(uint32_t frame, uint32_t word);
  void param(uint32_t frame, uint32_t id, double value);
  // One process call; the samples go to the end of `out`.
  void process(uint32_t frames, std::vector<float>& out);
  // The same, for the benchmark: events cleared, samples left in place.
  void processOnly(uint32_t frames);
  const float* output() const { return buffer_.data(); }

  std::string saveState();
  bool loadState(const std::string& bytes);

  const clap_plugin_t* plugin() const { return plugin_; }
  const clap_plugin_params_t* params = nullptr;
  const clap_plugin_state_t* state = nullptr;
  const clap_plugin_gui_t* gui = nullptr;
  // The plugin's timers, run once each, as a host's main loop would.
  void runTimers();
  double value(uint32_t id) const;
  uint32_t latency() const;
  int rescans = 0;  // the plugin asked the host to read its parameters again

 private:
  union Event {
    clap_event_header_t header;
    clap_event_midi_t midi;
    clap_event_param_value_t param;
  };
  static const void* hostExtension(const clap_host_t*, const char* id);
  static void rescan(const clap_host_t*, clap_param_rescan_flags);

  clap_host_t host_{};
  const clap_plugin_t* plugin_ = nullptr;
  bool active_ = false;
  std::vector<Event> events_;
  std::vector<float> buffer_;
  std::vector<clap_id> timers_;
  clap_id nextTimer_ = 1;
};

}  // namespace ondelith::claptest
