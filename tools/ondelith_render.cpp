// ondelith-render: plays a Standard MIDI File through the synthesizer, from
// its start-up state and optionally a patch, into a mono 32-bit float WAV.
#include <sndfile.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <new>
#include <optional>

#include "engine/midi_message.h"
#include "instrument/instrument.h"
#include "instrument/playback.h"
#include "platform/files.h"
#include "platform/patch_file.h"
#include "tools/midi_file.h"

namespace {

using namespace ondelith;

constexpr double kMaxTailSeconds = 3600;
constexpr long double kMaxSeconds = 6.0L * 3600;
constexpr uint64_t kMaxMidiBytes = uint64_t{1} << 30;  // no MIDI file is that large
constexpr int64_t kBlock = 4096;

// Exit statuses: an input that cannot be read or held, or an output that
// cannot be written; a wrong command line, or an --out that must stay.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int failure(const std::string& file, const std::string& reason, int status = kFailed) {
  std::cerr << "ondelith-render: " << file << ": " << reason << "\n";
  return status;
}

// The whole file, its first bytes looked at before the rest is read.
bool readMidiBytes(const std::string& path, std::string& bytes, std::string& reason) {
  InputFile file;
  if (!file.open(path, &reason)) return false;
  if (file.size() > kMaxMidiBytes) {
    reason = "larger than 1 GiB: not a MIDI file this program can play";
    return false;
  }
  bytes.clear();
  char buffer[65536];
  for (;;) {
    // The first four bytes alone: anything that is not a MIDI file is turned
    // away before the rest is read or room is made for it.
    const size_t want = bytes.size() < 4 ? 4 - bytes.size() : sizeof buffer;
    size_t got = 0;
    if (!file.read(buffer, want, got, &reason)) return false;
    if (got == 0) return true;
    bytes.append(buffer, got);
    if (bytes.size() < 4) continue;
    if (bytes.compare(0, 4, "MThd") != 0) {
      reason = "not a MIDI file";
      return false;
    }
    if (bytes.size() == 4) bytes.reserve(static_cast<size_t>(file.size()));
    if (bytes.size() > kMaxMidiBytes) {  // grew while being read
      reason = "larger than 1 GiB: not a MIDI file this program can play";
      return false;
    }
  }
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
    // The PEAK chunk carries the time of writing: without it the same input
    // always gives the same bytes.
    sf_command(sound_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
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
  app.set_version_flag("--version", "ondelith-render " ONDELITH_VERSION);
  app.footer(
      "Exit status: 0 when the WAV file is written; 1 when an input cannot be read or held in\n"
      "memory, or the WAV file cannot be written; 2 for a wrong command line, or an --out that\n"
      "is a folder, a device, a FIFO or one of the input files.");
  // An empty value is a mistake, never a quiet default.
  const CLI::Validator notEmpty(
      [](const std::string& v) { return v.empty() ? std::string("empty value") : std::string(); },
      "");
  std::string patchPath, midiPath, outPath;
  double tail = 2.0;
  int rate = static_cast<int>(kDefaultSampleRate);
  app.add_option("--patch", patchPath, "Patch to apply, as Open does (.vx)")->check(notEmpty);
  app.add_option("--midi", midiPath, "Standard MIDI File to play")->required()->check(notEmpty);
  app.add_option("--rate", rate, "Sample rate in Hz, 22050 to 192000")->default_val(rate);
  app.add_option("--out", outPath, "WAV file to write (mono, 32-bit float)")
      ->required()
      ->check(notEmpty);
  app.add_option("--tail", tail, "Seconds rendered after the file's last event")
      ->default_val(2.0)
      ->check(notEmpty);
  const Parameter& bend = parameter(kBendRangeIndex);
  int bendRange = bend.start;
  app.add_option("--bend-range", bendRange,
                 "Pitch bend range in semitones, " + std::to_string(bend.minimum) + " to " +
                     std::to_string(bend.maximum) + ", as live")
      ->default_val(bendRange)
      ->check(CLI::Range(bend.minimum, bend.maximum));
  const Parameter& sensitivity = parameter(kVelocityIndex);
  int velocity = sensitivity.start;
  app.add_option("--velocity", velocity,
                 "Velocity sensitivity in percent, " + std::to_string(sensitivity.minimum) +
                     " to " + std::to_string(sensitivity.maximum) + ", as live")
      ->default_val(velocity)
      ->check(CLI::Range(sensitivity.minimum, sensitivity.maximum));
  std::string channel = "1";
  app.add_option("--channel", channel, "MIDI channel heard, 1 to 16 or \"all\", as live")
      ->default_val("1")
      ->check(CLI::IsMember({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13",
                             "14", "15", "16", "all"}));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::cerr << "ondelith-render: " << message << " (see --help)\n";
    return kUsage;
  }
  if (!std::isfinite(tail) || tail < 0 || tail > kMaxTailSeconds)
    return failure("--tail", "must be between 0 and 3600 seconds", kUsage);

  std::string reason;
  const std::optional<SampleRate> sampleRate = SampleRate::of(rate, &reason);
  if (!sampleRate) return failure("--rate", reason, kUsage);

  // The output is looked at before anything is read or rendered.
  if (!mayReplace(outPath, &reason)) return failure(outPath, reason, kUsage);
  if (sameFile(outPath, midiPath)) return failure(outPath, "is the --midi file", kUsage);
  if (!patchPath.empty() && sameFile(outPath, patchPath))
    return failure(outPath, "is the --patch file", kUsage);
  removeTemporaryFilesOnSignals();

  try {
    auto engine = std::make_unique<Engine>(*sampleRate);
    Instrument instrument;
    instrument.attach(engine.get());
    instrument.setValue(kChannelIndex, channel == "all" ? kEveryChannel : std::stoi(channel));
    instrument.setValue(kBendRangeIndex, bendRange);
    instrument.setValue(kVelocityIndex, velocity);
    if (!patchPath.empty()) {
      PatchValues patch;
      if (!readPatchFile(patchPath, patch, &reason)) return failure(patchPath, reason);
      instrument.applyPatch(patch);
    }

    MidiFileContents midi;
    {
      std::string bytes;
      if (!readMidiBytes(midiPath, bytes, reason) || !readMidiFile(bytes, midi, reason, rate))
        return failure(midiPath, reason);
    }

    const long double totalFrames =
        std::nearbyint(midi.lastEventFrames + static_cast<long double>(tail) * rate);
    if (!(totalFrames <= kMaxSeconds * rate))
      return failure(midiPath, "plays for longer than six hours");
    const auto frames = static_cast<int64_t>(totalFrames);

    WavOutput out;
    if (!out.open(outPath, rate, reason)) return failure(outPath, reason);
    const bool rendered =
        playMidi(*engine, midi.notes.data(), midi.notes.size(), frames, kBlock,
                 [&out](const float* samples, int64_t count) { return out.write(samples, count); });
    if (!rendered) {
      out.abandon();
      return failure(outPath, "cannot write");
    }
    if (!out.commit(reason)) return failure(outPath, reason);
  } catch (const std::bad_alloc&) {
    // Only the MIDI file's contents grow with an input.
    return failure(midiPath, "too large to hold in memory");
  }
  return 0;
}
