// sound_bank_check: renders every sound of the factory bank through the
// renderer and checks that each is a well-formed patch, plays at an even
// level, stays finite and within full scale on every key from C2 to C6, and
// sounds unlike every other.
//
//   sound_bank_check RENDERER BANKLIST PHRASE.mid   check; exit 0, or 1 with a FAIL line
//   sound_bank_check --write-phrase FILE.mid         write the phrase the bank is heard with
//
// Stand-alone on purpose (libsndfile only): it reads the sounds as any other
// program would, so a fault shared by the renderer and the patch code cannot
// hide itself. Build: g++ -std=c++20 -O2 -o sound_bank_check
//   tests/sound_bank_check.cpp $(pkg-config --cflags --libs sndfile)
#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fft.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The level every sound must reach on the probe note, in dBFS.
constexpr double kPeakLowDb = -12.0;
constexpr double kPeakHighDb = -1.0;
// Below this RMS over the phrase (dBFS) a sound counts as silent.
constexpr double kSilentDb = -50.0;
// Two sounds closer than this (mean band-level difference in dB, see
// distance()) are too alike to be worth two program numbers. One control of
// a sound moved by a small step (Vol -20 %, F +15 %, Res +10, R x1.5, a point
// by 5 or 10) measures 0 to 1.4 dB from the sound it came from.
constexpr double kDistanceFloorDb = 2.5;
constexpr int kMinimumSounds = 32;
const std::array<std::string, 6> kCategories = {"bass",       "lead",         "pad",
                                                "pluck-keys", "sweep-motion", "effects"};
constexpr std::array<int, 2> kRates = {44100, 48000};

// The probe: A3 at full velocity, held two seconds.
constexpr int kProbeNote = 57;
constexpr double kProbeHoldSeconds = 2.0;
// Long enough for the slowest release the R slider allows.
constexpr double kProbeTail = 5.2;
constexpr double kPhraseTail = 1.5;
// The keyboard: every semitone from C2 to C6 at full velocity, each held as
// long as the probe and then given time to start its release.
constexpr int kLowestKey = 36, kHighestKey = 84;
constexpr double kKeyStep = 2.5;
// A sound whose peaks over the keyboard span more than this is listed, with
// its quietest key (a level any sound may have, for reasons of its own).
constexpr double kListedSpanDb = 18.0;

int failures = 0;
void fail(const std::string& what) {
  std::cout << "sound_bank_check: FAIL: " << what << "\n";
  ++failures;
}

// ---- MIDI files ---------------------------------------------------------

struct Note {
  int key;
  double start, end;  // seconds
};

void put32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}
void putVarLen(std::string& s, uint32_t v) {
  std::string bytes(1, static_cast<char>(v & 0x7F));
  while (v >>= 7) bytes.insert(bytes.begin(), static_cast<char>(0x80 | (v & 0x7F)));
  s += bytes;
}

// A format-0 file at 120 beats a minute, 480 ticks a beat (960 ticks a second).
std::string midiFile(const std::vector<Note>& notes) {
  struct Event {
    uint32_t tick;
    int order;  // a release before a press at the same tick
    uint8_t status, key, velocity;
  };
  std::vector<Event> events;
  const auto tick = [](double s) { return static_cast<uint32_t>(std::lround(s * 960)); };
  for (const Note& n : notes) {
    events.push_back({tick(n.start), 1, 0x90, static_cast<uint8_t>(n.key), 127});
    events.push_back({tick(n.end), 0, 0x80, static_cast<uint8_t>(n.key), 64});
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
  });
  std::string track;
  track += std::string("\x00\xFF\x51\x03\x07\xA1\x20", 7);  // tempo 500000 us a beat
  uint32_t now = 0;
  for (const Event& e : events) {
    putVarLen(track, e.tick - now);
    now = e.tick;
    track += static_cast<char>(e.status);
    track += static_cast<char>(e.key);
    track += static_cast<char>(e.velocity);
  }
  track += std::string("\x00\xFF\x2F\x00", 4);
  std::string file = "MThd";
  put32(file, 6);
  file += std::string("\x00\x00\x00\x01\x01\xE0", 6);  // format 0, one track, 480 ticks
  file += "MTrk";
  put32(file, static_cast<uint32_t>(track.size()));
  return file + track;
}

