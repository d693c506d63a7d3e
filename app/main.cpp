// Ondelith: a monophonic Bezier-waveform synthesizer.
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/app.h"
#include "app/file_menu.h"
#include "app/real_devices.h"
#include "platform/exit_file.h"

namespace {

void printNames(const char* title, const std::vector<std::string>& names) {
  std::cout << title << (names.empty() ? " none\n" : "\n");
  for (const std::string& name : names) std::cout << name << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  ondelith::CommandLine line;
  // A wrong command line ends here, before any window.
  if (const int status = ondelith::parseCommandLine(argc, argv, line, std::cout, std::cerr);
      status >= 0)
    return status;
  if (line.listDevices) {
    // No window and no sound: the names as --midi-in and --audio-out take them.
    printNames("MIDI inputs (--midi-in):", ondelith::listMidiInputNames());
    std::cout << "\n";
    printNames("Audio outputs (--audio-out):", ondelith::listAudioOutputs());
    return 0;
  }
  // The toolkit is given the program's name only: the options are ours.
  int toolkitArgc = 1;
  char* toolkitArgv[] = {argv[0], nullptr};
  ondelith::Toolkit toolkit(toolkitArgc, toolkitArgv);
  auto app = std::make_unique<ondelith::App>(toolkit);
  app->commandLine = line;
  ondelith::RealDevices devices(*app);
  app->devices = &devices;
  // A debug run times every cycle of the JACK client and writes what it saw
  // at the end.
  const char* timesPath = std::getenv("ONDELITH_CALLBACK_TIMES");
  std::unique_ptr<ondelith::CallbackTimes> times;
  if (timesPath && *timesPath) {
    times = std::make_unique<ondelith::CallbackTimes>();
    devices.timeCallbacks(times.get());
  }
  // Ended by a signal (a logout, kill), the program still keeps its sound.
  if (const std::string kept = ondelith::keptSoundPath(); !kept.empty())
    ondelith::writeFileOnEndingSignals(kept);
  const int status = ondelith::runApp(*app);
  if (times && !times->write(timesPath))
    std::cerr << "ondelith: cannot write " << timesPath << "\n";
  return status;
}
