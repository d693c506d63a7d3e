#include "plugin/tests/vst3_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <string>

#include "travesty/host.h"
#include "travesty/message.h"

namespace ondelith::vst3test {

namespace {

template <typename T>
T& self(void* p) {
  return *static_cast<T*>(p);
}

// The host objects live as long as the instance: no counting.
v3_result V3_API query(void* obj, const v3_tuid, void** out) {
  *out = obj;
  return V3_OK;
}
uint32_t V3_API keep(void*) { return 1; }

const v3_event_list_cpp kEventListTable = {
    {query, keep, keep},
    {[](void* s) -> uint32_t {
       return static_cast<uint32_t>(self<Instance::EventList>(s).events.size());
     },
     [](void* s, int32_t i, v3_event* e) -> v3_result {
       const auto& list = self<Instance::EventList>(s).events;
       if (i < 0 || static_cast<size_t>(i) >= list.size()) return V3_INVALID_ARG;
       *e = list[static_cast<size_t>(i)];
       return V3_OK;
     },
     [](void*, v3_event*) -> v3_result { return V3_OK; }}};

const v3_param_value_queue_cpp kQueueTable = {
    {query, keep, keep},
    {[](void* s) { return self<Instance::Queue>(s).id; },
     [](void* s) { return static_cast<int32_t>(self<Instance::Queue>(s).points.size()); },
     [](void* s, int32_t i, int32_t* offset, double* value) -> v3_result {
       const auto& points = self<Instance::Queue>(s).points;
       if (i < 0 || static_cast<size_t>(i) >= points.size()) return V3_INVALID_ARG;
       *offset = points[static_cast<size_t>(i)].first;
       *value = points[static_cast<size_t>(i)].second;
       return V3_OK;
     },
     [](void* s, int32_t offset, double value, int32_t* i) -> v3_result {
       auto& points = self<Instance::Queue>(s).points;
       points.emplace_back(offset, value);
       *i = static_cast<int32_t>(points.size() - 1);
       return V3_OK;
     }}};

Instance::Queue& queueFor(Instance::Changes& c, v3_param_id id) {
  for (Instance::Queue& q : c.queues)
    if (q.id == id) return q;
  c.queues.push_back({&kQueueTable, id, {}});
  return c.queues.back();
}

const v3_param_changes_cpp kChangesTable = {
    {query, keep, keep},
    {[](void* s) { return static_cast<int32_t>(self<Instance::Changes>(s).queues.size()); },
     [](void* s, int32_t i) -> v3_param_value_queue** {
       auto& queues = self<Instance::Changes>(s).queues;
       if (i < 0 || static_cast<size_t>(i) >= queues.size()) return nullptr;
       return reinterpret_cast<v3_param_value_queue**>(&queues[static_cast<size_t>(i)]);
     },
     [](void* s, v3_param_id* id, int32_t* index) -> v3_param_value_queue** {
       auto& c = self<Instance::Changes>(s);
       Instance::Queue& q = queueFor(c, *id);
       *index = static_cast<int32_t>(&q - c.queues.data());
       return reinterpret_cast<v3_param_value_queue**>(&q);
     }}};

struct v3_bstream_cpp : v3_funknown {
  v3_bstream stream;
};
const v3_bstream_cpp kStreamTable = {
    {query, keep, keep},
    {// Small pieces, as a host may hand them.
     [](void* s, void* to, int32_t size, int32_t* got) -> v3_result {
       auto& st = self<Instance::Stream>(s);
       const size_t n = std::min<size_t>(
           {static_cast<size_t>(std::max(size, 0)), size_t{100}, st.bytes.size() - st.at});
       std::memcpy(to, st.bytes.data() + st.at, n);
       st.at += n;
       if (got) *got = static_cast<int32_t>(n);
       return V3_OK;
     },
     [](void* s, void* from, int32_t size, int32_t* written) -> v3_result {
       self<Instance::Stream>(s).bytes.append(static_cast<const char*>(from),
                                              static_cast<size_t>(size));
       if (written) *written = size;
       return V3_OK;
     },
     [](void* s, int64_t pos, int32_t mode, int64_t* result) -> v3_result {
       auto& st = self<Instance::Stream>(s);
       const int64_t base = mode == V3_SEEK_SET   ? 0
                            : mode == V3_SEEK_CUR ? static_cast<int64_t>(st.at)
                                                  : static_cast<int64_t>(st.bytes.size());
       st.at = static_cast<size_t>(
           std::clamp<int64_t>(base + pos, 0, static_cast<int64_t>(st.bytes.size())));
       if (result) *result = static_cast<int64_t>(st.at);
       return V3_OK;
     },
     [](void* s, int64_t* pos) -> v3_result {
       *pos = static_cast<int64_t>(self<Instance::Stream>(s).at);
       return V3_OK;
     }}};

struct v3_component_handler_cpp : v3_funknown {
  v3_component_handler handler;
};
const v3_component_handler_cpp kHandlerTable = {
    {query, keep, keep},
    {[](void*, v3_param_id) -> v3_result { return V3_OK; },
     [](void* s, v3_param_id id, double normalised) -> v3_result {
       self<Instance::Handler>(s).owner->performEdit(id, normalised);
       return V3_OK;
     },
     [](void*, v3_param_id) -> v3_result { return V3_OK; },
     [](void* s, int32_t flags) -> v3_result {
       Instance& owner = *self<Instance::Handler>(s).owner;
       if (!owner.takeHostLock()) return V3_INTERNAL_ERR;
       if (flags & V3_RESTART_PARAM_VALUES_CHANGED) ++owner.restarts;
       return V3_OK;
     }}};

// Messages the editor and its controller send each other, made by the host:
// counted, since the plugin lets go of them when sent.
struct Message;
struct Attributes {
  const void* table = nullptr;
  Message* owner = nullptr;
  std::map<std::string, std::string> bytes;  // binary and UTF-16 strings
  std::map<std::string, int64_t> ints;
  std::map<std::string, double> floats;
};
struct Message {
  const void* table = nullptr;
  std::atomic<uint32_t> count{1};
  std::string id;
  Attributes attributes;
};

uint32_t V3_API messageRef(void* s) { return ++self<Message>(s).count; }
uint32_t V3_API messageUnref(void* s) {
  const uint32_t left = --self<Message>(s).count;
  if (left == 0) delete &self<Message>(s);
  return left;
}
uint32_t V3_API attributesRef(void* s) { return messageRef(self<Attributes>(s).owner); }
uint32_t V3_API attributesUnref(void* s) { return messageUnref(self<Attributes>(s).owner); }

template <typename T>
v3_result found(const std::map<std::string, T>& m, const char* id, T* out) {
  const auto it = m.find(id);
  if (it == m.end()) return V3_INVALID_ARG;
  *out = it->second;
  return V3_OK;
}

const v3_attribute_list_cpp kAttributesTable = {
    {query, attributesRef, attributesUnref},
    {[](void* s, const char* id, int64_t v) -> v3_result {
       self<Attributes>(s).ints[id] = v;
       return V3_OK;
     },
     [](void* s, const char* id, int64_t* v) { return found(self<Attributes>(s).ints, id, v); },
     [](void* s, const char* id, double v) -> v3_result {
       self<Attributes>(s).floats[id] = v;
       return V3_OK;
     },
     [](void* s, const char* id, double* v) { return found(self<Attributes>(s).floats, id, v); },
     [](void* s, const char* id, const int16_t* text) -> v3_result {
       size_t n = 0;
       while (text[n] != 0) ++n;
       self<Attributes>(s).bytes[id].assign(reinterpret_cast<const char*>(text), 2 * (n + 1));
       return V3_OK;
     },
     [](void* s, const char* id, int16_t* text, uint32_t size) -> v3_result {
       std::string b;
       if (found(self<Attributes>(s).bytes, id, &b) != V3_OK || size < 2) return V3_INVALID_ARG;
       const size_t n = std::min<size_t>(b.size(), size) & ~size_t{1};
       std::memcpy(text, b.data(), n);
       text[n / 2 - 1] = 0;
       return V3_OK;
     },
     [](void* s, const char* id, const void* data, uint32_t size) -> v3_result {
       self<Attributes>(s).bytes[id].assign(static_cast<const char*>(data), size);
       return V3_OK;
     },
     [](void* s, const char* id, const void** data, uint32_t* size) -> v3_result {
       const auto& m = self<Attributes>(s).bytes;
       const auto it = m.find(id);
       if (it == m.end()) return V3_INVALID_ARG;
       *data = it->second.data();
       *size = static_cast<uint32_t>(it->second.size());
       return V3_OK;
     }}};

const v3_message_cpp kMessageTable = {
    {query, messageRef, messageUnref},
    {[](void* s) { return self<Message>(s).id.c_str(); },
     [](void* s, const char* id) { self<Message>(s).id = id ? id : ""; },
     [](void* s) { return reinterpret_cast<v3_attribute_list**>(&self<Message>(s).attributes); }}};

const v3_host_application_cpp kHostTable = {
    {query, keep, keep},
    {[](void*, v3_str_128 name) -> v3_result {
       const char* ours = "Ondelith tests";
       for (size_t i = 0; i < 128; ++i)
         if ((name[i] = static_cast<int16_t>(ours[i])) == 0) break;
       return V3_OK;
     },
     [](void*, v3_tuid, v3_tuid iid, void** out) -> v3_result {
       if (!v3_tuid_match(iid, v3_message_iid)) return V3_NO_INTERFACE;
       auto* m = new Message;
       m->table = &kMessageTable;
       m->attributes.table = &kAttributesTable;
       m->attributes.owner = m;
       *out = m;
       return V3_OK;
     }}};
struct HostApplication {
  const void* table = &kHostTable;
} hostApplication;

struct v3_run_loop_cpp : v3_funknown {
  v3_run_loop loop;
};
const v3_run_loop_cpp kRunLoopTable = {
    {query, keep, keep},
    {[](void*, v3_event_handler**, int) -> v3_result { return V3_OK; },
     [](void*, v3_event_handler**) -> v3_result { return V3_OK; },
     [](void* s, v3_timer_handler** h, uint64_t) -> v3_result {
       self<Instance::RunLoop>(s).timers.push_back(h);
       return V3_OK;
     },
     [](void* s, v3_timer_handler** h) -> v3_result {
       auto& timers = self<Instance::RunLoop>(s).timers;
       timers.erase(std::remove(timers.begin(), timers.end(), h), timers.end());
       return V3_OK;
     }}};

// The frame hands out the run loop, as Linux hosts' frames do.
const v3_plugin_frame_cpp kFrameTable = {
    {[](void* s, const v3_tuid iid, void** out) -> v3_result {
       *out = v3_tuid_match(iid, v3_run_loop_iid)
                  ? static_cast<void*>(self<Instance::Frame>(s).loop)
                  : s;
       return V3_OK;
     },
     keep, keep},
    {[](void*, v3_plugin_view**, v3_view_rect*) -> v3_result { return V3_OK; }}};

}  // namespace

Module::Module(const std::string& bundle) {
  const std::string binary = bundle + "/Contents/x86_64-linux/ondelith.so";
  handle_ = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) return;
  const auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(handle_, "ModuleEntry"));
  const auto get = reinterpret_cast<const void* (*)()>(dlsym(handle_, "GetPluginFactory"));
  if (!entry || !get || !entry(handle_)) return;
  auto** f = static_cast<v3_plugin_factory**>(const_cast<void*>(get()));
  v3_class_info info{};
  if (!f || v3_cpp_obj(f)->get_class_info(f, 0, &info) != V3_OK) return;
  std::memcpy(classId, info.class_id, sizeof classId);
  factory = f;
}