// Low, middle and high notes, short and held, legato steps and leaps: enough
// to hear a sound's attack, its wobble over time, its release and its range.
const std::vector<Note> kPhrase = {
    {45, 0.00, 0.45}, {52, 0.50, 0.95}, {57, 1.00, 2.60}, {64, 2.70, 2.90},
    {60, 3.00, 3.20}, {69, 3.30, 4.30}, {40, 4.40, 5.40},
};

bool writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out.flush());
}

// ---- The bank list and its patches --------------------------------------

struct Sound {
  int number;
  std::string category, name;
  fs::path file;
  std::string description, formerName;
};

// The file a sound's name gives: "Round Sub Bass" in bass is bass/round-sub-bass.vx.
std::string fileFor(const std::string& category, const std::string& name) {
  std::string file = category + "/";
  for (char c : name) file += c == ' ' ? '-' : static_cast<char>(std::tolower(c));
  return file + ".vx";
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

std::optional<std::vector<Sound>> readBankList(const fs::path& list) {
  std::ifstream in(list, std::ios::binary);
  if (!in) {
    fail(list.string() + ": cannot be read");
    return std::nullopt;
  }
  std::vector<Sound> sounds;
  std::set<std::string> names, paths;
  std::string line;
  int lineNo = 0, lastNumber = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    const std::string where = list.string() + ":" + std::to_string(lineNo) + ": ";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = splitTabs(line);
    if (f.size() != 5 && f.size() != 6) {
      fail(where + "expected number, category, name, path, description and former name");
      continue;
    }
    Sound s{std::atoi(f[0].c_str()),   f[1], f[2],
            list.parent_path() / f[3], f[4], f.size() == 6 ? f[5] : ""};
    if (std::to_string(s.number) != f[0] || s.number < 1 || s.number > 128)
      fail(where + "program number must be 1 to 128");
    if (s.number <= lastNumber) fail(where + "program numbers must rise");
    lastNumber = s.number;
    if (std::find(kCategories.begin(), kCategories.end(), s.category) == kCategories.end())
      fail(where + "unknown category " + s.category);
    if (!names.insert(s.name).second) fail(where + "name used twice: " + s.name);
    if (!s.formerName.empty() && !names.insert(s.formerName).second)
      fail(where + "former name used twice: " + s.formerName);
    if (!paths.insert(f[3]).second) fail(where + "file used twice: " + f[3]);
    if (f[3] != fileFor(s.category, s.name))
      fail(where + "file should be " + fileFor(s.category, s.name));
    // A menu's tip and a listing's line: a few words, on one line of the plugin's panel.
    if (s.description.size() < 10 || s.description.size() > 90)
      fail(where + "the description should take 10 to 90 bytes");
    sounds.push_back(s);
  }
  if (static_cast<int>(sounds.size()) < kMinimumSounds)
    fail(list.string() + ": " + std::to_string(sounds.size()) + " sounds, fewer than " +
         std::to_string(kMinimumSounds));
  for (const std::string& c : kCategories)
    if (std::none_of(sounds.begin(), sounds.end(), [&](const Sound& s) { return s.category == c; }))
      fail(list.string() + ": no sound in category " + c);
  return sounds;
}

struct Range {
  int low, high;
};

// Lines 57 to 81: the wobble spin boxes row by row (Mod%, Coarse, Fine),
// the four points, Vol, Duration (checked with its range), the range, A, D,
// S, R, F, Res.
constexpr std::array<Range, 25> kControlRanges = {{
    {-100, 100}, {0, 15},   {0, 99},     {-100, 100},  {0, 15}, {0, 99},   {-100, 100},
    {0, 15},     {0, 99},   {-100, 100}, {0, 15},      {0, 99}, {1, 99},   {0, 49},
    {1, 99},     {50, 99},  {0, 1500},   {100, 10000}, {1, 2},  {1, 2000}, {1, 5000},
    {0, 100},    {1, 5000}, {20, 5000},  {0, 100},
}};

