// The LV2 face of the instrument: ports, MIDI and patch messages in run(),
// the patch file loaded by the host's worker, the patch saved and restored
// as .vx text through the state interface.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstring>
#include <new>
#include <string>

#include "plugin/instrument.h"

namespace ondelith::lv2 {
namespace {

struct Urids {
  LV2_URID atomPath, atomString, atomUrid, atomObject, atomBlank, midiEvent;
  LV2_URID patchSet, patchProperty, patchValue;
  LV2_URID patchFile, patchState;

  explicit Urids(LV2_URID_Map* m) {
    const auto map = [m](std::string_view uri) {
      return m->map(m->handle, std::string(uri).c_str());
    };
    atomPath = map(LV2_ATOM__Path);
    atomString = map(LV2_ATOM__String);
    atomUrid = map(LV2_ATOM__URID);
    atomObject = map(LV2_ATOM__Object);
    atomBlank = map(LV2_ATOM__Blank);
    midiEvent = map(LV2_MIDI__MidiEvent);
    patchSet = map(LV2_PATCH__Set);
    patchProperty = map(LV2_PATCH__property);
    patchValue = map(LV2_PATCH__value);
    patchFile = map(kPatchFileUri);
    patchState = map(kPatchStateUri);
  }
};

struct Plugin {
  Plugin(SampleRate rate, LV2_URID_Map* map) : instrument(rate), urids(map) {}

  Instrument instrument;
  Urids urids;
  LV2_Log_Logger logger{};
  LV2_Worker_Schedule* schedule = nullptr;

  const LV2_Atom_Sequence* midiIn = nullptr;
  float* out = nullptr;
  ControlPortValues controls{};
};

// The longest path a patch message may carry to the worker.
constexpr uint32_t kMaxPathBytes = 4096;

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
  LV2_URID_Map* map = nullptr;
  LV2_Log_Logger logger{};
  LV2_Worker_Schedule* schedule = nullptr;
  const char* missing = lv2_features_query(features,                                //
                                           LV2_LOG__log, &logger.log, false,        //
                                           LV2_URID__map, &map, true,               //
                                           LV2_WORKER__schedule, &schedule, false,  //
                                           nullptr);
  lv2_log_logger_set_map(&logger, map);
  if (missing) {
    lv2_log_error(&logger, "Ondelith: the host lacks <%s>\n", missing);
    return nullptr;
  }
  std::string reason;
  const std::optional<SampleRate> sampleRate = SampleRate::of(rate, &reason);
  if (!sampleRate) {
    lv2_log_error(&logger, "Ondelith: %s\n", reason.c_str());
    return nullptr;
  }
  Plugin* self = nullptr;
  try {
    self = new Plugin(*sampleRate, map);
  } catch (const std::bad_alloc&) {
    lv2_log_error(&logger, "Ondelith: out of memory\n");
    return nullptr;
  }
  self->logger = logger;
  self->schedule = schedule;
  if (!schedule)
    lv2_log_note(&logger, "Ondelith: the host offers no worker, so patch files cannot be loaded\n");
  return self;
}

void connectPort(LV2_Handle instance, uint32_t port, void* data) {
  auto* self = static_cast<Plugin*>(instance);
  if (port == kMidiInPort)
    self->midiIn = static_cast<const LV2_Atom_Sequence*>(data);
  else if (port == kAudioOutPort)
    self->out = static_cast<float*>(data);
  else if (port < kPortCount)
    self->controls[port - kFirstControlPort] = static_cast<const float*>(data);
}

void activate(LV2_Handle instance) { static_cast<Plugin*>(instance)->instrument.resetVoice(); }

// A patch file chosen in the host: the path goes to the worker, which reads
// the file away from the audio thread.
void takeMessage(Plugin& self, const LV2_Atom_Object* object) {
  const Urids& u = self.urids;
  if (object->body.otype != u.patchSet || !self.schedule) return;
  const LV2_Atom* property = nullptr;
  const LV2_Atom* value = nullptr;
  lv2_atom_object_get(object, u.patchProperty, &property, u.patchValue, &value, 0);
  if (!property || property->type != u.atomUrid ||
      reinterpret_cast<const LV2_Atom_URID*>(property)->body != u.patchFile)
    return;
  if (!value || (value->type != u.atomPath && value->type != u.atomString) || value->size == 0 ||
      value->size > kMaxPathBytes)
    return;
  self.schedule->schedule_work(self.schedule->handle, value->size, LV2_ATOM_BODY_CONST(value));
}

void run(LV2_Handle instance, uint32_t frames) {
  auto& self = *static_cast<Plugin*>(instance);
  if (!self.out) return;
  self.instrument.takePorts(self.controls);
  uint32_t done = 0;
  if (self.midiIn) {
    const Urids& u = self.urids;
    LV2_ATOM_SEQUENCE_FOREACH(self.midiIn, event) {
      // Events apply before the frame they are stamped with renders.
      const int64_t at = event->time.frames;
      const uint32_t until =
          at <= done ? done : (at >= frames ? frames : static_cast<uint32_t>(at));
      self.instrument.render(self.out + done, until - done);
      done = until;
      if (event->body.type == u.midiEvent)
        self.instrument.playMidi(static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body)),
                                 event->body.size);
      else if (event->body.type == u.atomObject || event->body.type == u.atomBlank)
        takeMessage(self, reinterpret_cast<const LV2_Atom_Object*>(&event->body));
    }
  }
  self.instrument.render(self.out + done, frames - done);
}

