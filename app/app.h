#pragma once
// The synthesizer as a desktop program: start-up in its fixed order, the
// main window, the event loop with its dispatch, and shutdown.

#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/computer_keyboard.h"
#include "app/controls.h"
#include "app/preferences.h"
#include "app/sound_commands.h"
#include "app/synth.h"
#include "platform/settings_store.h"
#include "platform/toolkit.h"
#include "platform/tuning_file.h"

namespace ondelith {

// What start-up and the event loop need of the audio and MIDI devices.
class Devices {
 public:
  virtual ~Devices() = default;
  // Opens (does not start) the output on the device of that name and host
  // API if listed, else on the first that opens: 0, or the library's error
  // code. The engine runs at the rate opened from here on.
  virtual int startAudio(const std::string& name, const std::string& hostApi) = 0;
  virtual std::string audioErrorText(int code) = 0;
  virtual std::vector<std::string> audioDeviceNames() = 0;
  virtual std::vector<std::string> audioHostApis() = 0;
  virtual int currentAudioEntry() = 0;  // -1 with no stream
  virtual void startStream() = 0;
  virtual int switchAudio(int entry) = 0;  // 0, or the library's error code
  virtual bool refreshAudio() = 0;         // true when the list was built again
  // Once the window is up: the outputs start-up had no need to list; true
  // when the list grew.
  virtual bool completeAudioList() { return false; }
  virtual void setLatency(double seconds) = 0;
  virtual double outputLatency() = 0;  // the open stream's, seconds
  virtual void stopAudio(const std::function<void()>& waitOneMs) = 0;
  virtual int listMidiInputs(std::vector<std::string>& names) = 0;
  virtual void setMidiDeviceId(int id) = 0;
  virtual bool openMidiInput() = 0;
  virtual int openOwnMidiPort() = 0;  // how many back ends have it
  virtual bool switchMidi(int position, std::string& reason) = 0;
  // The program's own JACK ports, where there are such: what to connect
  // them to when they open (none known: the first start's choice), and what
  // they are connected to when that changed since the last look.
  virtual void setJackConnections(const std::optional<JackConnections>&) {}
  virtual std::optional<JackConnections> changedJackConnections() { return std::nullopt; }
  // Polled by the loop: the MIDI input's status field kept as the inputs
  // are, and the JACK server's going and coming back looked after (one try
  // a second); the notice to show when it went or came back.
  virtual std::optional<std::string> watchDevices(int64_t /*nowMs*/) { return std::nullopt; }
};

inline constexpr const char* kJackGoneNotice =
    "The JACK server has gone: Ondelith reconnects when it is back";
inline constexpr const char* kJackBackNotice = "The JACK server is back: Ondelith reconnected";

// The settings are written at most this often, and at exit.
constexpr int64_t kSettingsWriteIntervalMs = 1000;

struct App {
  explicit App(Toolkit& t) : tk(t) {}
  Toolkit& tk;
  Devices* devices = nullptr;  // set before start-up
  Synth synth;
  int window = 0;
  int quitRequested = 0;
  CommandLine commandLine;
  std::string settingsPath;  // empty: the user's own settings
  std::unique_ptr<SettingsStore> settings;
  Preferences prefs;
  std::string midiName;  // the MIDI input in use, "" for none
  int midiEntry = -1;    // its entry in the drop-down
  ComputerKeyboard keyboard;
  NoteStatus shownNoteStatus = NoteStatus::None;  // what the status bar shows
  std::vector<SoundChoice> choices;               // the Sounds menu's, as it was last made
  std::vector<TuningFile> tunings;                // the Tuning menu's files, likewise
  std::string shownTitle;
  SoundState keptForSignals;      // what a signal that ends the program would keep
  bool audioListPending = false;  // completeAudioList waits for the first loop pass
  // Why the settings' last write failed; empty when it did not. Told again
  // as the program ends.
  std::string settingsNotKept;
  bool settingsPending = false;  // changes not written yet
  int64_t settingsWrittenMs = -kSettingsWriteIntervalMs;
};

// How often the event loop looks at what the voice published (note status)
// and sends what the voice's queue had no room for.
constexpr int kVoicePollMs = 20;

// What the voice published, into the status bar: the note status when it
// changed; a Program Change's sound; the title and the sound a signal would
// keep, when they changed; a computer key's release whose wait for a repeat
// is over; and the JACK ports' connections, remembered when the player
// changed them.
void pollVoice(App& app);

constexpr int kCmdSettings = 5;  // "File" menu, "Settings..."
// "Edit" and "Sounds" menus; a Sounds menu choice is kCmdFirstChoice + its
// position in App::choices.
constexpr int kCmdUndo = 6;
constexpr int kCmdRedo = 7;
constexpr int kCmdPreviousSound = 8;
constexpr int kCmdNextSound = 9;
constexpr int kCmdStartUpSound = 10;
constexpr int kCmdSoundSettings = 11;  // "Edit" menu, "Sound settings..."
constexpr int kCmdFirstChoice = 1000;
// Shortcuts: with Ctrl held, no key of the computer keyboard plays a note.
inline constexpr const char* kUndoKeys = "Ctrl+Z";
inline constexpr const char* kRedoKeys = "Ctrl+Shift+Z";
inline constexpr const char* kPreviousSoundKeys = "Ctrl+PgUp";
inline constexpr const char* kNextSoundKeys = "Ctrl+PgDown";

// Exit statuses: start-up could not reach any sound, or the command line
// named something that is not there.
constexpr int kExitNoSound = 1;
constexpr int kExitUsage = 2;

// Start-up, everything up to a started stream: the records, the audio
// output, the window and its controls, the MIDI input, then the stream.
// False when the program must end at once; `status` is then its exit status.
bool startUp(App& app, int& status);
// Builds the main window's contents in their order (the window is open).
void buildMainWindow(App& app);
// The event loop, until the close box or Escape; then the sound is kept
// for the next start. What could not be kept (the sound, the settings) is
// told in a box the player must close: the next start has the last copy.
void runEventLoop(App& app);
// The sound in the window written for the next start, whole or not at all;
// false with why in `error`.
bool keepSound(App& app, std::string* error = nullptr);
// The Sounds menu made anew: the bank by category, the player's own sounds.
void fillSoundsMenu(App& app);
// Handles one event as the loop does.
void dispatch(App& app, const UiEvent& event);
// Shutdown: the stream stopped and the audio library closed.
void shutDown(App& app);
// All of it: the process's exit status.
int runApp(App& app);

void redrawDisplay(App& app);

// The Settings dialog: latency, MIDI channel, pitch bend range and
// velocity sensitivity; on OK the choices are kept and the stream reopened
// with the new latency.
void settingsCommand(App& app);

// The MIDI channel setting as the MIDI input reads it.
int midiChannelOf(int playerChannel);

}  // namespace ondelith