// The curve editor's grid, and the room a dragged inner point keeps from the
// edges (the handle radius).
constexpr int kGridWidth = 160, kGridHeight = 70, kHandleRadius = 3;

// Checks the bytes against what Save writes: 81 canonical decimal lines
// ended by CR LF, every control within its range, and every curve point on
// a place of the editor's grid that a drag can reach and that the conversion
// to pixels and back returns unchanged.
bool checkPatch(const Sound& s) {
  const std::string where = s.file.string() + ": ";
  std::ifstream in(s.file, std::ios::binary);
  if (!in) {
    fail(where + "cannot be read");
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<long> v;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      fail(where + "the last line does not end with CR LF");
      return false;
    }
    const std::string text = bytes.substr(at, end - at);
    char* stop = nullptr;
    const long value = std::strtol(text.c_str(), &stop, 10);
    if (text.empty() || *stop != '\0' || std::to_string(value) != text) {
      fail(where + "line " + std::to_string(v.size() + 1) + " is not a plain decimal: " + text);
      return false;
    }
    v.push_back(value);
    at = end + 2;
  }
  if (v.size() != 81) {
    fail(where + std::to_string(v.size()) + " lines, not 81");
    return false;
  }
  bool ok = true;
  for (size_t i = 0; i < kControlRanges.size(); ++i)
    if (v[56 + i] < kControlRanges[i].low || v[56 + i] > kControlRanges[i].high) {
      fail(where + "line " + std::to_string(57 + i) + " out of its control's range");
      ok = false;
    }
  const long duration = v[73], range = v[74];
  if ((range == 1 && duration > 1000) || (range == 2 && duration < 1000)) {
    fail(where + "Duration outside its range's slider");
    ok = false;
  }
  // The curves count in samples at 44100 Hz over the Duration, and in percent.
  const double rangeX = static_cast<float>(std::nearbyint(duration / 1000.0 * 44100.0) - 1);
  const double rangeY = 100;
  for (int block = 0; block < 4; ++block) {
    const long* c = &v[static_cast<size_t>(block * 14)];
    int previousX = 0;
    for (int k = 0; k < 14; ++k) {
      const bool isX = k % 2 == 1 && k < 13;
      const std::string at =
          where + "curve " + std::to_string(block + 1) + " value " + std::to_string(k + 1) + ": ";
      if (isX) {
        const auto pixel = static_cast<long>(std::nearbyint(c[k] / rangeX * kGridWidth));
        const auto back = static_cast<long>(std::nearbyint(rangeX * pixel / kGridWidth));
        if (back != c[k]) ok = false, fail(at + "x is not on the editor's grid");
        if (pixel < kHandleRadius || pixel > kGridWidth - kHandleRadius)
          ok = false, fail(at + "x is where no drag can put it");
        if (pixel < previousX) ok = false, fail(at + "x lies left of the point before it");
        previousX = static_cast<int>(pixel);
      } else {
        const auto pixel =
            static_cast<long>(std::nearbyint(kGridHeight - c[k] / rangeY * kGridHeight));
        const auto back = static_cast<long>(std::nearbyint(rangeY - rangeY * pixel / kGridHeight));
        if (back != c[k]) ok = false, fail(at + "y is not on the editor's grid");
        if (pixel < 0 || pixel >= kGridHeight) ok = false, fail(at + "y is off the editor");
      }
    }
  }
  return ok;
}

// ---- Rendering and measuring --------------------------------------------

bool render(const std::string& renderer, const fs::path& patch, const fs::path& midi, int rate,
            double tail, const fs::path& out, const fs::path& log) {
  const std::vector<std::string> args = {renderer,
                                         "--patch",
                                         patch.string(),
                                         "--midi",
                                         midi.string(),
                                         "--rate",
                                         std::to_string(rate),
                                         "--tail",
                                         std::to_string(tail),
                                         "--out",
                                         out.string()};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, renderer.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    fail(renderer + ": cannot be started");
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  std::ifstream err(log);
  std::string message;
  std::getline(err, message);
  fail(patch.filename().string() + " at " + std::to_string(rate) +
       " Hz: the renderer failed: " + message);
  return false;
}