void cleanup(LV2_Handle instance) { delete static_cast<Plugin*>(instance); }

// Worker thread: reads the file; the audio thread applies what it read.
LV2_Worker_Status work(LV2_Handle instance, LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
  auto& self = *static_cast<Plugin*>(instance);
  try {
    const auto* text = static_cast<const char*>(data);
    const std::string path(text, strnlen(text, size));
    PatchValues values;
    std::string reason;
    if (!readPatchText(path, values, reason)) {
      lv2_log_error(&self.logger, "Ondelith: %s: %s; the sound is kept\n", path.c_str(),
                    reason.c_str());
      return LV2_WORKER_SUCCESS;
    }
    return respond(handle, sizeof values, &values);
  } catch (const std::bad_alloc&) {
    return LV2_WORKER_ERR_UNKNOWN;
  }
}

LV2_Worker_Status workResponse(LV2_Handle instance, uint32_t size, const void* data) {
  if (size != sizeof(PatchValues)) return LV2_WORKER_ERR_UNKNOWN;
  PatchValues values;
  std::memcpy(&values, data, sizeof values);
  static_cast<Plugin*>(instance)->instrument.applyPatch(values);
  return LV2_WORKER_SUCCESS;
}

LV2_State_Status save(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle,
                      uint32_t, const LV2_Feature* const*) {
  auto& self = *static_cast<Plugin*>(instance);
  try {
    const std::string text = formatPatch(self.instrument.patch());
    return store(handle, self.urids.patchState, text.c_str(), text.size() + 1,
                 self.urids.atomString, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
  } catch (const std::bad_alloc&) {
    return LV2_STATE_ERR_UNKNOWN;
  }
}

LV2_State_Status restore(LV2_Handle instance, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
  auto& self = *static_cast<Plugin*>(instance);
  size_t size = 0;
  uint32_t type = 0;
  uint32_t flags = 0;
  const void* value = retrieve(handle, self.urids.patchState, &size, &type, &flags);
  if (!value) return LV2_STATE_SUCCESS;  // nothing saved: the sound stays
  if (type != self.urids.atomString) {
    lv2_log_warning(&self.logger, "Ondelith: the saved patch is not text; the sound is kept\n");
    return LV2_STATE_ERR_BAD_TYPE;
  }
  const auto* text = static_cast<const char*>(value);
  const std::string_view patch(text, strnlen(text, size));
  if (!isPatchText(patch)) {
    lv2_log_warning(&self.logger, "Ondelith: the saved patch is no patch; the sound is kept\n");
    return LV2_STATE_ERR_UNKNOWN;
  }
  self.instrument.applyPatch(parsePatch(patch));
  self.instrument.adoptPorts();
  return LV2_STATE_SUCCESS;
}

const void* extensionData(const char* uri) {
  static const LV2_State_Interface state = {save, restore};
  static const LV2_Worker_Interface worker = {work, workResponse, nullptr};
  if (std::strcmp(uri, LV2_STATE__interface) == 0) return &state;
  if (std::strcmp(uri, LV2_WORKER__interface) == 0) return &worker;
  return nullptr;
}

// The URI's view is of a literal, so its characters end with a zero.
const LV2_Descriptor kDescriptor = {kPluginUri.data(), instantiate, connectPort,  activate, run,
                                    nullptr,           cleanup,     extensionData};

}  // namespace
}  // namespace ondelith::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &ondelith::lv2::kDescriptor : nullptr;
}
