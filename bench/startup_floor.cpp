// The least a program like ours can do before its window is up: a Qt window
// with the same menu bar, controls and status bar, a JACK client with an
// audio out and a MIDI in (or a PortAudio output when no JACK server runs),
// and the sequencer's MIDI port when there is a sequencer. Start-up is timed
// against it by bench/startup.sh.
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

#include "app/app.h"
#include "app/controls.h"

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
      const char** playback =
          jack_get_ports(jack, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
      for (int i = 0; playback && playback[i] && i < 2; ++i)
        jack_connect(jack, jack_port_name(out), playback[i]);
      if (playback) jack_free(playback);
      return;
    }
    if (Pa_Initialize() != paNoError) return;
    Pa_OpenDefaultStream(&stream, 0, 1, paFloat32, ondelith::kDefaultSampleRate,
                         paFramesPerBufferUnspecified, paSilence, nullptr);
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

void addControl(QWidget* parent, const ondelith::ControlInfo& s) {
  using ondelith::ControlKind;
  QWidget* w = nullptr;
  switch (s.kind) {
    case ControlKind::Slider: {
      auto* slider = new QSlider(s.h > s.w ? Qt::Vertical : Qt::Horizontal, parent);
      slider->setRange(s.minimum, s.maximum);
      slider->setValue(s.start);
      w = slider;
      break;
    }
    case ControlKind::SpinBox: {
      auto* spin = new QSpinBox(parent);
      spin->setRange(s.minimum, s.maximum);
      spin->setValue(s.start);
      w = spin;
      break;
    }
    case ControlKind::DropDown: w = new QComboBox(parent); break;
    case ControlKind::Label: w = new QLabel(QString::fromUtf8(s.text.data(), s.text.size()), parent); break;
    case ControlKind::Frame:
      w = new QGroupBox(QString::fromUtf8(s.text.data(), s.text.size()), parent);
      break;
    case ControlKind::Display: {
      auto* frame = new QFrame(parent);
      frame->setFrameStyle(QFrame::Box);
      w = frame;
      break;
    }
    case ControlKind::None: return;
  }
  w->setGeometry(s.x, s.y, s.w, s.h);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  Audio audio;
  audio.open();
  QMainWindow window;
  window.setWindowTitle("Ondelith floor");
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
  client->setFixedSize(ondelith::kClientWidth, ondelith::kClientHeight);
  for (const ondelith::ControlInfo& s : ondelith::kControlTable) addControl(client, s);
  for (int row = 0; row < ondelith::kWobbleRows; ++row) {
    const ondelith::CurveEditorPlace p = ondelith::curveEditorPlace(row);
    auto* editor = new QFrame(client);
    editor->setFrameStyle(QFrame::Box);
    editor->setGeometry(p.x, p.y, p.w, p.h);
  }
  window.setCentralWidget(client);
  for (int i = 0; i < 4; ++i) window.statusBar()->addWidget(new QLabel(&window));
  window.show();
  std::unique_ptr<RtMidiIn> midi = ownMidiPort();
  return qt.exec();
}
