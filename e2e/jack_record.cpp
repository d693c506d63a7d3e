// jack_record: records one JACK audio input into a mono 32-bit float WAV at
// the server's rate, until SIGINT/SIGTERM or a given length. Prints "ready
// start_frame=N rate=R" once its ports are connected and it has recorded
// its first cycle; sample i of the file was played at JACK frame time N + i
// as long as the closing line reports no gaps.
#include <jack/ringbuffer.h>
#include <sndfile.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

#include "e2e/jack_client.h"

using namespace ondelith::e2e;

namespace {

constexpr const char* kTool = "jack_record";
constexpr int64_t kMaxFill = 44100;  // frames: a second of skipped cycles

struct Recorder {
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  jack_ringbuffer_t* ring = nullptr;
  int64_t limitFrames = -1;  // -1: until stopped
  // Written by the process thread only.
  int64_t framesTaken = 0;
  jack_nframes_t nextFrame = 0;
  std::atomic<bool> started{false};
  std::atomic<jack_nframes_t> startFrame{0};
  std::atomic<int64_t> gaps{0};     // cycles that did not follow on from the last one
  std::atomic<int64_t> dropped{0};  // samples the writer did not take in time
  std::atomic<bool> full{false};    // the requested length is recorded
};

// Queues samples, or counts them as lost when the writer has fallen behind.
void push(Recorder& r, const float* samples, size_t count) {
  const size_t bytes = count * sizeof(float);
  if (jack_ringbuffer_write_space(r.ring) < bytes) {
    r.dropped.fetch_add(static_cast<int64_t>(count));
    return;
  }
  jack_ringbuffer_write(r.ring, reinterpret_cast<const char*>(samples), bytes);
}

int process(jack_nframes_t frames, void* arg) {
  auto& r = *static_cast<Recorder*>(arg);
  const jack_nframes_t now = jack_last_frame_time(r.client);
  if (!r.started.load(std::memory_order_relaxed)) {
    r.startFrame.store(now);
    r.nextFrame = now;
    r.started.store(true, std::memory_order_release);
  }
  // Keep file position and frame time in step across a skipped cycle. After
  // an xrun the server may also move its frame time by any amount, either
  // way: that is a gap too, but there is nothing sensible to fill.
  if (now != r.nextFrame) {
    r.gaps.fetch_add(1);
    static const float zeros[1024] = {};
    int64_t missing = static_cast<int32_t>(now - r.nextFrame);
    if (missing > kMaxFill) missing = 0;
    while (missing > 0 && !r.full.load(std::memory_order_relaxed)) {
      const auto n = static_cast<size_t>(std::min<int64_t>(missing, 1024));
      push(r, zeros, n);
      r.framesTaken += static_cast<int64_t>(n);
      missing -= static_cast<int64_t>(n);
    }
  }
  r.nextFrame = now + frames;
  if (r.full.load(std::memory_order_relaxed)) return 0;
  auto count = static_cast<int64_t>(frames);
  if (r.limitFrames >= 0) count = std::min(count, r.limitFrames - r.framesTaken);
  push(r, static_cast<const float*>(jack_port_get_buffer(r.port, frames)),
       static_cast<size_t>(count));
  r.framesTaken += count;
  if (r.limitFrames >= 0 && r.framesTaken >= r.limitFrames) r.full.store(true);
  return 0;
}

bool drain(Recorder& r, SNDFILE* file, std::vector<float>& buffer, int64_t& written) {
  for (;;) {
    const size_t available = jack_ringbuffer_read_space(r.ring) / sizeof(float);
    const size_t n = std::min(available, buffer.size());
    if (n == 0) return true;
    jack_ringbuffer_read(r.ring, reinterpret_cast<char*>(buffer.data()), n * sizeof(float));
    if (sf_write_float(file, buffer.data(), static_cast<sf_count_t>(n)) !=
        static_cast<sf_count_t>(n))
      return false;
    written += static_cast<int64_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, name = "e2e_record";
  std::vector<std::string> sources;
  double seconds = -1;
  CLI::App app{"Records a JACK audio port into a mono float WAV."};
  app.name(kTool);
  app.add_option("--out", out, "WAV file to write")->required();
  app.add_option("--connect", sources, "Output port(s) to record from");
  app.add_option("--seconds", seconds, "Stop after this long (default: at SIGINT/SIGTERM)");
  app.add_option("--name", name, "JACK client name")->default_val(name);
  CLI11_PARSE(app, argc, argv);
  stopOnSignals();

  Recorder r;
  r.client = openClient(name, kTool);
  if (!r.client) return 2;
  const jack_nframes_t rate = jack_get_sample_rate(r.client);
  if (seconds >= 0) r.limitFrames = std::llround(seconds * rate);
  r.port = jack_port_register(r.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  // Eight seconds of slack for the writer.
  r.ring = jack_ringbuffer_create(static_cast<size_t>(rate) * 8 * sizeof(float));
  SF_INFO info{};
  info.samplerate = static_cast<int>(rate);
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(out.c_str(), SFM_WRITE, &info);
  if (!r.port || !r.ring || !file) {
    std::fprintf(stderr, "%s: cannot set up: %s\n", kTool,
                 file ? "JACK port or buffer" : sf_strerror(nullptr));
    return 2;
  }
  jack_ringbuffer_mlock(r.ring);
  jack_set_process_callback(r.client, process, &r);
  if (jack_activate(r.client) != 0) {
    std::fprintf(stderr, "%s: cannot activate\n", kTool);
    return 2;
  }
  bool connected = true;
  for (const auto& source : sources)
    connected = connectPorts(r.client, source, jack_port_name(r.port), kTool) && connected;
  if (!connected) stopRequested.store(true);

  std::vector<float> buffer(16384);
  bool announced = false, written = true;
  int64_t frames = 0;
  while (!stopRequested.load() && !r.full.load() && written) {
    if (!announced && r.started.load(std::memory_order_acquire)) {
      std::printf("ready start_frame=%u rate=%u\n", r.startFrame.load(), rate);
      std::fflush(stdout);
      announced = true;
    }
    written = drain(r, file, buffer, frames);
    usleep(10000);
  }
  if (!serverGone.load()) jack_deactivate(r.client);
  written = drain(r, file, buffer, frames) && written;
  written = sf_close(file) == 0 && written;
  if (!serverGone.load()) jack_client_close(r.client);

  std::printf("recorded frames=%lld start_frame=%u gaps=%lld dropped=%lld\n",
              static_cast<long long>(frames), r.startFrame.load(),
              static_cast<long long>(r.gaps.load()), static_cast<long long>(r.dropped.load()));
  if (!connected) return 2;
  if (!written || r.dropped.load() > 0) {
    std::fprintf(stderr, "%s: samples were lost\n", kTool);
    return 1;
  }
  if (serverGone.load()) {
    std::fprintf(stderr, "%s: the JACK server went away\n", kTool);
    return 3;
  }
  return 0;
}
