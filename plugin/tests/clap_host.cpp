#include "plugin/tests/clap_host.h"

#include <clap/ext/latency.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace ondelith::claptest {

Module::Module(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) return;
  entry = static_cast<const clap_plugin_entry_t*>(dlsym(handle_, "clap_entry"));
  if (!entry || !entry->init(path.c_str())) {
    entry = nullptr;
    return;
  }
  factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
  if (factory && factory->get_plugin_count(factory) == 1)
    descriptor = factory->get_plugin_descriptor(factory, 0);
  if (!descriptor) factory = nullptr;
}

Module::~Module() {
  if (entry) entry->deinit();
  if (handle_) dlclose(handle_);
}

const void* Instance::hostExtension(const clap_host_t*, const char* id) {
  static const clap_host_params_t params = {
      rescan, [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
      [](const clap_host_t*) {}};
  // A host that embeds panels: it takes their size as it is, and runs
  // their timers when the test asks (runTimers).
  static const clap_host_gui_t gui = {
      [](const clap_host_t*) {}, [](const clap_host_t*, uint32_t, uint32_t) { return true; },
      [](const clap_host_t*) { return true; }, [](const clap_host_t*) { return true; },
      [](const clap_host_t*, bool) {}};
  static const clap_host_timer_support_t timers = {
      [](const clap_host_t* h, uint32_t, clap_id* id) {
        auto* self = static_cast<Instance*>(h->host_data);
        *id = self->nextTimer_++;
        self->timers_.push_back(*id);
        return true;
      },
      [](const clap_host_t* h, clap_id id) {
        auto& t = static_cast<Instance*>(h->host_data)->timers_;
        t.erase(std::remove(t.begin(), t.end(), id), t.end());
        return true;
      }};
  if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &gui;
  if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &timers;
  return std::strcmp(id, CLAP_EXT_PARAMS) == 0 ? &params : nullptr;
}

void Instance::runTimers() {
  const auto* ext = static_cast<const clap_plugin_timer_support_t*>(
      plugin_->get_extension(plugin_, CLAP_EXT_TIMER_SUPPORT));
  if (!ext) return;
  const std::vector<clap_id> ids = timers_;
  for (clap_id id : ids) ext->on_timer(plugin_, id);
}

void Instance::rescan(const clap_host_t* host, clap_param_rescan_flags) {
  ++static_cast<Instance*>(host->host_data)->rescans;
}

Instance::Instance(Module& module, double rate, uint32_t maxFrames) : buffer_(maxFrames) {
  host_ = {CLAP_VERSION,
           this,
           "Ondelith tests",
           "Ondelith",
           "",
           "1",
           hostExtension,
           [](const clap_host_t*) {},
           [](const clap_host_t*) {},
           [](const clap_host_t*) {}};
  if (!module.ok()) return;
  plugin_ = module.factory->create_plugin(module.factory, &host_, module.descriptor->id);
  if (!plugin_ || !plugin_->init(plugin_)) return;
  params =
      static_cast<const clap_plugin_params_t*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
  state = static_cast<const clap_plugin_state_t*>(plugin_->get_extension(plugin_, CLAP_EXT_STATE));
  gui = static_cast<const clap_plugin_gui_t*>(plugin_->get_extension(plugin_, CLAP_EXT_GUI));
  active_ = plugin_->activate(plugin_, rate, 1, maxFrames) && plugin_->start_processing(plugin_);
}

Instance::~Instance() {
  if (!plugin_) return;
  if (active_) {
    plugin_->stop_processing(plugin_);
    plugin_->deactivate(plugin_);
  }
  plugin_->destroy(plugin_);
}

void Instance::midi(uint32_t frame, uint32_t word) {
  Event e{};
  e.midi = {{sizeof(clap_event_midi_t), frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0},
            0,
            {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
             static_cast<uint8_t>(word >> 16)}};
  events_.push_back(e);
}

void Instance::param(uint32_t frame, uint32_t id, double value) {
  Event e{};
  e.param = {{sizeof(clap_event_param_value_t), frame, CLAP_CORE_EVENT_SPACE_ID,
              CLAP_EVENT_PARAM_VALUE, 0},
             id,
             nullptr,
             -1,
             -1,
             -1,
             -1,
             value};
  events_.push_back(e);
}

void Instance::processOnly(uint32_t frames) {
  const clap_input_events_t in = {
      this,
      [](const clap_input_events_t* l) {
        return static_cast<uint32_t>(static_cast<Instance*>(l->ctx)->events_.size());
      },
      [](const clap_input_events_t* l, uint32_t i) -> const clap_event_header_t* {
        return &static_cast<Instance*>(l->ctx)->events_[i].header;
      }};
  const clap_output_events_t out = {
      nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
  float* channel = buffer_.data();
  clap_audio_buffer_t output{&channel, nullptr, 1, 0, 0};
  clap_process_t p{};
  p.steady_time = -1;
  p.frames_count = frames;
  p.audio_outputs = &output;
  p.audio_outputs_count = 1;
  p.in_events = &in;
  p.out_events = &out;
  plugin_->process(plugin_, &p);
  events_.clear();
}

void Instance::process(uint32_t frames, std::vector<float>& out) {
  processOnly(frames);
  out.insert(out.end(), buffer_.begin(), buffer_.begin() + frames);
}

std::string Instance::saveState() {
  std::string bytes;
  const clap_ostream_t stream = {
      &bytes, [](const clap_ostream_t* s, const void* data, uint64_t size) -> int64_t {
        static_cast<std::string*>(s->ctx)->append(static_cast<const char*>(data), size);
        return static_cast<int64_t>(size);
      }};
  return state && state->save(plugin_, &stream) ? bytes : std::string();
}

bool Instance::loadState(const std::string& bytes) {
  struct Reader {
    const std::string& bytes;
    size_t at = 0;
  } reader{bytes};
  // Small pieces, as a host may hand them.
  const clap_istream_t stream = {
      &reader, [](const clap_istream_t* s, void* to, uint64_t size) -> int64_t {
        auto& r = *static_cast<Reader*>(s->ctx);
        const size_t n =
            std::min<size_t>({static_cast<size_t>(size), size_t{100}, r.bytes.size() - r.at});
        std::memcpy(to, r.bytes.data() + r.at, n);
        r.at += n;
        return static_cast<int64_t>(n);
      }};
  return state && state->load(plugin_, &stream);
}

uint32_t Instance::latency() const {
  const auto* l =
      static_cast<const clap_plugin_latency_t*>(plugin_->get_extension(plugin_, CLAP_EXT_LATENCY));
  return l ? l->get(plugin_) : 0;
}

double Instance::value(uint32_t id) const {
  double v = -1e9;
  if (params) params->get_value(plugin_, id, &v);
  return v;
}

}  // namespace ondelith::claptest
