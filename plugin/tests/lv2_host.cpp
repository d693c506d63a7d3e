#include "plugin/tests/lv2_host.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ondelith::lv2test {

namespace {
constexpr const char* kPluginUri = "urn:ondelith:lv2";
constexpr const char* kPatchFileUri = "urn:ondelith:lv2#patch-file";
}  // namespace

Host::Host() {
  // The build tree's bundle first; the system's own LV2 bundles after it.
  const std::string path =
      std::string(ONDELITH_LV2_BUILD_DIR) + ":/usr/lib/x86_64-linux-gnu/lv2:/usr/lib/lv2";
  setenv("LV2_PATH", path.c_str(), 1);
  mapFeature = {
      this, [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<Host*>(h)->map(uri); }};
  unmapFeature = {this, [](LV2_URID_Unmap_Handle h, LV2_URID urid) {
                    return static_cast<Host*>(h)->unmap(urid);
                  }};
  world = lilv_world_new();
  lilv_world_load_all(world);
  LilvNode* uri = lilv_new_uri(world, kPluginUri);
  plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
  lilv_node_free(uri);
}

Host::~Host() { lilv_world_free(world); }

LV2_URID Host::map(const char* uri) {
  const auto [it, added] = ids_.emplace(uri, static_cast<LV2_URID>(uris_.size() + 1));
  if (added) uris_.push_back(uri);
  return it->second;
}

const char* Host::unmap(LV2_URID urid) const {
  return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1].c_str() : nullptr;
}

Instance::Instance(Host& host, double rate) : host_(host) {
  scheduleData_ = {this, schedule};
  options_ = {{{LV2_OPTIONS_INSTANCE, 0, host.map(LV2_BUF_SIZE__maxBlockLength),
                sizeof blockLength_, host.map(LV2_ATOM__Int), &blockLength_},
               {LV2_OPTIONS_INSTANCE, 0, host.map(LV2_BUF_SIZE__nominalBlockLength),
                sizeof blockLength_, host.map(LV2_ATOM__Int), &blockLength_},
               {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}}};
  mapFeature_ = {LV2_URID__map, &host.mapFeature};
  unmapFeature_ = {LV2_URID__unmap, &host.unmapFeature};
  scheduleFeature_ = {LV2_WORKER__schedule, &scheduleData_};
  optionsFeature_ = {LV2_OPTIONS__options, options_.data()};
  features_ = {&mapFeature_, &unmapFeature_, &scheduleFeature_, &optionsFeature_, nullptr};
  if (!host.plugin) return;
  instance_ = lilv_plugin_instantiate(host.plugin, rate, features_.data());
  if (!instance_) return;
  worker_ = static_cast<const LV2_Worker_Interface*>(
      lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
  const uint32_t ports = lilv_plugin_get_num_ports(host.plugin);
  controls_.assign(ports, 0.0f);
  std::vector<float> defaults(ports);
  lilv_plugin_get_port_ranges_float(host.plugin, nullptr, nullptr, defaults.data());
  LilvNode* controlClass = lilv_new_uri(host.world, LV2_CORE__ControlPort);
  for (uint32_t i = 0; i < ports; ++i) {
    if (!lilv_port_is_a(host.plugin, lilv_plugin_get_port_by_index(host.plugin, i), controlClass))
      continue;
    controls_[i] = defaults[i];
    lilv_instance_connect_port(instance_, i, &controls_[i]);
  }
  lilv_node_free(controlClass);
  lilv_instance_connect_port(instance_, port("lv2_out"), out_.data());
  lilv_instance_connect_port(instance_, port("lv2_events_in"), events_.data());
  lilv_instance_connect_port(instance_, port("lv2_events_out"), eventsOut_.data());
  lv2_atom_forge_init(&forge_, &host.mapFeature);
  lilv_instance_activate(instance_);
}

Instance::~Instance() {
  if (!instance_) return;
  lilv_instance_deactivate(instance_);
  lilv_instance_free(instance_);
}

static uint32_t portIndex(const LilvPlugin* plugin, LilvWorld* world, const std::string& symbol) {
  LilvNode* s = lilv_new_string(world, symbol.c_str());
  const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, s);
  lilv_node_free(s);
  if (!port) {
    std::fprintf(stderr, "no port %s\n", symbol.c_str());
    std::abort();
  }
  return lilv_port_get_index(plugin, port);
}

uint32_t Instance::port(const std::string& symbol) const {
  return portIndex(host_.plugin, host_.world, symbol);
}

void Instance::set(const std::string& symbol, float value) {
  controls_[portIndex(host_.plugin, host_.world, symbol)] = value;
}

float Instance::get(const std::string& symbol) const {
  return controls_[portIndex(host_.plugin, host_.world, symbol)];
}

void Instance::beginEvents() {
  if (eventsOpen_) return;
  lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(events_.data()),
                            events_.size() * sizeof(uint64_t));
  lv2_atom_forge_sequence_head(&forge_, &sequence_, 0);
  eventsOpen_ = true;
}

bool Instance::midi(uint32_t frame, std::initializer_list<uint8_t> bytes) {
  beginEvents();
  const std::vector<uint8_t> b(bytes);
  return lv2_atom_forge_frame_time(&forge_, frame) &&
         lv2_atom_forge_atom(&forge_, static_cast<uint32_t>(b.size()),
                             host_.map(LV2_MIDI__MidiEvent)) &&
         lv2_atom_forge_write(&forge_, b.data(), static_cast<uint32_t>(b.size()));
}