Module::~Module() {
  if (factory) v3_cpp_obj_unref(factory);
  if (!handle_) return;
  if (const auto exit = reinterpret_cast<bool (*)()>(dlsym(handle_, "ModuleExit"))) exit();
  dlclose(handle_);
}

Instance::Instance(Module& module, double rate, int32_t maxFrames)
    : events_{&kEventListTable, {}},
      changes_{&kChangesTable, {}},
      outChanges_{&kChangesTable, {}},
      handler_{&kHandlerTable, this},
      loop_{&kRunLoopTable, {}},
      frame_{&kFrameTable, &loop_},
      buffer_(static_cast<size_t>(maxFrames)) {
  if (!module.ok()) return;
  void* object = nullptr;
  if (v3_cpp_obj(module.factory)
          ->create_instance(module.factory, module.classId, v3_component_iid, &object) != V3_OK)
    return;
  component_ = static_cast<v3_component**>(object);
  if (v3_cpp_obj_initialize(component_, reinterpret_cast<v3_funknown**>(&hostApplication)) != V3_OK)
    return;
  if (v3_cpp_obj_query_interface(component_, v3_audio_processor_iid, &processor_) != V3_OK) return;
  if (v3_cpp_obj_query_interface(component_, v3_edit_controller_iid, &controller) != V3_OK) return;
  v3_cpp_obj(controller)
      ->set_component_handler(controller, reinterpret_cast<v3_component_handler**>(&handler_));
  v3_speaker_arrangement mono = V3_SPEAKER_M;
  v3_cpp_obj(processor_)->set_bus_arrangements(processor_, nullptr, 0, &mono, 1);
  v3_cpp_obj(component_)->activate_bus(component_, V3_AUDIO, V3_OUTPUT, 0, true);
  v3_cpp_obj(component_)->activate_bus(component_, V3_EVENT, V3_INPUT, 0, true);
  v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, maxFrames, rate};
  if (v3_cpp_obj(processor_)->setup_processing(processor_, &setup) != V3_OK) return;
  v3_cpp_obj(component_)->set_active(component_, true);
  processing_ = v3_cpp_obj(processor_)->set_processing(processor_, true) == V3_OK;
}

