// ondelith-render: plays a Standard MIDI File through the synthesizer, from
// its start-up state and optionally a patch, into a mono 32-bit float WAV.
#include <sndfile.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "app/headless_driver.h"
#include "patches/patch.h"
#include "platform/files.h"
#include "tools/midi_file.h"

namespace {

using namespace ondelith;

constexpr double kMaxTailSeconds = 3600;
constexpr long double kMaxSeconds = 6.0L * 3600;
constexpr int64_t kBlock = 4096;

int failure(const std::string& file, const std::string& reason, int status = 1) {
  std::cerr << "ondelith-render: " << file << ": " << reason << "\n";
  return status;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string& reason) {
  bytes.clear();
  return readFileInPieces(
      path,
      [&bytes](const char* data, size_t size) {
        bytes.append(data, size);
        return bytes.size() <= (size_t{1} << 30);  // no MIDI file is that large
      },
      &reason);
}

// The WAV file, under a temporary name beside its target until complete.
class WavOutput {
 public:
  bool open(const std::string& path, int rate, std::string& reason) {
    if (!file_.open(path, &reason)) return false;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    sound_ = sf_open_fd(file_.descriptor(), SFM_WRITE, &info, 0);
    if (!sound_) {
      reason = sf_strerror(nullptr);
      file_.abandon();
      return false;
    }
    return true;
  }
  bool write(const float* samples, int64_t count) {
    return sf_write_float(sound_, samples, count) == count;
  }
  bool commit(std::string& reason) {
    const int closed = sf_close(sound_);
    sound_ = nullptr;
    if (closed != 0) {
      reason = sf_error_number(closed);
      file_.abandon();
      return false;
    }
    return file_.commit(&reason);
  }
  void abandon() {
    if (sound_) sf_close(sound_);
    sound_ = nullptr;
    file_.abandon();
  }
  ~WavOutput() { abandon(); }

 private:
  AtomicFile file_;
  SNDFILE* sound_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Renders a Standard MIDI File through Ondelith into a WAV file."};
  app.name("ondelith-render");
  std::string patchPath, midiPath, outPath;
  double tail = 2.0;
  int rate = static_cast<int>(kDefaultSampleRate);
  app.add_option("--patch", patchPath, "Patch to apply, as Open does (.vx)");
  app.add_option("--midi", midiPath, "Standard MIDI File to play")->required();
  app.add_option("--out", outPath, "WAV file to write (mono, 32-bit float)")->required();
  app.add_option("--rate", rate, "Sample rate in Hz, 22050 to 192000")->default_val(rate);
  app.add_option("--tail", tail, "Seconds rendered after the file's last event")->default_val(2.0);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::cerr << "ondelith-render: " << message << " (see --help)\n";
    return 2;
  }
  if (!std::isfinite(tail) || tail < 0 || tail > kMaxTailSeconds)
    return failure("--tail", "must be between 0 and 3600 seconds", 2);

  std::string reason;
  const std::optional<SampleRate> sampleRate = SampleRate::of(rate, &reason);
  if (!sampleRate) return failure("--rate", reason, 2);

  auto synth = std::make_unique<Synth>(*sampleRate);
  initSynth(*synth);
  if (!patchPath.empty() && !openPatchFile(*synth, patchPath, &reason))
    return failure(patchPath, reason);

  std::string bytes;
  MidiFileContents midi;
  if (!readWholeFile(midiPath, bytes, reason) || !readMidiFile(bytes, midi, reason, rate))
    return failure(midiPath, reason);

  const long double totalFrames =
      std::nearbyint(midi.lastEventFrames + static_cast<long double>(tail) * rate);
  if (!(totalFrames <= kMaxSeconds * rate))
    return failure(midiPath, "plays for longer than six hours");
  const auto frames = static_cast<int64_t>(totalFrames);

  DriverSchedule schedule;
  for (const TimedMidiMessage& m : midi.notes) schedule.midi(m.frame, m.word);

  WavOutput out;
  if (!out.open(outPath, rate, reason)) return failure(outPath, reason);
  const bool rendered = renderSchedule(
      *synth, schedule, frames, fixedBlocks(kBlock),
      [&out](const float* samples, int64_t count) { return out.write(samples, count); });
  if (!rendered) {
    out.abandon();
    return failure(outPath, "cannot write");
  }
  if (!out.commit(reason)) return failure(outPath, reason);
  return 0;
}