void Instance::choosePatchFile(const std::string& path, uint32_t frame) {
  beginEvents();
  LV2_Atom_Forge_Frame object;
  lv2_atom_forge_frame_time(&forge_, frame);
  lv2_atom_forge_object(&forge_, &object, 0, host_.map(LV2_PATCH__Set));
  lv2_atom_forge_key(&forge_, host_.map(LV2_PATCH__property));
  lv2_atom_forge_urid(&forge_, host_.map(kPatchFileUri));
  lv2_atom_forge_key(&forge_, host_.map(LV2_PATCH__value));
  lv2_atom_forge_path(&forge_, path.c_str(), static_cast<uint32_t>(path.size()));
  lv2_atom_forge_pop(&forge_, &object);
}

void Instance::runOnly(uint32_t frames) {
  if (frames > kMaxBlock) std::abort();
  beginEvents();
  lv2_atom_forge_pop(&forge_, &sequence_);
  // The output sequence: its room, which the plugin fills.
  auto* out = reinterpret_cast<LV2_Atom*>(eventsOut_.data());
  out->type = 0;
  out->size = static_cast<uint32_t>(eventsOut_.size() * sizeof(uint64_t) - sizeof(LV2_Atom));
  lilv_instance_run(instance_, frames);
  eventsOpen_ = false;
}

void Instance::work() {
  for (size_t i = 0; i < workCount_; ++i)
    worker_->work(lilv_instance_get_handle(instance_), respond, this, work_[i].size,
                  work_[i].data.data());
  workCount_ = 0;
}

void Instance::deliverAnswers() {
  for (size_t i = 0; i < answerCount_; ++i)
    worker_->work_response(lilv_instance_get_handle(instance_), answers_[i].size,
                           answers_[i].data.data());
  answerCount_ = 0;
}

void Instance::run(uint32_t frames, std::vector<float>& out) {
  runOnly(frames);
  out.insert(out.end(), out_.begin(), out_.begin() + frames);
  work();
  deliverAnswers();
}

void Instance::deactivate() { lilv_instance_deactivate(instance_); }
void Instance::activate() { lilv_instance_activate(instance_); }

LV2_Worker_Status Instance::schedule(LV2_Worker_Schedule_Handle h, uint32_t size,
                                     const void* data) {
  auto& self = *static_cast<Instance*>(h);
  if (self.workCount_ == self.work_.size() || size > self.work_[0].data.size())
    return LV2_WORKER_ERR_NO_SPACE;
  Parcel& p = self.work_[self.workCount_++];
  p.size = size;
  std::memcpy(p.data.data(), data, size);
  return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Instance::respond(LV2_Worker_Respond_Handle h, uint32_t size, const void* data) {
  auto& self = *static_cast<Instance*>(h);
  if (self.answerCount_ == self.answers_.size() || size > self.answers_[0].data.size())
    return LV2_WORKER_ERR_NO_SPACE;
  Parcel& p = self.answers_[self.answerCount_++];
  p.size = size;
  std::memcpy(p.data.data(), data, size);
  return LV2_WORKER_SUCCESS;
}

std::string Instance::saveState() {
  const LV2_URID floatType = host_.map(LV2_ATOM__Float);
  struct Context {
    Instance* self;
    LV2_URID floatType;
  } context{this, floatType};
  LilvState* state = lilv_state_new_from_instance(
      host_.plugin, instance_, &host_.mapFeature, nullptr, nullptr, nullptr, nullptr,
      [](const char* symbol, void* user, uint32_t* size, uint32_t* type) -> const void* {
        auto& c = *static_cast<Context*>(user);
        const uint32_t i = portIndex(c.self->host_.plugin, c.self->host_.world, symbol);
        if (i >= c.self->controls_.size()) return nullptr;  // lilv asks for input controls only
        *size = sizeof(float);
        *type = c.floatType;
        return &c.self->controls_[i];
      },
      &context, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features_.data());
  if (!state) return {};
  char* text = lilv_state_to_string(host_.world, &host_.mapFeature, &host_.unmapFeature, state,
                                    "urn:ondelith:test-state", nullptr);
  std::string turtle = text ? text : "";
  lilv_free(text);
  lilv_state_free(state);
  return turtle;
}

bool Instance::restoreState(const std::string& turtle) {
  LilvState* state = lilv_state_new_from_string(host_.world, &host_.mapFeature, turtle.c_str());
  if (!state) return false;
  const LV2_URID floatType = host_.map(LV2_ATOM__Float);
  struct Context {
    Instance* self;
    LV2_URID floatType;
  } context{this, floatType};
  lilv_state_restore(
      state, instance_,
      [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
        auto& c = *static_cast<Context*>(user);
        if (type != c.floatType || size != sizeof(float)) return;
        std::memcpy(
            &c.self->controls_[portIndex(c.self->host_.plugin, c.self->host_.world, symbol)], value,
            sizeof(float));
      },
      &context, 0, features_.data());
  lilv_state_free(state);
  return true;
}

const LV2_State_Interface* Instance::stateInterface() const {
  return static_cast<const LV2_State_Interface*>(
      lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
}

LV2_Handle Instance::handle() const { return lilv_instance_get_handle(instance_); }

}  // namespace ondelith::lv2test
