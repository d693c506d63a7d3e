#include "platform/midi_service.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <atomic>
#include <thread>

#include "platform/quiet_libraries.h"

namespace ondelith {

namespace {

constexpr uint32_t kDataKind = 963;
constexpr uint32_t kCloseKind = 962;
constexpr const char* kClientName = "Ondelith";

void quietRtMidi(RtMidiError::Type, const std::string&, void*) {}

// RtMidi reports a missing sequencer or server on stderr before its error
// callback can be set, so look for them first.
bool alsaSequencerExists() {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) return false;
  snd_seq_close(seq);
  return true;
}

bool jackServerRuns() {
  jack_status_t status;
  jack_client_t* client = jack_client_open("Ondelith probe", JackNoStartServer, &status);
  if (!client) return false;
  jack_client_close(client);
  return true;
}

bool apiAvailable(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (RtMidi::Api a : apis)
    if (a == api) return true;
  return false;
}

std::unique_ptr<RtMidiIn> makeInput(RtMidi::Api api) {
  if (api == RtMidi::UNIX_JACK && !jackServerRuns()) return nullptr;
  if (api == RtMidi::LINUX_ALSA && !alsaSequencerExists()) return nullptr;
  auto in = std::make_unique<RtMidiIn>(api, kClientName);
  in->setErrorCallback(quietRtMidi, nullptr);
  return in;
}

struct Port {
  RtMidi::Api api;
  unsigned int number;
  std::string name;
};

// One short message as a word: status | data1 << 8 | data2 << 16.
bool packShortMessage(const std::vector<unsigned char>* message, uint32_t& word) {
  if (!message || message->empty() || message->size() > 3) return false;
  word = 0;
  for (size_t i = 0; i < message->size(); ++i) word |= uint32_t{(*message)[i]} << (8 * i);
  return true;
}

std::string reasonOf(const std::exception& e, const char* fallback) {
  const std::string what = e.what();
  return what.empty() ? fallback : what;
}

}  // namespace

namespace {

// Hands each short message to the callback while delivering; a close first
// stops delivery, then waits out any message already on its way.
struct Delivery {
  MidiService::Callback callback = nullptr;
  void* context = nullptr;
  std::atomic<bool> delivering{false};
  std::atomic<int> inFlight{0};

  static void receive(double, std::vector<unsigned char>* message, void* user) {
    auto* self = static_cast<Delivery*>(user);
    self->inFlight.fetch_add(1);
    uint32_t word;
    if (self->delivering.load() && packShortMessage(message, word))
      self->callback(self->context, kDataKind, word);
    self->inFlight.fetch_sub(1);
  }
  void waitOut() const {
    while (inFlight.load() != 0) std::this_thread::yield();
  }
};

}  // namespace

struct MidiService::Impl : Delivery {
  std::vector<Port> ports;
  std::unique_ptr<RtMidiIn> input;
  std::string error;

  // Stops delivery and lets the port go; true when a port was open.
  bool release() {
    if (!input) return false;
    delivering.store(false);
    try {
      input->cancelCallback();
      input->closePort();
    } catch (...) {
    }
    waitOut();
    try {
      input.reset();
    } catch (...) {
      input.release();
    }
    return true;
  }
};

MidiService::MidiService() : impl_(std::make_unique<Impl>()) { quietSoundLibraries(); }

MidiService::~MidiService() { impl_->release(); }

std::vector<std::string> MidiService::listInputs() {
  impl_->ports.clear();
  std::vector<std::string> names;
  for (RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
    if (!apiAvailable(api)) continue;
    try {
      auto probe = makeInput(api);
      if (!probe) continue;
      const unsigned int count = probe->getPortCount();
      for (unsigned int i = 0; i < count; ++i) {
        std::string name = probe->getPortName(i);
        if (name.empty()) continue;
        impl_->ports.push_back({api, i, name});
        names.push_back(std::move(name));
      }
    } catch (...) {
      // A back end that is not there has no ports; the others still count.
    }
  }
  return names;
}

