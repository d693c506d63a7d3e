#pragma once
// A small VST3 host for the tests, on the framework's own VST3 headers: loads
// ondelith.vst3, makes the component with its processor and controller,
// sends notes and parameter changes at frames, keeps what it plays, saves and
// loads state, reads parameters back as a host's knobs do.

#include <cstdint>
#include <functional>
#include <semaphore>
#include <string>
#include <vector>

#include "travesty/audio_processor.h"
#include "travesty/bstream.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/events.h"
#include "travesty/factory.h"
#include "travesty/unit.h"
#include "travesty/view.h"

namespace ondelith::vst3test {

// Parameter ids are the registry's positions after the framework's own: the
// program (0) and 16 channels of 130 MIDI controllers. Sessions keep them.
constexpr v3_param_id kFirstParameterId = 1 + 16 * 130;
constexpr v3_param_id kProgramId = 0;
inline v3_param_id idOf(int index) { return kFirstParameterId + static_cast<v3_param_id>(index); }

class Module {
 public:
  explicit Module(const std::string& bundle);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  bool ok() const { return factory != nullptr; }

  v3_plugin_factory** factory = nullptr;
  v3_tuid classId{};

 private:
  void* handle_ = nullptr;
};

class Instance {
 public:
  Instance(Module& module, double rate, int32_t maxFrames = 8192);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  bool ok() const { return processing_; }

  // Events and parameter changes (plain values) for the next process call;
  // controllers and bends go as the framework's controller parameters.
  void midi(int32_t frame, uint32_t word);
  void param(int32_t frame, v3_param_id id, double plain);
  void process(int32_t frames, std::vector<float>& out);
  // The same, samples left in place and nothing allocated by the host.
  void processOnly(int32_t frames);
  const float* output() const { return buffer_.data(); }

  // Deactivated and activated again, as a host does to take a new latency.
  void reactivate();
  uint32_t latency();

  std::string saveState();
  bool loadState(const std::string& bytes);

  // As a host's knob reads it: the controller's normalised value as plain.
  double value(v3_param_id id);
  v3_edit_controller** controller = nullptr;
  int restarts = 0;  // PARAM_VALUES_CHANGED restarts asked for
  // As Ardour does: a lock of the host's held across a call into the plugin
  // (a preset, a state) and taken again in restartComponent. A restart from
  // inside the call finds it held; it counts here after a wait, where Ardour
  // would wait for ever.
  void underHostLock(const std::function<void()>& call);
  bool takeHostLock();
  int deadlocks = 0;
  // What the controller's editor asked of the host (normalised values); the
  // host passes each to the processor at its next block, as hosts do.
  std::vector<std::pair<v3_param_id, double>> edits;
  void performEdit(v3_param_id id, double normalised);

  // The controller's editor in an X11 window of the host's, its timers run
  // by runTimers() as a Linux host's run loop runs them.
  bool openEditor(unsigned long parentWindow);
  v3_view_rect editorSize();
  void runTimers();
  void closeEditor();

  // Host objects: each starts with its table of functions, as VST3 expects.
  struct EventList {
    const void* table;
    std::vector<v3_event> events;
  };
  struct Queue {
    const void* table;
    v3_param_id id;
    std::vector<std::pair<int32_t, double>> points;
  };
  struct Changes {
    const void* table;
    std::vector<Queue> queues;
  };
  struct Stream {
    const void* table;
    std::string bytes;
    size_t at = 0;
  };
  struct Handler {
    const void* table;
    Instance* owner;
  };
  struct RunLoop {
    const void* table;
    std::vector<v3_timer_handler**> timers;
  };
  struct Frame {
    const void* table;
    RunLoop* loop;
  };

 private:
  v3_component** component_ = nullptr;
  v3_audio_processor** processor_ = nullptr;
  bool processing_ = false;
  EventList events_;
  Changes changes_, outChanges_;
  Handler handler_;
  RunLoop loop_;
  Frame frame_;
  v3_plugin_view** view_ = nullptr;
  std::vector<float> buffer_;
  std::binary_semaphore hostLock_{1};
};

}  // namespace ondelith::vst3test
