#pragma once
// The synthesizer as a desktop program: start-up in its fixed order, the
// main window, the event loop with its dispatch, and shutdown.

#include <functional>
#include <string>
#include <vector>

#include "app/synth.h"
#include "platform/toolkit.h"

namespace ondelith {

// What start-up and the event loop need of the audio and MIDI devices.
class Devices {
 public:
  virtual ~Devices() = default;
  virtual int startAudio() = 0;  // 0, or the audio library's error code
  virtual std::string audioErrorText(int code) = 0;
  virtual std::vector<std::string> audioDeviceNames() = 0;
  virtual void startStream() = 0;
  virtual void switchAudio(int entry) = 0;
  virtual void stopAudio(const std::function<void()>& waitOneMs) = 0;
  virtual int listMidiInputs(std::vector<std::string>& names) = 0;
  virtual void setMidiDeviceId(int id) = 0;
  virtual void openMidiInput() = 0;
  virtual void switchMidi(int position) = 0;
};

struct App {
  explicit App(Toolkit& t) : tk(t) {}
  Toolkit& tk;
  Devices* devices = nullptr;  // set before start-up
  Synth synth;
  int window = 0;
  int quitRequested = 0;
};

constexpr int kClientWidth = 535;
constexpr int kClientHeight = 590;

// Start-up, everything up to a started stream: the records, the audio
// output, the window and its controls, the MIDI input, then the stream.
// False when the program must end at once; `status` is then its exit status.
bool startUp(App& app, int& status);
// Builds the main window's contents in their order (the window is open).
void buildMainWindow(App& app);
// The event loop, until the close box or Escape.
void runEventLoop(App& app);
// Handles one event as the loop does.
void dispatch(App& app, const UiEvent& event);
// Shutdown: the stream stopped and the audio library closed.
void shutDown(App& app);
// All of it: the process's exit status.
int runApp(App& app);

void redrawDisplay(App& app);

}  // namespace ondelith
