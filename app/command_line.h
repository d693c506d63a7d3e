#pragma once
// The program's command line.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "instrument/registry.h"

namespace ondelith {

struct CommandLine {
  std::string patch;     // a .vx file opened at start-up (--patch, or the one word)
  std::string midiIn;    // a MIDI input by name
  std::string audioOut;  // an audio output by name
  std::optional<double> latencyMs;
  bool listDevices = false;  // print the names --midi-in and --audio-out take, and end
  // --set SYMBOL=VALUE, in the order given, with the words as given.
  std::vector<ParameterValue> settings;
  std::vector<std::string> settingWords;
};

// Reads argv. -1: go on; otherwise the process ends with that status, after
// the help or version text on `out`, or one line on `err` for a wrong option
// or value (status 2).
int parseCommandLine(int argc, char** argv, CommandLine& line, std::ostream& out,
                     std::ostream& err);

}  // namespace ondelith