std::optional<std::vector<float>> readWav(const fs::path& path, int rate) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    fail(path.string() + ": " + sf_strerror(nullptr));
    return std::nullopt;
  }
  std::vector<float> samples(static_cast<size_t>(info.frames));
  const sf_count_t got = sf_readf_float(f, samples.data(), info.frames);
  sf_close(f);
  if (info.channels != 1 || info.samplerate != rate || got != info.frames || got == 0) {
    fail(path.string() + ": not the mono WAV at " + std::to_string(rate) + " Hz expected");
    return std::nullopt;
  }
  return samples;
}

double toDb(double level) { return 20 * std::log10(std::max(level, 1e-12)); }

// Finite and within full scale; the peak, or nothing when a sample is bad.
std::optional<double> checkSamples(const std::vector<float>& s, const std::string& what) {
  double peak = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (!std::isfinite(s[i]) || std::fabs(s[i]) > 1.0f) {
      std::ostringstream m;
      m << what << ": sample " << i << " is " << s[i] << ", not finite within +-1";
      fail(m.str());
      return std::nullopt;
    }
    peak = std::max(peak, static_cast<double>(std::fabs(s[i])));
  }
  return peak;
}

double rmsDb(const std::vector<float>& s) {
  double sum = 0;
  for (float x : s) sum += static_cast<double>(x) * x;
  return toDb(std::sqrt(sum / static_cast<double>(s.size())));
}

using ondelith::test::fft;

// A sound's fingerprint over the phrase: for each frame (4096 samples, half
// overlapping, Hann window), the level in sixth-octave bands from 40 Hz to
// 10 kHz in dB, relative to the whole phrase's RMS (so loudness alone sets
// no two sounds apart) and floored 60 dB below it (so hiss-level detail and
// silence count alike).
using Fingerprint = std::vector<std::vector<double>>;
constexpr double kBandFloorDb = -60;

Fingerprint fingerprint(const std::vector<float>& s, int rate) {
  constexpr size_t kFrame = 4096, kHop = 2048;
  std::vector<double> edges;
  for (double f = 40; f < 10000; f *= std::pow(2.0, 1.0 / 6)) edges.push_back(f);
  const double binHz = static_cast<double>(rate) / kFrame;
  const double reference = std::pow(10.0, rmsDb(s) / 10) * kFrame * kFrame / 8;
  Fingerprint frames;
  std::vector<std::complex<double>> buffer(kFrame);
  for (size_t start = 0; start + kFrame <= s.size(); start += kHop) {
    for (size_t i = 0; i < kFrame; ++i) {
      const double window = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / kFrame);
      buffer[i] = s[start + i] * window;
    }
    fft(buffer);
    std::vector<double> bands;
    for (size_t b = 0; b + 1 < edges.size(); ++b) {
      const auto first = static_cast<size_t>(std::ceil(edges[b] / binHz));
      const auto last = std::max(first, static_cast<size_t>(std::floor(edges[b + 1] / binHz)));
      double power = 0;
      for (size_t k = first; k <= last; ++k) power += std::norm(buffer[k]);
      power /= static_cast<double>(last - first + 1);
      bands.push_back(std::max(kBandFloorDb, 10 * std::log10(std::max(power, 1e-30) / reference)));
    }
    frames.push_back(std::move(bands));
  }
  return frames;
}

// Mean absolute band-level difference in dB over the frames and bands where
// either sound is heard at all: the spectra and their course in time compared
// together, not diluted by the bands both leave empty.
double distance(const Fingerprint& a, const Fingerprint& b) {
  double sum = 0;
  size_t count = 0;
  for (size_t f = 0; f < std::min(a.size(), b.size()); ++f)
    for (size_t k = 0; k < a[f].size(); ++k) {
      if (a[f][k] <= kBandFloorDb && b[f][k] <= kBandFloorDb) continue;
      sum += std::fabs(a[f][k] - b[f][k]);
      ++count;
    }
  return count ? sum / static_cast<double>(count) : 0;
}

