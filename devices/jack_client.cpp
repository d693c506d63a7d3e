#include "devices/jack_client.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/quiet_libraries.h"

namespace ondelith {

namespace {

std::vector<std::string> takeNames(const char** names) {
  std::vector<std::string> out;
  for (int i = 0; names && names[i]; ++i) out.emplace_back(names[i]);
  if (names) jack_free(names);
  return out;
}

}  // namespace

std::vector<std::string> mergeConnections(const std::vector<std::string>& remembered,
                                          const std::vector<std::string>& now,
                                          const std::function<bool(const std::string&)>& kept) {
  std::vector<std::string> out = now;
  for (const std::string& port : remembered)
    if (std::find(now.begin(), now.end(), port) == now.end() && kept(port)) out.push_back(port);
  std::sort(out.begin(), out.end());
  return out;
}

JackClient::JackClient(MidiInput& midi) : midi_(midi) {}

JackClient::~JackClient() { close(); }

void JackClient::remember(bool known, std::vector<std::string> output,
                          std::vector<std::string> midiIn) {
  rememberedKnown_ = known;
  rememberedOutput_ = std::move(output);
  rememberedMidi_ = std::move(midiIn);
}

bool JackClient::open() {
  if (serverLost()) close();
  if (client_) return true;
  quietSoundLibraries();
  jack_status_t status{};
  jack_client_t* c = jack_client_open(kJackClientName, JackNoStartServer, &status);
  if (!c) return false;
  out_ = jack_port_register(c, kJackOutputPort, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  midiIn_ = jack_port_register(c, kJackMidiPort, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  lost_.store(false);
  renderTo_.store(nullptr);
  parser_.reset();
  if (!out_ || !midiIn_ || jack_set_process_callback(c, &JackClient::process, this) != 0 ||
      jack_set_port_connect_callback(c, &JackClient::portConnect, this) != 0 ||
      jack_set_port_registration_callback(c, &JackClient::portRegistration, this) != 0) {
    jack_client_close(c);
    out_ = midiIn_ = nullptr;
    return false;
  }
  jack_on_info_shutdown(c, &JackClient::shutdown, this);
  hz_ = jack_get_sample_rate(c);  // before the process thread can read it
  if (jack_activate(c) != 0) {
    jack_client_close(c);
    out_ = midiIn_ = nullptr;
    return false;
  }
  client_ = c;
  connectionsChanged_.store(false);
  portsChanged_.store(false);
  if (rememberedKnown_) {
    connectAll(rememberedOutput_, rememberedMidi_);
  } else {
    // Mono on both speakers of the first pair, for headphones as for a desk.
    std::vector<std::string> playback = takeNames(
        jack_get_ports(c, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput));
    if (playback.size() > 2) playback.resize(2);
    connectAll(playback, {});
  }
  return true;
}

void JackClient::close() {
  if (!client_) return;
  renderTo_.store(nullptr);
  // Returns once JACK's thread has left the process callback for good.
  jack_client_close(client_);
  client_ = nullptr;
  out_ = midiIn_ = nullptr;
  source_.clear();
  sourceOurs_ = false;
  lost_.store(false);
}

std::string JackClient::name() const {
  if (!client_) return {};
  const char* n = jack_get_client_name(client_);
  return n ? n : "";
}

std::string JackClient::outputPortName() const {
  return out_ ? jack_port_name(out_) : std::string();
}

std::string JackClient::midiPortName() const {
  return midiIn_ ? jack_port_name(midiIn_) : std::string();
}

double JackClient::rate() const { return isOpen() ? jack_get_sample_rate(client_) : 0.0; }

double JackClient::outputLatency() const {
  if (!isOpen()) return 0;
  jack_latency_range_t range{};
  jack_port_get_latency_range(out_, JackPlaybackLatency, &range);
  const jack_nframes_t frames = std::max(range.max, jack_get_buffer_size(client_));
  const double hz = rate();
  return hz > 0 ? frames / hz : 0;
}

void JackClient::startRendering(Engine& engine) { renderTo_.store(&engine); }

void JackClient::stopRendering() {
  renderTo_.store(nullptr);
  // Both sides are sequentially consistent: either the cycle saw no engine,
  // or this sees the cycle still busy with it.
  while (busy_.load()) std::this_thread::yield();
}

std::vector<std::string> JackClient::connectionsOf(jack_port_t* port) const {
  if (!isOpen() || !port) return {};
  return takeNames(jack_port_get_connections(port));
}

std::vector<std::string> JackClient::outputConnections() const { return connectionsOf(out_); }

std::vector<std::string> JackClient::midiConnections() const {
  std::vector<std::string> names = connectionsOf(midiIn_);
  if (sourceOurs_) std::erase(names, source_);
  return names;
}

std::vector<std::string> JackClient::midiSources() const {
  if (!isOpen()) return {};
  std::vector<std::string> names =
      takeNames(jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput));
  const std::string own = name() + ":";
  std::erase_if(names, [&own](const std::string& n) { return n.starts_with(own); });
  return names;
}

bool JackClient::connectMidiSource(const std::string& port, std::string& reason) {
  disconnectMidiSource();
  if (!isOpen()) {
    reason = "the JACK server is not running";
    return false;
  }
  if (!jack_port_by_name(client_, port.c_str())) {
    reason = "the port is gone";
    return false;
  }
  const bool already = jack_port_connected_to(midiIn_, port.c_str()) != 0;
  if (!already) {
    const int result = jack_connect(client_, port.c_str(), jack_port_name(midiIn_));
    if (result != 0 && result != EEXIST) {
      reason = "JACK cannot connect it";
      return false;
    }
  }
  source_ = port;
  sourceOurs_ = !already;
  return true;
}

void JackClient::disconnectMidiSource() {
  if (isOpen() && sourceOurs_ && !source_.empty())
    jack_disconnect(client_, source_.c_str(), jack_port_name(midiIn_));
  source_.clear();
  sourceOurs_ = false;
}

bool JackClient::updateRemembered() {
  if (!isOpen()) return false;
  // First the ports that came back, so that theirs count as connected below.
  if (portsChanged_.exchange(false) && !waiting_.empty())
    connectAll(rememberedOutput_, rememberedMidi_, true);
  if (!connectionsChanged_.exchange(false)) return false;
  // A port gone, or come back and not connected yet, stays remembered and
  // waits to be connected.
  std::vector<std::string> waiting;
  const auto kept = [this, &waiting](const std::string& port) {
    const bool wait = std::find(waiting_.begin(), waiting_.end(), port) != waiting_.end() ||
                      jack_port_by_name(client_, port.c_str()) == nullptr;
    if (wait) waiting.push_back(port);
    return wait;
  };
  std::vector<std::string> output = mergeConnections(rememberedOutput_, outputConnections(), kept);
  std::vector<std::string> midi = mergeConnections(rememberedMidi_, midiConnections(), kept);
  waiting_ = std::move(waiting);
  if (rememberedKnown_ && output == rememberedOutput_ && midi == rememberedMidi_) return false;
  remember(true, std::move(output), std::move(midi));
  return true;
}

void JackClient::connectAll(const std::vector<std::string>& output,
                            const std::vector<std::string>& midiIn, bool waitingOnly) {
  // Ports that are not there (a program not started yet) wait for it.
  std::vector<std::string> waiting;
  const auto connect = [&](const std::string& port, const char* from, const char* to) {
    if (waitingOnly && std::find(waiting_.begin(), waiting_.end(), port) == waiting_.end()) return;
    if (jack_port_by_name(client_, port.c_str()))
      jack_connect(client_, from, to);
    else
      waiting.push_back(port);
  };
  for (const std::string& to : output) connect(to, jack_port_name(out_), to.c_str());
  for (const std::string& from : midiIn) connect(from, from.c_str(), jack_port_name(midiIn_));
  waiting_ = std::move(waiting);
}

int JackClient::process(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<JackClient*>(arg);
  CallbackTimes* times = self->times_.load(std::memory_order_relaxed);
  const CallbackTimes::Clock::time_point start =
      times ? CallbackTimes::Clock::now() : CallbackTimes::Clock::time_point{};
  self->busy_.store(true);
  Engine* engine = self->renderTo_.load();
  auto* out = static_cast<float*>(jack_port_get_buffer(self->out_, frames));
  self->readMidi(frames, engine, out);
  if (!engine) std::fill(out, out + frames, 0.0f);
  self->busy_.store(false);
  if (times) times->record(start, frames, self->hz_);
  return 0;
}

void JackClient::readMidi(jack_nframes_t frames, Engine* engine, float* out) {
  cycle_.clear();
  midi_.inFlight.fetch_add(1);
  if (!midi_.paused.load()) {
    // Rendering here, this thread is the voice's own: it hears the voice's channel.
    const int channel =
        engine ? engine->midiChannel : midi_.channel.load(std::memory_order_relaxed);
    collectMidi(jack_port_get_buffer(midiIn_, frames), frames, channel);
    if (!engine) postCycle();
  }
  if (engine) playCycle(*engine, out, frames);
  midi_.inFlight.fetch_sub(1);
}

void JackClient::collectMidi(void* buffer, jack_nframes_t frames, int channel) {
  const uint32_t count = jack_midi_get_event_count(buffer);
  uint32_t messages = 0;
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    const uint32_t at = std::min<uint32_t>(event.time, frames > 0 ? frames - 1 : 0);
    for (size_t k = 0; k < event.size; ++k) {
      if (parser_.feed(event.buffer[k]) != MidiParser::Result::Message) continue;
      ++messages;
      cycle_.add(parser_.word(), at, channel);
    }
  }
  if (messages > 0) received_.fetch_add(messages, std::memory_order_relaxed);
}

// Each message applied at its frame, however many the cycle brings: the
// voice is rendered up to it first. Nothing goes through the queue.
void JackClient::playCycle(Engine& engine, float* out, jack_nframes_t frames) {
  int64_t done = 0;
  for (const CycleMessage& m : cycle_.messages()) {
    const int64_t at = std::clamp<int64_t>(m.frame, done, frames);
    if (at > done) engine.render(out + done, at - done);
    done = at;
    engine.apply(midiEvent(engine.frame(), m.word));
  }
  engine.render(out + done, frames - done);
}

// For a voice another thread renders, at the start of its next block: the
// cycle fits in half the queue, the rest left to the window and the devices.
void JackClient::postCycle() {
  cycle_.fit(kEngineEventCapacity / 2);
  for (const CycleMessage& m : cycle_.messages())
    if (!midi_.engine.post(midiEvent(0, m.word)))
      midi_.lost.fetch_add(1, std::memory_order_relaxed);
}

void JackClient::shutdown(jack_status_t, const char*, void* arg) {
  static_cast<JackClient*>(arg)->lost_.store(true);
}

void JackClient::portRegistration(jack_port_id_t, int, void* arg) {
  // A program's ports came (or went): the UI thread reconnects what it remembers.
  static_cast<JackClient*>(arg)->portsChanged_.store(true);
}

void JackClient::portConnect(jack_port_id_t, jack_port_id_t, int, void* arg) {
  // Any connection on the server; the UI thread looks whether ours changed.
  static_cast<JackClient*>(arg)->connectionsChanged_.store(true);
}

}  // namespace ondelith
