#pragma once
// What the program remembers between runs: the devices chosen, the latency
// and the MIDI channel. Values that are missing, out of range or of the
// wrong type read as their defaults.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "instrument/registry.h"
#include "instrument/tuning.h"
#include "platform/settings_store.h"

namespace ondelith {

// The latencies offered, in milliseconds, given to the audio library as
// its suggested latency; the last is the one used before any choice.
inline constexpr std::array<int, 6> kLatencyChoicesMs = {3, 6, 12, 25, 50, 75};
constexpr int kMinLatencyMs = 3;
constexpr int kMaxLatencyMs = 75;
constexpr int kDefaultLatencyMs = 75;

// What the program's own JACK ports are connected to, by full port name.
struct JackConnections {
  std::vector<std::string> output, midiIn;
  bool operator==(const JackConnections&) const = default;
};

struct Preferences {
  std::string midiDevice;                 // by name
  std::string audioDevice, audioHostApi;  // by name and host API
  int latencyMs = kDefaultLatencyMs;      // kMinLatencyMs to kMaxLatencyMs
  // The player's settings, as the registry gives their ranges and defaults.
  int midiChannel = parameter(kChannelIndex).start;           // 1 to 16, or kEveryChannel
  int bendRange = parameter(kBendRangeIndex).start;           // semitones
  int velocitySensitivity = parameter(kVelocityIndex).start;  // percent: off unless chosen
  int a4Hz = parameter(kA4Index).start;
  Tuning tuning;  // the files' texts, never their paths: it stays when a file goes
  // As the player left them; none before the JACK client first opened.
  std::optional<JackConnections> jackConnections;
};

Preferences loadPreferences(const SettingsStore& store);
// Written at once; false, with why in `error` (empty for a file the store
// was told to leave alone), when the file could not be written.
bool storePreferences(SettingsStore& store, const Preferences& prefs, std::string* error = nullptr);

// The MIDI entry to start with: the remembered name where it is listed;
// else entry 0, unless that is a through port (which only echoes what other
// programs send it) and another port exists. -1 for an empty list.
int chooseMidiEntry(const std::vector<std::string>& names, const std::string& remembered);

// The offered latency nearest to `ms`.
int nearestLatencyChoice(double ms);

}  // namespace ondelith