struct Heard {
  double peakDb[2] = {0, 0};
  Fingerprint print[2];
  bool ok = true;
  // Over the keyboard, at both rates: the loudest and quietest keys' peaks.
  double keyHighDb = -1000, keyLowDb = 1000;
  int keyHigh = 0, keyLow = 0;
};

std::vector<Note> keyboard() {
  std::vector<Note> notes;
  for (int key = kLowestKey; key <= kHighestKey; ++key) {
    const double start = (key - kLowestKey) * kKeyStep;
    notes.push_back({key, start, start + kProbeHoldSeconds});
  }
  return notes;
}

// Each key's peak, from its note-on to the next key's.
void measureKeys(const std::vector<float>& s, int rate, Heard& h) {
  for (int key = kLowestKey; key <= kHighestKey; ++key) {
    const auto at = [&](int k) {
      return std::min(s.size(),
                      static_cast<size_t>(std::lround((k - kLowestKey) * kKeyStep * rate)));
    };
    const size_t end = key == kHighestKey ? s.size() : at(key + 1);
    float peak = 0;
    for (size_t i = at(key); i < end; ++i) peak = std::max(peak, std::fabs(s[i]));
    const double db = toDb(peak);
    if (db > h.keyHighDb) h.keyHighDb = db, h.keyHigh = key;
    if (db < h.keyLowDb) h.keyLowDb = db, h.keyLow = key;
  }
}