Instance::~Instance() {
  closeEditor();
  if (processing_) v3_cpp_obj(processor_)->set_processing(processor_, false);
  if (component_) {
    v3_cpp_obj(component_)->set_active(component_, false);
    if (controller) v3_cpp_obj_unref(controller);
    if (processor_) v3_cpp_obj_unref(processor_);
    v3_cpp_obj_terminate(component_);
    v3_cpp_obj_unref(component_);
  }
}

void Instance::midi(int32_t frame, uint32_t word) {
  v3_event e{};
  e.sample_offset = frame;
  const auto status = static_cast<uint8_t>(word & 0xF0);
  const auto channel = static_cast<int16_t>(word & 0x0F);
  const auto pitch = static_cast<int16_t>((word >> 8) & 0x7F);
  const float velocity = static_cast<float>((word >> 16) & 0x7F) / 127.0f;
  if (status == 0xB0 || status == 0xE0) {
    // As a host maps MIDI: each controller and the bend a parameter of the framework's.
    const uint32_t data = (word >> 8) & 0x7F, data2 = (word >> 16) & 0x7F;
    const v3_param_id id =
        1 + static_cast<v3_param_id>(channel) * 130 + (status == 0xE0 ? 129 : data);
    const double normalised = status == 0xE0 ? ((data2 << 7) | data) / 16384.0 : data2 / 127.0;
    queueFor(changes_, id).points.emplace_back(frame, normalised);
    return;
  }
  if (status == 0x90 && velocity > 0) {
    e.type = V3_EVENT_NOTE_ON;
    e.note_on = {channel, pitch, 0, velocity, 0, -1};
  } else {
    e.type = V3_EVENT_NOTE_OFF;
    e.note_off = {channel, pitch, velocity, -1, 0};
  }
  events_.events.push_back(e);
}

