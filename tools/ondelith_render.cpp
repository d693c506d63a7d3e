// ondelith-render: plays a Standard MIDI File through the synthesizer, from
// its start-up sound, a bank sound or a patch, into a mono 32-bit float WAV.
// Program Changes on the channel heard choose bank sounds at their frames.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <new>
#include <optional>

#include "engine/midi_message.h"
#include "engine/oversampling.h"
#include "engine/program_change.h"
#include "instrument/instrument.h"
#include "instrument/playback.h"
#include "instrument/sound_bank.h"
#include "ondelith_version.h"
#include "platform/files.h"
#include "platform/option_words.h"
#include "platform/patch_file.h"
#include "platform/tuning_file.h"
#include "tools/midi_file.h"
#include "tools/wav_file.h"

namespace {

using namespace ondelith;

constexpr double kMaxTailSeconds = 3600;
constexpr long double kMaxSeconds = 6.0L * 3600;
constexpr uint64_t kMaxMidiBytes = uint64_t{1} << 30;  // no MIDI file is that large
// Frames per write: large enough that the system calls cost next to nothing.
constexpr int64_t kBlock = 65536;

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

// A file whose notes all sound on channels other than the one heard renders
// silence: the player is told which channels it uses.
void tellUnheardNotes(const std::string& path, const MidiFileContents& midi, int heard) {
  if (heard == kAllChannels) return;
  uint32_t used = 0;  // a bit for each channel with a note-on
  for (const TimedMidi& m : midi.notes)
    if ((m.word & 0xF0) == 0x90 && ((m.word >> 16) & 0x7F) > 0) used |= 1u << (m.word & 0x0F);
  if (used == 0 || (used & (1u << heard))) return;
  std::string channels;
  for (int c = 0; c < 16; ++c)
    if (used & (1u << c)) channels += (channels.empty() ? "" : ", ") + std::to_string(c + 1);
  std::cerr << "ondelith-render: " << path << ": no note is on channel " << heard + 1
            << ", the one heard; the file's notes are on channel"
            << (used & (used - 1) ? "s " : " ") << channels << " (--channel all plays them)\n";
}

void listSounds() {
  for (const BankSound& s : factoryBank())
    std::cout << s.number << "\t" << categoryTitle(s.category) << "\t" << s.name << "\t"
              << s.description << "\n";
}

// What --set takes beyond the window's controls, from the table: a sound's
// settings, each with its values and what it does.
std::string soundSettingsText() {
  std::string text = "Sound settings, kept in a patch and given with --set SYMBOL=VALUE:\n";
  for (int i = 0; i < kParameterCount; ++i)
    if (isSoundSetting(i))
      text += "  " + std::string(parameter(i).symbol) + " (" + rangeText(i) +
              "): " + std::string(parameter(i).help) + "\n";
  return text + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Renders a Standard MIDI File through Ondelith into a WAV file."};
  app.name("ondelith-render");
  app.set_version_flag("--version", "ondelith-render " + std::string(kVersion));
  app.footer(
      soundSettingsText() +
      "Exit status: 0 when the WAV file is written; 1 when an input cannot be read or held in\n"
      "memory, or the WAV file cannot be written; 2 for a wrong command line, or an --out that\n"
      "is a folder, a device, a FIFO or one of the input files.");
  // Every value is taken as a word and checked here, in the program's words.
  std::string patchPath, soundWord, midiPath, outPath, tailText, rateText, bendText, velocityText;
  std::string scalePath, mapPath;
  std::vector<std::string> setWords;
  bool listOnly = false, listParametersOnly = false;
  double tail = 2.0;
  int rate = static_cast<int>(kDefaultSampleRate);
  app.add_option("--patch", patchPath, "Patch to apply, as Open does (.vx)")->type_name("FILE.vx");
  app.add_option("--sound", soundWord, "Factory bank sound to start from, by name or number")
      ->type_name("NAME|NUMBER");
  app.add_flag(
      "--list-sounds", listOnly,
      "Print the factory bank, one sound a line: number, category, name, description; and end");
  app.add_option("--set", setWords,
                 "Sets a parameter by its symbol, in the units the window shows, after --patch or "
                 "--sound; may be given again (see --list-parameters)")
      ->type_name("SYMBOL=VALUE")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--list-parameters", listParametersOnly,
               "Print every parameter --set takes, one a line: symbol, range, default, name; and "
               "end");
  app.add_option("--scl", scalePath,
                 "Scala scale to play in (.scl); twelve equal steps an octave unless given")
      ->type_name("FILE.scl");
  app.add_option("--kbm", mapPath,
                 "Scala keyboard map (.kbm): which key plays which degree, and the key and "
                 "frequency the tuning starts from; the standard map unless given")
      ->type_name("FILE.kbm");
  app.add_option("--midi", midiPath, "Standard MIDI File to play (required)")
      ->type_name("FILE.mid");
  app.add_option("--rate", rateText, "Sample rate in Hz, 22050 to 192000; 44100 unless given")
      ->type_name("HZ");
  app.add_option("--out", outPath, "WAV file to write, mono 32-bit float (required)")
      ->type_name("FILE.wav");
  app.add_option("--tail", tailText,
                 "Seconds after the file's last event, 0 to 3600; 2 unless given")
      ->type_name("SECONDS");
  // The player's settings as the registry has them.
  const Parameter& bend = parameter(kBendRangeIndex);
  const Parameter& sensitivity = parameter(kVelocityIndex);
  const auto span = [](const Parameter& p) {
    return std::to_string(p.minimum) + " to " + std::to_string(p.maximum);
  };
  int bendRange = bend.start;
  app.add_option("--bend-range", bendText,
                 std::string(bend.name) + ", " + rangeText(kBendRangeIndex) + "; " +
                     parameterToken(kBendRangeIndex, bend.start) + " unless given")
      ->type_name("SEMITONES");
  int velocity = sensitivity.start;
  app.add_option("--velocity", velocityText,
                 std::string(sensitivity.name) + ", " + rangeText(kVelocityIndex) + "; " +
                     parameterToken(kVelocityIndex, sensitivity.start) + " unless given")
      ->type_name("PERCENT");
  const Parameter& heard = parameter(kChannelIndex);
  const std::string channels =
      std::to_string(kEveryChannel + 1) + " to " + std::to_string(heard.maximum);
  std::string channel = parameterToken(kChannelIndex, heard.start);
  app.add_option("--channel", channel,
                 "MIDI channel heard, " + channels + " or \"all\"; " + channel + " unless given")
      ->type_name("N|all");
  const OptionTakes takes = {
      {"--patch", "a patch file (.vx)"},
      {"--sound", "the name or number of a factory bank sound (see --list-sounds)"},
      {"--midi", "the Standard MIDI File to play"},
      {"--out", "the WAV file to write"},
      {"--rate", "a sample rate in Hz from 22050 to 192000"},
      {"--tail", "seconds from 0 to 3600"},
      {"--bend-range",
       "a whole number of " + std::string(unitInfo(bend.unit).symbol) + " from " + span(bend)},
      {"--velocity", "a whole percentage from " + span(sensitivity)},
      {"--channel", "a MIDI channel from " + channels + ", or \"all\""},
      {"--set", "SYMBOL=VALUE, as \"cutoff=800\" (see --list-parameters)"},
      {"--scl", "a Scala scale file (.scl)"},
      {"--kbm", "a Scala keyboard map file (.kbm)"},
  };
  const auto usage = [](const std::string& line) {
    std::cerr << "ondelith-render: " << line << "\n";
    return kUsage;
  };
  if (const std::string m = firstWordMistake(app, takes, argc, argv); !m.empty()) return usage(m);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << "\n" << kLicenseLine << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    return usage(e.what());  // the words were looked at: not reached
  }
  const auto given = [&app](const char* option) { return app.get_option(option)->count() > 0; };
  // An empty value is a mistake, never a quiet default.
  for (const auto& [option, value] : {std::pair{"--patch", &patchPath},
                                      {"--sound", &soundWord},
                                      {"--midi", &midiPath},
                                      {"--out", &outPath},
                                      {"--scl", &scalePath},
                                      {"--kbm", &mapPath},
                                      {"--channel", &channel}})
    if (given(option) && value->empty()) return usage(badValue(option, "", takes.at(option)));
  const auto whole = [&](const char* option, const std::string& text, int minimum, int maximum,
                         int& out) {
    if (!given(option)) return true;
    const std::optional<int64_t> v = wholeNumber(text, minimum, maximum);
    if (v) out = static_cast<int>(*v);
    return v.has_value();
  };
  if (!whole("--rate", rateText, static_cast<int>(kMinSampleRate), static_cast<int>(kMaxSampleRate),
             rate))
    return usage(badValue("--rate", rateText, takes.at("--rate")));
  if (given("--tail")) {
    const std::optional<double> t = realNumber(tailText, 0, kMaxTailSeconds);
    if (!t) return usage(badValue("--tail", tailText, takes.at("--tail")));
    tail = *t;
  }
  if (!whole("--bend-range", bendText, bend.minimum, bend.maximum, bendRange))
    return usage(badValue("--bend-range", bendText, takes.at("--bend-range")));
  if (!whole("--velocity", velocityText, sensitivity.minimum, sensitivity.maximum, velocity))
    return usage(badValue("--velocity", velocityText, takes.at("--velocity")));
  if (channel != "all") {
    int n = 0;
    if (!whole("--channel", channel, kEveryChannel + 1, heard.maximum, n))
      return usage(badValue("--channel", channel, takes.at("--channel")));
    if (n) channel = std::to_string(n);
  }
  if (listOnly) {
    listSounds();
    return 0;
  }
  if (listParametersOnly) {
    std::cout << parameterList();
    return 0;
  }
  std::vector<ParameterValue> sets;
  const auto setMistake = [&usage](const std::string& word, const std::string& mistake) {
    return usage("--set \"" + word + "\": " + mistake);
  };
  for (const std::string& word : setWords) {
    ParameterValue v{};
    std::string mistake;
    if (!readParameterValue(word, v, mistake)) return setMistake(word, mistake);
    sets.push_back(v);
  }
  const BankSound* bankEntry = nullptr;
  if (given("--sound")) {
    if (given("--patch"))
      return usage("--sound and --patch both choose the sound to start from: give one");
    bankEntry = findBankSound(soundWord);
    if (!bankEntry) return usage(badValue("--sound", soundWord, takes.at("--sound")));
    // Old scripts keep working for a release, and say what to change.
    if (bankEntry == bankSoundFormerlyNamed(soundWord) && !bankSoundNamed(soundWord))
      std::cerr << "ondelith-render: note: the sound \"" << soundWord << "\" is now called \""
                << bankEntry->name << "\"; the old name goes in the next release\n";
  }
  for (const char* option : {"--midi", "--out"})
    if (!given(option))
      return usage(std::string(option) + " is missing: it takes " + takes.at(option));

  std::string reason;
  const std::optional<SampleRate> sampleRate = SampleRate::of(rate, &reason);
  if (!sampleRate) return failure("--rate", reason, kUsage);

  // The output is looked at before anything is read or rendered.
  if (!mayReplace(outPath, &reason)) return failure(outPath, reason, kUsage);
  if (sameFile(outPath, midiPath)) return failure(outPath, "is the --midi file", kUsage);
  for (const auto& [option, path] :
       {std::pair{"--patch", &patchPath}, {"--scl", &scalePath}, {"--kbm", &mapPath}})
    if (!path->empty() && sameFile(outPath, *path))
      return failure(outPath, std::string("is the ") + option + " file", kUsage);
  removeTemporaryFilesOnSignals();
  removeStaleTemporaryFiles(outPath);  // a killed render's, never a running one's

  try {
    auto engine = std::make_unique<Engine>(*sampleRate);
    Instrument instrument;
    instrument.attach(engine.get());
    instrument.setValue(kChannelIndex, channel == "all" ? kEveryChannel : std::stoi(channel));
    instrument.setValue(kBendRangeIndex, bendRange);
    instrument.setValue(kVelocityIndex, velocity);
    if (bankEntry) instrument.setSound(bankSound(*bankEntry));
    // The tuning is the player's: no patch carries one.
    Tuning tuning;
    for (const auto& [path, map] : {std::pair{&scalePath, false}, {&mapPath, true}})
      if (!path->empty() && !readTuningFile(*path, map, tuning, reason))
        return failure(*path, reason);
    KeyFrequencies keys{};
    if (!tuningKeys(tuning, keys, reason)) return failure(scalePath, reason);
    instrument.setKeys(keys);
    if (!patchPath.empty()) {
      Patch patch;
      if (!readPatchFile(patchPath, patch, &reason)) return failure(patchPath, reason);
      std::string unread;
      instrument.applyPatch(patch, &unread);
      if (!unread.empty()) std::cerr << "ondelith-render: " << patchPath << ": " << unread << "\n";
    }
    // In the order given: a range switch set first gives the rows it
    // switches their range.
    for (size_t k = 0; k < sets.size(); ++k) {
      const ParameterValue& v = sets[k];
      const int by = rangeSwitchOf(v.index);
      const std::string mistake =
          rangeMistake(v.index, v.value, by >= 0 ? instrument.value(by) : 0);
      if (!mistake.empty()) return setMistake(setWords[k], mistake);
      instrument.setValue(v.index, v.value);
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

    WavFile out;
    if (!out.open(outPath, rate, static_cast<uint64_t>(frames), reason))
      return failure(outPath, reason);
    // A program the bank has on the channel heard: its sound from that frame on.
    const int heard = engineChannel(instrument.value(kChannelIndex));
    tellUnheardNotes(midiPath, midi, heard);
    const auto program = [&](int64_t frame, uint32_t word) {
      if (const BankSound* s = bankSoundForProgram(programChangeOf(word, heard)))
        forEachSoundEvent(bankSound(*s), frame, true,
                          [&](const EngineEvent& e) { postRendering(*engine, e); });
    };
    // An oversampled voice's output lags by the decimator's delay: that
    // much more is played, and left off the front, so the file lines up
    // with the same notes at 1x.
    const int64_t lead = oversamplingDelayFrames(instrument.value(kOversamplingIndex));
    int64_t toSkip = lead;
    const auto write = [&](const float* samples, int64_t count) {
      const int64_t skipped = std::min(toSkip, count);
      toSkip -= skipped;
      return count == skipped || out.write(samples + skipped, count - skipped, reason);
    };
    const bool rendered = playMidi(*engine, midi.notes.data(), midi.notes.size(), frames + lead,
                                   kBlock, write, program);
    if (!rendered) {
      out.abandon();
      return failure(outPath, reason);
    }
    if (!out.commit(reason)) return failure(outPath, reason);
  } catch (const std::bad_alloc&) {
    // Only the MIDI file's contents grow with an input.
    return failure(midiPath, "too large to hold in memory");
  }
  return 0;
}