std::string keyName(int key) {
  static const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  return names[key % 12] + std::to_string(key / 12 - 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-phrase") {
    if (writeFile(argv[2], midiFile(kPhrase))) return 0;
    std::cerr << "sound_bank_check: " << argv[2] << ": cannot be written\n";
    return 1;
  }
  if (argc != 4) {
    std::cerr << "usage: sound_bank_check RENDERER BANKLIST PHRASE.mid\n"
                 "       sound_bank_check --write-phrase FILE.mid\n";
    return 2;
  }
  const std::string renderer = argv[1];
  const fs::path list = argv[2], phrase = argv[3];
  if (access(renderer.c_str(), X_OK) != 0) {
    fail(renderer + ": not a program that can be run");
    return 1;
  }
  if (!fs::is_regular_file(phrase)) {
    fail(phrase.string() + ": no such file");
    return 1;
  }
  const std::optional<std::vector<Sound>> bank = readBankList(list);
  if (!bank) return 1;

  std::string pattern = (fs::temp_directory_path() / "sound_bank_check.XXXXXX").string();
  const char* dir = mkdtemp(pattern.data());
  if (!dir) {
    fail("cannot make a temporary folder");
    return 1;
  }
  const fs::path work = dir;
  const fs::path probe = work / "probe.mid";
  writeFile(probe, midiFile({{kProbeNote, 0, kProbeHoldSeconds}}));
  const fs::path keys = work / "keyboard.mid";
  writeFile(keys, midiFile(keyboard()));

  std::vector<Heard> heard(bank->size());
  for (size_t i = 0; i < bank->size(); ++i) {
    const Sound& s = (*bank)[i];
    Heard& h = heard[i];
    if (!checkPatch(s)) {
      h.ok = false;
      continue;
    }
    for (size_t r = 0; r < kRates.size() && h.ok; ++r) {
      const int rate = kRates[r];
      const std::string what = s.name + " at " + std::to_string(rate) + " Hz";
      const fs::path wav = work / "out.wav", log = work / "stderr.txt";
      std::optional<std::vector<float>> probeSamples, phraseSamples, keySamples;
      if (render(renderer, s.file, probe, rate, kProbeTail, wav, log))
        probeSamples = readWav(wav, rate);
      if (probeSamples && render(renderer, s.file, phrase, rate, kPhraseTail, wav, log))
        phraseSamples = readWav(wav, rate);
      if (phraseSamples && render(renderer, s.file, keys, rate, kPhraseTail, wav, log))
        keySamples = readWav(wav, rate);
      if (!keySamples) {
        h.ok = false;
        break;
      }
      const std::optional<double> peak = checkSamples(*probeSamples, what + ", A3");
      const std::optional<double> phrasePeak = checkSamples(*phraseSamples, what + ", phrase");
      const std::optional<double> keysPeak = checkSamples(*keySamples, what + ", C2 to C6");
      if (!peak || !phrasePeak || !keysPeak) {
        h.ok = false;
        break;
      }
      measureKeys(*keySamples, rate, h);
      h.peakDb[r] = toDb(*peak);
      if (h.peakDb[r] < kPeakLowDb || h.peakDb[r] > kPeakHighDb) {
        std::ostringstream m;
        m.precision(3);
        m << what << ": A3 peaks at " << h.peakDb[r] << " dBFS, outside " << kPeakLowDb << " to "
          << kPeakHighDb;
        fail(m.str());
      }
      if (rmsDb(*phraseSamples) < kSilentDb) fail(what + ": the phrase is silent");
      h.print[r] = fingerprint(*phraseSamples, rate);
    }
  }
  fs::remove_all(work);

  // No key peaks above the ceiling; sounds with a wide span are listed.
  for (size_t i = 0; i < bank->size(); ++i) {
    const Heard& h = heard[i];
    if (!h.ok) continue;
    std::ostringstream m;
    m.precision(3);
    if (h.keyHighDb > kPeakHighDb) {
      m << (*bank)[i].name << ": " << keyName(h.keyHigh) << " peaks at " << h.keyHighDb
        << " dBFS, above " << kPeakHighDb;
      fail(m.str());
    } else if (h.keyHighDb - h.keyLowDb > kListedSpanDb) {
      m << (*bank)[i].name << ": spans " << h.keyHighDb - h.keyLowDb << " dB over C2 to C6, "
        << h.keyLowDb << " dBFS on " << keyName(h.keyLow) << ", " << h.keyHighDb << " on "
        << keyName(h.keyHigh);
      std::cout << "sound_bank_check: wide span: " << m.str() << "\n";
    }
  }

  // Two sounds are as close as they come at either rate.
  const size_t n = bank->size();
  std::vector<std::vector<double>> d(n, std::vector<double>(n, 1e9));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j) {
      if (!heard[i].ok || !heard[j].ok) continue;
      for (size_t r = 0; r < kRates.size(); ++r)
        d[i][j] = std::min(d[i][j], distance(heard[i].print[r], heard[j].print[r]));
      d[j][i] = d[i][j];
      if (d[i][j] < kDistanceFloorDb) {
        std::ostringstream m;
        m.precision(3);
        m << (*bank)[i].name << " and " << (*bank)[j].name << " are too alike: distance " << d[i][j]
          << " dB, floor " << kDistanceFloorDb;
        fail(m.str());
      }
    }
  double closest = 1e9;
  std::string closestPair;
  std::printf("%-4s %-13s %-17s %9s %9s %9s %9s  %s\n", "no.", "category", "name", "dB@44.1k",
              "dB@48k", "keys max", "keys min", "nearest, distance dB");
  for (size_t i = 0; i < n; ++i) {
    const size_t j = static_cast<size_t>(std::min_element(d[i].begin(), d[i].end()) - d[i].begin());
    const Sound& s = (*bank)[i];
    std::printf("%-4d %-13s %-17s %9.2f %9.2f %9.2f %9.2f  %s %.2f\n", s.number, s.category.c_str(),
                s.name.c_str(), heard[i].peakDb[0], heard[i].peakDb[1], heard[i].keyHighDb,
                heard[i].keyLowDb, (*bank)[j].name.c_str(), d[i][j]);
    if (d[i][j] < closest) closest = d[i][j], closestPair = s.name + " and " + (*bank)[j].name;
  }
  if (failures) {
    std::cout << "sound_bank_check: " << failures << " failure(s)\n";
    return 1;
  }
  std::printf("sound_bank_check: %zu sounds OK; smallest distance %.2f dB (%s), floor %.1f dB\n",
              bank->size(), closest, closestPair.c_str(), kDistanceFloorDb);
  return 0;
}