void Instance::param(int32_t frame, v3_param_id id, double plain) {
  const double normalised =
      v3_cpp_obj(controller)->plain_parameter_to_normalised(controller, id, plain);
  queueFor(changes_, id).points.emplace_back(frame, normalised);
}

void Instance::process(int32_t frames, std::vector<float>& out) {
  processOnly(frames);
  out.insert(out.end(), buffer_.begin(), buffer_.begin() + frames);
}

void Instance::processOnly(int32_t frames) {
  float* channel = buffer_.data();
  v3_audio_bus_buffers bus{};
  bus.num_channels = 1;
  bus.channel_buffers_32 = &channel;
  v3_process_data data{};
  data.process_mode = V3_REALTIME;
  data.symbolic_sample_size = V3_SAMPLE_32;
  data.nframes = frames;
  data.num_output_buses = 1;
  data.outputs = &bus;
  data.input_params = reinterpret_cast<v3_param_changes**>(&changes_);
  data.output_params = reinterpret_cast<v3_param_changes**>(&outChanges_);
  data.input_events = reinterpret_cast<v3_event_list**>(&events_);
  v3_cpp_obj(processor_)->process(processor_, &data);
  events_.events.clear();
  changes_.queues.clear();
  outChanges_.queues.clear();
}

void Instance::reactivate() {
  v3_cpp_obj(processor_)->set_processing(processor_, false);
  v3_cpp_obj(component_)->set_active(component_, false);
  v3_cpp_obj(component_)->set_active(component_, true);
  processing_ = v3_cpp_obj(processor_)->set_processing(processor_, true) == V3_OK;
}

