// The least a program like ours can do before its window is up: a Qt window
// of the same size with the same menu bar, as many controls of each kind and
// a status bar; a JACK client with an audio out and a MIDI in (or a
// PortAudio output when no JACK server runs); the sequencer's MIDI port when
// there is a sequencer. bench/startup.sh times start-up against it.
#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {

int silence(jack_nframes_t frames, void* port) {
  auto* out = static_cast<float*>(jack_port_get_buffer(static_cast<jack_port_t*>(port), frames));
  std::fill(out, out + frames, 0.0f);
  return 0;
}

int paSilence(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
              PaStreamCallbackFlags, void*) {
  std::fill(static_cast<float*>(output), static_cast<float*>(output) + frames, 0.0f);
  return paContinue;
}

struct Audio {
  jack_client_t* jack = nullptr;
  PaStream* stream = nullptr;

  void open() {
    jack_status_t status{};
    jack = jack_client_open("Ondelith floor", JackNoStartServer, &status);
    if (jack) {
      jack_port_t* out =
          jack_port_register(jack, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
      jack_port_register(jack, "MIDI In", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
      jack_set_process_callback(jack, silence, out);
      jack_activate(jack);
      const char** playback = jack_get_ports(jack, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                             JackPortIsPhysical | JackPortIsInput);
      for (int i = 0; playback && playback[i] && i < 2; ++i)
        jack_connect(jack, jack_port_name(out), playback[i]);
      if (playback) jack_free(playback);
      return;
    }
    if (Pa_Initialize() != paNoError) return;
    Pa_OpenDefaultStream(&stream, 0, 1, paFloat32, 44100, paFramesPerBufferUnspecified, paSilence,
                         nullptr);
    if (stream) Pa_StartStream(stream);
  }
  ~Audio() {
    if (jack) jack_client_close(jack);
    if (stream) Pa_CloseStream(stream);
    if (stream || !jack) Pa_Terminate();
  }
};

std::unique_ptr<RtMidiIn> ownMidiPort() {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) return nullptr;
  snd_seq_close(seq);
  try {
    auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, "Ondelith floor");
    in->openVirtualPort("MIDI In");
    return in;
  } catch (...) {
    return nullptr;
  }
}

// As many of each kind as the program's window holds, in a grid of its size.
constexpr int kWidth = 535, kHeight = 590;
constexpr int kSliders = 12, kSpinBoxes = 13, kDropDowns = 2, kLabels = 26, kFrames = 2,
              kCurveEditors = 4;

void addControls(QWidget* client) {
  int at = 0;
  const auto place = [&at](QWidget* w, int width, int height) {
    w->setGeometry(10 + (at % 8) * 65, 10 + (at / 8) * 70, width, height);
    ++at;
  };
  for (int i = 0; i < kSliders; ++i) {
    auto* slider = new QSlider(i < 6 ? Qt::Vertical : Qt::Horizontal, client);
    slider->setRange(0, 1000);
    slider->setValue(500);
    place(slider, i < 6 ? 20 : 60, i < 6 ? 60 : 20);
  }
  for (int i = 0; i < kSpinBoxes; ++i) {
    auto* spin = new QSpinBox(client);
    spin->setRange(0, 100);
    place(spin, 60, 20);
  }
  for (int i = 0; i < kDropDowns; ++i) place(new QComboBox(client), 60, 20);
  for (int i = 0; i < kLabels; ++i) place(new QLabel("Label", client), 60, 16);
  for (int i = 0; i < kFrames; ++i) place(new QGroupBox("Frame", client), 60, 60);
  for (int i = 0; i < 1 + kCurveEditors; ++i) {  // the waveform display and the curve editors
    auto* canvas = new QFrame(client);
    canvas->setFrameStyle(QFrame::Box);
    place(canvas, 60, 60);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  Audio audio;
  audio.open();
  QMainWindow window;
  window.setWindowTitle("Floor");
  QMenuBar* bar = window.menuBar();
  QMenu* file = bar->addMenu("File");
  file->addAction("Open");
  file->addAction("Save");
  file->addAction("Settings...");
  QMenu* edit = bar->addMenu("Edit");
  edit->addAction("Undo");
  edit->addAction("Redo");
  QMenu* sounds = bar->addMenu("Sounds");
  sounds->addAction("Previous sound");
  sounds->addAction("Next sound");
  QMenu* help = bar->addMenu("?");
  help->addAction("About");
  help->addAction("Help");
  auto* client = new QWidget(&window);
  client->setFixedSize(kWidth, kHeight);
  addControls(client);
  window.setCentralWidget(client);
  for (int i = 0; i < 4; ++i) window.statusBar()->addWidget(new QLabel(&window));
  window.show();
  std::unique_ptr<RtMidiIn> midi = ownMidiPort();
  return qt.exec();
}
