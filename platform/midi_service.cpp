#include "platform/midi_service.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>

#include <atomic>
#include <thread>

#include "engine/midi_parser.h"
#include "platform/quiet_libraries.h"

namespace ondelith {

namespace {

constexpr uint32_t kDataKind = 963;
constexpr uint32_t kCloseKind = 962;
constexpr const char* kClientName = "Ondelith";

void quietRtMidi(RtMidiError::Type, const std::string&, void*) {}

// RtMidi reports a missing sequencer on stderr before its error callback
// can be set, so look for one first.
bool alsaSequencerExists() {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) return false;
  snd_seq_close(seq);
  return true;
}

bool alsaCompiledIn() {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (RtMidi::Api a : apis)
    if (a == RtMidi::LINUX_ALSA) return true;
  return false;
}

std::unique_ptr<RtMidiIn> makeInput() {
  if (!alsaCompiledIn() || !alsaSequencerExists()) return nullptr;
  auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
  in->setErrorCallback(quietRtMidi, nullptr);
  return in;
}

struct Port {
  unsigned int number;
  std::string name;
};

std::string reasonOf(const std::exception& e, const char* fallback) {
  const std::string what = e.what();
  return what.empty() ? fallback : what;
}

}  // namespace

namespace {

// Hands each channel message to the callback while delivering, read by the
// MIDI rules from whatever bytes the port gave; a close first stops
// delivery, then waits out any message already on its way. One port's
// thread at a time feeds the parser.
struct Delivery {
  MidiService::Callback callback = nullptr;
  void* context = nullptr;
  std::atomic<bool> delivering{false};
  std::atomic<int> inFlight{0};
  MidiParser parser;

  static void receive(double, std::vector<unsigned char>* message, void* user) {
    auto* self = static_cast<Delivery*>(user);
    self->inFlight.fetch_add(1);
    if (self->delivering.load() && message) {
      for (unsigned char byte : *message)
        if (self->parser.feed(byte) == MidiParser::Result::Message)
          self->callback(self->context, kDataKind, self->parser.word());
    }
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
  try {
    auto probe = makeInput();
    if (!probe) return names;
    const unsigned int count = probe->getPortCount();
    for (unsigned int i = 0; i < count; ++i) {
      std::string name = probe->getPortName(i);
      if (name.empty()) continue;
      impl_->ports.push_back({i, name});
      names.push_back(std::move(name));
    }
  } catch (...) {
    // A sequencer that went away has no ports.
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
    auto in = makeInput();
    if (!in) {
      impl_->error = "there is no ALSA sequencer";
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
    impl_->parser.reset();
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

// The sequencer's virtual input, delivering as MidiService does.
struct OwnMidiPort::Impl : Delivery {
  std::unique_ptr<RtMidiIn> input;
};

OwnMidiPort::OwnMidiPort() : impl_(std::make_unique<Impl>()) { quietSoundLibraries(); }

OwnMidiPort::~OwnMidiPort() { close(); }

int OwnMidiPort::open(Callback callback, void* context) {
  if (!callback) return 0;
  if (impl_->input) return 1;  // an open port keeps delivering where it did
  impl_->callback = callback;
  impl_->context = context;
  impl_->parser.reset();
  impl_->delivering.store(true);
  try {
    auto in = makeInput();
    if (!in) return 0;
    in->ignoreTypes(true, true, true);
    in->setCallback(&Delivery::receive, static_cast<Delivery*>(impl_.get()));
    in->openVirtualPort(kOwnPortName);
    impl_->input = std::move(in);
  } catch (...) {
    // No sequencer, no port.
  }
  return impl_->input ? 1 : 0;
}

void OwnMidiPort::close() {
  impl_->delivering.store(false);
  if (!impl_->input) return;
  try {
    impl_->input->cancelCallback();
    impl_->input->closePort();
  } catch (...) {
  }
  impl_->waitOut();
  try {
    impl_->input.reset();
  } catch (...) {
    impl_->input.release();
  }
}

bool OwnMidiPort::isOpen() const { return impl_->input != nullptr; }

}  // namespace ondelith
