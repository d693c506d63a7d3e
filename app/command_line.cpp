#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include "app/preferences.h"
#include "ondelith_version.h"
#include "platform/option_words.h"

namespace ondelith {

int parseCommandLine(int argc, char** argv, CommandLine& line, std::ostream& out,
                     std::ostream& err) {
  CLI::App app{"Ondelith, a monophonic Bezier-waveform synthesizer."};
  app.name("ondelith");
  app.set_version_flag("--version", "ondelith " + std::string(kVersion));
  // Every value is taken as a word and checked here, in the program's words.
  std::string file, latency;
  app.add_option("--patch", line.patch, "Patch to open at start-up (.vx)")->type_name("FILE.vx");
  app.add_option("file", file, "Patch to open at start-up, as --patch does")->type_name("FILE.vx");
  app.add_option("--midi-in", line.midiIn, "MIDI input to play from, by name")->type_name("NAME");
  app.add_option("--audio-out", line.audioOut, "Audio output to play through, by name")
      ->type_name("NAME");
  CLI::Option* latencyOption =
      app.add_option("--latency", latency, "Output latency in milliseconds, 3 to 75")
          ->type_name("MS");
  app.add_flag("--list-devices", line.listDevices,
               "Print the names --midi-in and --audio-out take, one a line, and end");
  app.add_option("--set", line.settingWords,
                 "Sets a parameter by its symbol, in the units the window shows, after the patch; "
                 "may be given again (see --list-parameters)")
      ->type_name("SYMBOL=VALUE")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  bool listParameters = false;
  app.add_flag("--list-parameters", listParameters,
               "Print every parameter --set takes, one a line: symbol, range, default, name; and "
               "end");
  const std::string latencyTakes =
      "milliseconds from " + std::to_string(kMinLatencyMs) + " to " + std::to_string(kMaxLatencyMs);
  const OptionTakes takes = {
      {"--patch", "a patch file (.vx)"},
      {"--midi-in", "the name of a MIDI input (see --list-devices)"},
      {"--audio-out", "the name of an audio output (see --list-devices)"},
      {"--latency", latencyTakes},
      {"--set", "SYMBOL=VALUE, as \"cutoff=800\" (see --list-parameters)"},
  };
  const auto mistake = [&err](const std::string& what) {
    err << "ondelith: " << what << "\n";
    return 2;
  };
  if (const std::string m = firstWordMistake(app, takes, argc, argv); !m.empty()) return mistake(m);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {  // --help, --version
      if (dynamic_cast<const CLI::CallForVersion*>(&e))
        out << e.what() << "\n" << kLicenseLine << "\n";
      else
        out << app.help();
      return 0;
    }
    return mistake(e.what());  // the words were looked at: not reached
  }
  // An empty value is a mistake, never a quiet default.
  for (const auto& [option, value] : {std::pair{"--patch", &line.patch},
                                      {"--midi-in", &line.midiIn},
                                      {"--audio-out", &line.audioOut}})
    if (app.get_option(option)->count() > 0 && value->empty())
      return mistake(badValue(option, "", takes.at(option)));
  if (!file.empty() && !line.patch.empty())
    return mistake("two patches to open, \"" + file + "\" and --patch \"" + line.patch +
                   "\": give one");
  if (app.get_option("file")->count() > 0 && file.empty())
    return mistake(badValue("FILE.vx", "", "a patch file (.vx)"));
  // Nothing is opened when the devices are listed: a word beside it is a mistake.
  if (line.listDevices && (!file.empty() || !line.patch.empty()))
    return mistake("--list-devices lists and ends: \"" + (file.empty() ? line.patch : file) +
                   "\" is not used (give --list-devices alone)");
  if (!file.empty()) line.patch = file;
  if (listParameters) {
    out << parameterList();
    return 0;
  }
  for (const std::string& word : line.settingWords) {
    ParameterValue v{};
    std::string m;
    if (!readParameterValue(word, v, m)) return mistake("--set \"" + word + "\": " + m);
    line.settings.push_back(v);
  }
  if (latencyOption->count() > 0) {
    line.latencyMs = realNumber(latency, kMinLatencyMs, kMaxLatencyMs);
    if (!line.latencyMs) return mistake(badValue("--latency", latency, latencyTakes));
  }
  return -1;
}

}  // namespace ondelith