uint32_t Instance::latency() { return v3_cpp_obj(processor_)->get_latency_samples(processor_); }

std::string Instance::saveState() {
  Stream s{&kStreamTable, {}, 0};
  if (v3_cpp_obj(component_)->get_state(component_, reinterpret_cast<v3_bstream**>(&s)) != V3_OK)
    return {};
  return s.bytes;
}

bool Instance::loadState(const std::string& bytes) {
  // As a host does: the component first, then its controller.
  Stream s{&kStreamTable, bytes, 0};
  if (v3_cpp_obj(component_)->set_state(component_, reinterpret_cast<v3_bstream**>(&s)) != V3_OK)
    return false;
  s.at = 0;
  return v3_cpp_obj(controller)
             ->set_component_state(controller, reinterpret_cast<v3_bstream**>(&s)) == V3_OK;
}

void Instance::underHostLock(const std::function<void()>& call) {
  hostLock_.acquire();
  call();
  hostLock_.release();
}

bool Instance::takeHostLock() {
  if (!hostLock_.try_acquire_for(std::chrono::seconds(2))) {
    ++deadlocks;
    return false;
  }
  hostLock_.release();
  return true;
}

double Instance::value(v3_param_id id) {
  const double normalised = v3_cpp_obj(controller)->get_parameter_normalised(controller, id);
  return v3_cpp_obj(controller)->normalised_parameter_to_plain(controller, id, normalised);
}

}  // namespace ondelith::vst3test

namespace ondelith::vst3test {

bool Instance::openEditor(unsigned long parentWindow) {
  closeEditor();
  view_ = v3_cpp_obj(controller)->create_view(controller, "editor");
  if (!view_) return false;
  if (v3_cpp_obj(view_)->is_platform_type_supported(view_, V3_VIEW_PLATFORM_TYPE_X11) != V3_OK)
    return false;
  v3_cpp_obj(view_)->set_frame(view_, reinterpret_cast<v3_plugin_frame**>(&frame_));
  return v3_cpp_obj(view_)->attached(view_, reinterpret_cast<void*>(parentWindow),
                                     V3_VIEW_PLATFORM_TYPE_X11) == V3_OK;
}

void Instance::performEdit(v3_param_id id, double normalised) {
  edits.emplace_back(id, normalised);
  queueFor(changes_, id).points.emplace_back(0, normalised);
}

v3_view_rect Instance::editorSize() {
  v3_view_rect r{};
  if (view_) v3_cpp_obj(view_)->get_size(view_, &r);
  return r;
}

void Instance::runTimers() {
  for (v3_timer_handler** t : std::vector<v3_timer_handler**>(loop_.timers))
    v3_cpp_obj(t)->on_timer(t);
}

void Instance::closeEditor() {
  if (!view_) return;
  v3_cpp_obj(view_)->removed(view_);
  v3_cpp_obj_unref(view_);
  view_ = nullptr;
}

}  // namespace ondelith::vst3test
