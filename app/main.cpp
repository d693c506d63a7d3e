// Ondelith: a monophonic Bezier-waveform synthesizer. It reads no command
// line; the toolkit is given the program's name only.
#include <memory>

#include "app/app.h"
#include "app/real_devices.h"

int main(int, char** argv) {
  int toolkitArgc = 1;
  char* toolkitArgv[] = {argv[0], nullptr};
  ondelith::Toolkit toolkit(toolkitArgc, toolkitArgv);
  auto app = std::make_unique<ondelith::App>(toolkit);
  ondelith::RealDevices devices(*app);
  app->devices = &devices;
  return ondelith::runApp(*app);
}