bool MidiService::open(int position, Callback callback, void* context) {
  close();
  impl_->error.clear();
  if (!callback || position < 0 || static_cast<size_t>(position) >= impl_->ports.size()) {
    impl_->error = "no such MIDI input";
    return false;
  }
  const Port port = impl_->ports[position];
  try {
    auto in = makeInput(port.api);
    if (!in) {
      impl_->error = port.api == RtMidi::UNIX_JACK ? "the JACK server is not running"
                                                   : "there is no ALSA sequencer";
      return false;
    }
    // Ports come and go: if the number now names another port, look for ours.
    const unsigned int count = in->getPortCount();
    unsigned int number = count;
    if (port.number < count && in->getPortName(port.number) == port.name) {
      number = port.number;
    } else {
      for (unsigned int i = 0; i < count && number == count; ++i)
        if (in->getPortName(i) == port.name) number = i;
    }
    if (number == count) {
      impl_->error = "the port is gone";
      return false;
    }
    in->ignoreTypes(true, true, true);
    impl_->callback = callback;
    impl_->context = context;
    impl_->delivering.store(true);
    in->setCallback(&Delivery::receive, static_cast<Delivery*>(impl_.get()));
    in->openPort(number, "Device In");
    impl_->input = std::move(in);
    if (!impl_->input->isPortOpen()) {
      impl_->release();
      impl_->error = "the port cannot be opened";
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    impl_->delivering.store(false);
    impl_->release();
    impl_->error = reasonOf(e, "the port cannot be opened");
    return false;
  } catch (...) {
    impl_->delivering.store(false);
    impl_->release();
    impl_->error = "the port cannot be opened";
    return false;
  }
}

const std::string& MidiService::lastError() const { return impl_->error; }

void MidiService::close() {
  if (impl_->release()) impl_->callback(impl_->context, kCloseKind, 0);
}

bool MidiService::isOpen() const {
  try {
    return impl_->input && impl_->input->isPortOpen();
  } catch (...) {
    return false;
  }
}

}  // namespace ondelith

namespace ondelith {

// One virtual input per back end, each its own client, each delivering as
// MidiService does.
struct OwnMidiPort::Impl : Delivery {
  struct Input {
    RtMidi::Api api;
    std::unique_ptr<RtMidiIn> in;
  };
  std::vector<Input> inputs;
  bool has(RtMidi::Api api) const {
    for (const Input& i : inputs)
      if (i.api == api) return true;
    return false;
  }
};

OwnMidiPort::OwnMidiPort() : impl_(std::make_unique<Impl>()) { quietSoundLibraries(); }

OwnMidiPort::~OwnMidiPort() { close(); }

int OwnMidiPort::open(Callback callback, void* context) {
  if (!callback) return 0;
  // Ports already open keep delivering where they did.
  if (impl_->inputs.empty()) {
    impl_->callback = callback;
    impl_->context = context;
  }
  impl_->delivering.store(true);
  for (RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
    if (impl_->has(api) || !apiAvailable(api)) continue;
    try {
      auto in = makeInput(api);
      if (!in) continue;
      in->ignoreTypes(true, true, true);
      in->setCallback(&Delivery::receive, static_cast<Delivery*>(impl_.get()));
      in->openVirtualPort(kOwnPortName);
      impl_->inputs.push_back({api, std::move(in)});
    } catch (...) {
      // This back end has no port of ours; the other may.
    }
  }
  return static_cast<int>(impl_->inputs.size());
}

void OwnMidiPort::close() {
  impl_->delivering.store(false);
  for (auto& i : impl_->inputs) {
    try {
      i.in->cancelCallback();
      i.in->closePort();
    } catch (...) {
    }
  }
  impl_->waitOut();
  for (auto& i : impl_->inputs) {
    try {
      i.in.reset();
    } catch (...) {
      i.in.release();
    }
  }
  impl_->inputs.clear();
}

std::vector<std::string> OwnMidiPort::backEnds() const {
  std::vector<std::string> names;
  for (const auto& i : impl_->inputs) names.push_back(i.api == RtMidi::UNIX_JACK ? "JACK" : "ALSA");
  return names;
}

}  // namespace ondelith
