#include "app/preferences.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace ondelith {

namespace {

int whole(const SettingsStore& store, const char* key, int minimum, int maximum, int fallback) {
  const std::optional<int64_t> v = store.integer(key);
  return v && *v >= minimum && *v <= maximum ? static_cast<int>(*v) : fallback;
}

// Port names one a line: JACK's names hold no line breaks.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  while (from < text.size()) {
    const size_t end = std::min(text.find('\n', from), text.size());
    if (end > from) out.push_back(text.substr(from, end - from));
    from = end + 1;
  }
  return out;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : "\n") + name;
  return text;
}

}  // namespace

Preferences loadPreferences(const SettingsStore& store) {
  Preferences p;
  p.midiDevice = store.text("midi/device").value_or("");
  p.audioDevice = store.text("audio/device").value_or("");
  p.audioHostApi = store.text("audio/hostApi").value_or("");
  p.latencyMs = whole(store, "audio/latencyMs", kMinLatencyMs, kMaxLatencyMs, kDefaultLatencyMs);
  if (store.text("midi/channel") == "all")
    p.midiChannel = kEveryChannel;
  else
    p.midiChannel = whole(store, "midi/channel", kEveryChannel + 1,
                          parameter(kChannelIndex).maximum, parameter(kChannelIndex).start);
  const auto setting = [&store](const char* key, int index) {
    const Parameter& entry = parameter(index);
    return whole(store, key, entry.minimum, entry.maximum, entry.start);
  };
  p.bendRange = setting("play/bendRange", kBendRangeIndex);
  p.velocitySensitivity = setting("play/velocitySensitivity", kVelocityIndex);
  p.a4Hz = setting("play/a4Hz", kA4Index);
  p.tuning = {store.text("tuning/scale").value_or(""), store.text("tuning/map").value_or("")};
  const std::optional<std::string> output = store.text("jack/output");
  const std::optional<std::string> midiIn = store.text("jack/midiIn");
  if (output || midiIn)
    p.jackConnections = JackConnections{lines(output.value_or("")), lines(midiIn.value_or(""))};
  return p;
}

bool storePreferences(SettingsStore& store, const Preferences& p, std::string* error) {
  store.set("midi/device", p.midiDevice);
  store.set("audio/device", p.audioDevice);
  store.set("audio/hostApi", p.audioHostApi);
  store.set("audio/latencyMs", int64_t{p.latencyMs});
  if (p.midiChannel == kEveryChannel)
    store.set("midi/channel", std::string("all"));
  else
    store.set("midi/channel", int64_t{p.midiChannel});
  store.set("play/bendRange", int64_t{p.bendRange});
  store.set("play/velocitySensitivity", int64_t{p.velocitySensitivity});
  store.set("play/a4Hz", int64_t{p.a4Hz});
  store.set("tuning/scale", p.tuning.scale);
  store.set("tuning/map", p.tuning.map);
  if (p.jackConnections) {
    store.set("jack/output", joined(p.jackConnections->output));
    store.set("jack/midiIn", joined(p.jackConnections->midiIn));
  }
  return store.save(error);
}

int chooseMidiEntry(const std::vector<std::string>& names, const std::string& remembered) {
  if (names.empty()) return -1;
  if (!remembered.empty()) {
    const auto it = std::find(names.begin(), names.end(), remembered);
    if (it != names.end()) return static_cast<int>(it - names.begin());
  }
  const auto isThrough = [](std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name.find("through") != std::string::npos;
  };
  for (size_t k = 0; k < names.size(); ++k)
    if (!isThrough(names[k])) return static_cast<int>(k);
  return 0;
}

int nearestLatencyChoice(double ms) {
  int best = kLatencyChoicesMs.back();
  for (int c : kLatencyChoicesMs)
    if (std::abs(c - ms) < std::abs(best - ms)) best = c;
  return best;
}

}  // namespace ondelith
