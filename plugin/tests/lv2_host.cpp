#include "plugin/tests/lv2_host.h"

#include <dlfcn.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/midi/midi.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin/plugin_core.h"

namespace ondelith::lv2test {

namespace {
constexpr const char* kPluginUri = "urn:ondelith:lv2";
const std::string kPatchFileUri = std::string(kPluginUri) + "#" + plugin::kPatchFileStateKey;
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
  setPathProperty(kPatchFileUri.c_str(), path, frame);
}

void Instance::setPathProperty(const char* keyUri, const std::string& path, uint32_t frame) {
  beginEvents();
  LV2_Atom_Forge_Frame object;
  lv2_atom_forge_frame_time(&forge_, frame);
  lv2_atom_forge_object(&forge_, &object, 0, host_.map(LV2_PATCH__Set));
  lv2_atom_forge_key(&forge_, host_.map(LV2_PATCH__property));
  lv2_atom_forge_urid(&forge_, host_.map(keyUri));
  lv2_atom_forge_key(&forge_, host_.map(LV2_PATCH__value));
  lv2_atom_forge_path(&forge_, path.c_str(), static_cast<uint32_t>(path.size()));
  lv2_atom_forge_pop(&forge_, &object);
}

void Instance::forwardAtom(const LV2_Atom& atom) {
  beginEvents();
  lv2_atom_forge_frame_time(&forge_, 0);
  lv2_atom_forge_write(&forge_, &atom, lv2_atom_total_size(&atom));
}

void Instance::setPort(uint32_t index, float value) {
  if (index < controls_.size()) controls_[index] = value;
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

Panel::Panel(Instance& instance, unsigned long parentWindow) : instance_(instance) {
  Host& host = instance.host();
  if (!instance.ok()) return;
  // The plugin's first X11 panel and the library it is in.
  LilvUIs* uis = lilv_plugin_get_uis(host.plugin);
  LilvNode* x11 = lilv_new_uri(host.world, LV2_UI__X11UI);
  std::string uri, binary;
  LILV_FOREACH(uis, i, uis) {
    const LilvUI* ui = lilv_uis_get(uis, i);
    if (!lilv_ui_is_a(ui, x11)) continue;
    uri = lilv_node_as_uri(lilv_ui_get_uri(ui));
    char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
    binary = path ? path : "";
    lilv_free(path);
    break;
  }
  lilv_node_free(x11);
  lilv_uis_free(uis);
  if (binary.empty() || !(library_ = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL))) return;
  const auto entry =
      reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library_, "lv2ui_descriptor"));
  for (uint32_t i = 0; entry && (descriptor_ = entry(i)); ++i)
    if (uri == descriptor_->URI) break;
  if (!descriptor_) return;

  Host& h = host;
  options_ = {{{LV2_OPTIONS_INSTANCE, 0, h.map(LV2_PARAMETERS__sampleRate), sizeof rate_,
                h.map(LV2_ATOM__Float), &rate_},
               {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}}};
  requestValue_ = {this, request};
  dataAccess_ = {lilv_instance_get_descriptor(instance.lilvInstance())->extension_data};
  features_ = {{{LV2_URID__map, &h.mapFeature},
                {LV2_URID__unmap, &h.unmapFeature},
                {LV2_OPTIONS__options, options_.data()},
                {LV2_UI__parent, reinterpret_cast<void*>(parentWindow)},
                {LV2_INSTANCE_ACCESS_URI, instance.handle()},
                {LV2_DATA_ACCESS_URI, &dataAccess_},
                {LV2_UI__requestValue, &requestValue_}}};
  for (size_t i = 0; i < features_.size(); ++i) featureList_[i] = &features_[i];
  featureList_.back() = nullptr;
  char* bundle =
      lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_bundle_uri(host.plugin)), nullptr);
  ui_ = descriptor_->instantiate(descriptor_, lilv_node_as_uri(lilv_plugin_get_uri(host.plugin)),
                                 bundle, write, this, &widget_, featureList_.data());
  lilv_free(bundle);
  if (ui_ && descriptor_->extension_data)
    idle_ = static_cast<const LV2UI_Idle_Interface*>(
        descriptor_->extension_data(LV2_UI__idleInterface));
}

Panel::~Panel() {
  if (ui_) descriptor_->cleanup(ui_);
  if (library_) dlclose(library_);
}

void Panel::idle() {
  if (idle_) idle_->idle(ui_);
}

bool Panel::answerFileRequest(const std::string& path) {
  if (requests_.empty()) return false;
  instance_.setPathProperty(requests_.back().c_str(), path);
  return true;
}

LV2UI_Request_Value_Status Panel::request(LV2UI_Feature_Handle h, LV2_URID key, LV2_URID,
                                          const LV2_Feature* const*) {
  auto& self = *static_cast<Panel*>(h);
  const char* uri = self.instance_.host().unmap(key);
  if (!uri) return LV2UI_REQUEST_VALUE_ERR_UNKNOWN;
  self.requests_.emplace_back(uri);
  return LV2UI_REQUEST_VALUE_SUCCESS;
}

void Panel::write(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t protocol,
                  const void* buffer) {
  auto& self = *static_cast<Panel*>(c);
  if (protocol == 0 && size == sizeof(float))
    self.instance_.setPort(port, *static_cast<const float*>(buffer));
  else if (protocol == self.instance_.host().map(LV2_ATOM__eventTransfer))
    self.instance_.forwardAtom(*static_cast<const LV2_Atom*>(buffer));
}

}  // namespace ondelith::lv2test
