#include "app/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "app/preferences.h"

namespace ondelith {

int parseCommandLine(int argc, char** argv, CommandLine& line, std::ostream& out,
                     std::ostream& err) {
  CLI::App app{"Ondelith, a monophonic Bezier-waveform synthesizer."};
  app.name("ondelith");
  app.set_version_flag("--version", "ondelith " ONDELITH_VERSION);
  // An empty value is a mistake, never a quiet default.
  const CLI::Validator notEmpty(
      [](const std::string& v) { return v.empty() ? std::string("empty value") : std::string(); },
      "");
  double latency = 0;
  app.add_option("--patch", line.patch, "Patch to open at start-up (.vx)")->check(notEmpty);
  app.add_option("--midi-in", line.midiIn, "MIDI input to play from, by name")->check(notEmpty);
  app.add_option("--audio-out", line.audioOut, "Audio output to play through, by name")
      ->check(notEmpty);
  CLI::Option* latencyOption =
      app.add_option("--latency", latency, "Output latency in milliseconds, 3 to 75")
          ->check(CLI::Range(double{kMinLatencyMs}, double{kMaxLatencyMs}));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {  // --help, --version
      out << (dynamic_cast<const CLI::CallForVersion*>(&e) ? std::string(e.what()) + "\n"
                                                           : app.help());
      return 0;
    }
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    err << "ondelith: " << message << " (see --help)\n";
    return 2;
  }
  if (latencyOption->count() > 0) line.latencyMs = latency;
  return -1;
}

}  // namespace ondelith
