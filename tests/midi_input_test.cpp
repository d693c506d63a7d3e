#include "devices/midi_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace ondelith {
namespace {

using test::noteOffWord;
using test::noteOnWord;

// Each message applied as the audio thread's next block applies it, and
// the note status the window would then show.
struct Midi {
  std::unique_ptr<Synth> s = test::makeSynth();
  std::vector<std::string> texts;
  void deliver(uint32_t kind, uint32_t w) {
    midiInputCallback(s->midi, kind, w);
    s->engine.render(nullptr, 0);
    texts.push_back(noteStatusText(s->engine.noteStatus.load()));
  }
  void data(uint32_t w) { deliver(kMidiData, w); }
  VoiceState& v() { return s->engine.voice; }
};

TEST(MidiInput, NoteFrequencies) {
  Midi m;
  const std::pair<int, double> cases[] = {{69, 440.0}, {60, 261.626}, {0, 8.176}, {127, 12543.854}};
  for (auto [note, hz] : cases) {
    m.data(noteOnWord(note, 100));
    EXPECT_NEAR(m.v().noteFrequency.load(), hz, 0.001) << note;
  }
  EXPECT_EQ(m.v().noteFrequency.load(), noteFrequencyOf(127));
}

TEST(MidiInput, WobbleRatesFromCoarseAndFine) {
  Midi m;
  applyControlEvent(*m.s, spinCoarseId(kRowX1), 2);
  applyControlEvent(*m.s, spinFineId(kRowX1), 25);
  applyControlEvent(*m.s, spinFineId(kRowY1), 5);
  applyControlEvent(*m.s, spinCoarseId(kRowY2), 15);
  applyControlEvent(*m.s, spinFineId(kRowY2), 99);
  m.s->engine.render(nullptr, 0);
  m.data(noteOnWord(69, 1));
  EXPECT_FLOAT_EQ(m.v().wobbleRate[kRowX1].load(), 990.0f);
  EXPECT_FLOAT_EQ(m.v().wobbleRate[kRowY1].load(), 22.0f);
  EXPECT_EQ(m.v().wobbleRate[kRowX2].load(), 0.0f);
  EXPECT_FLOAT_EQ(m.v().wobbleRate[kRowY2].load(), 15.99f * 440.0f);
  // Changing the spin boxes leaves the sounding note's rates alone.
  applyControlEvent(*m.s, spinCoarseId(kRowX1), 3);
  EXPECT_FLOAT_EQ(m.v().wobbleRate[kRowX1].load(), 990.0f);
}

TEST(MidiInput, LastNotePriorityWithHeldKeys) {
  Midi m;
  m.data(noteOnWord(57, 90));
  EXPECT_EQ(m.v().gate.load(), 1);
  m.data(noteOnWord(69, 90));
  m.data(noteOffWord(57));
  EXPECT_EQ(m.v().noteFrequency.load(), 440.0);
  EXPECT_EQ(m.v().gate.load(), 1);
  EXPECT_EQ(m.texts.back(), "On");
  m.data(noteOnWord(69, 0));  // velocity 0 releases the last key
  EXPECT_EQ(m.v().gate.load(), 0);
  EXPECT_EQ(m.v().heldKeys.load(), 0);
  EXPECT_EQ(m.v().previousFrequency.load(), 440.0);
  EXPECT_EQ(m.texts, (std::vector<std::string>{"On", "On", "On", "Off"}));
}

TEST(MidiInput, ExtraNoteOffsRepeatTheRelease) {
  Midi m;
  m.data(noteOnWord(60, 100));
  m.data(noteOffWord(60));
  m.v().noteFrequency.store(123.0);
  m.data(noteOffWord(61));
  EXPECT_EQ(m.v().heldKeys.load(), 0);
  EXPECT_EQ(m.v().gate.load(), 0);
  EXPECT_EQ(m.v().previousFrequency.load(), 123.0);
  EXPECT_EQ(m.texts.back(), "Off");
}

TEST(MidiInput, OnlyChannelOneNotesAreHeard) {
  Midi m;
  m.data(noteOnWord(69, 100, 1));  // channel 2
  m.data(0x004007B0u);             // a controller the voice has no use for
  m.data(0x000040E0u);             // pitch bend, with no note yet
  m.data(0xF8u);                   // clock
  EXPECT_EQ(m.v().gate.load(), 0);
  EXPECT_EQ(m.v().noteFrequency.load(), 0.0);
  // Field 1 still empty after every data message.
  EXPECT_EQ(m.texts, (std::vector<std::string>{"", "", "", ""}));
  midiInputCallback(m.s->midi, 961, noteOnWord(69, 100));  // an open notice
  EXPECT_EQ(m.texts.size(), 4u);
  EXPECT_EQ(m.v().gate.load(), 0);
}

TEST(MidiInput, CloseNoticeReleasesEveryKey) {
  Midi m;
  m.data(noteOnWord(60, 100));
  m.data(noteOnWord(64, 100));
  m.deliver(kMidiCloseNotice, 0);
  EXPECT_EQ(m.v().heldKeys.load(), 0);
  EXPECT_EQ(m.v().gate.load(), 0);
  EXPECT_EQ(m.v().previousFrequency.load(), noteFrequencyOf(64));
  EXPECT_EQ(m.texts.back(), "Off");
  EXPECT_EQ(m.s->engine.noteStatus.load(), NoteStatus::Off);
  // The next key starts a note of its own.
  m.data(noteOnWord(67, 100));
  EXPECT_EQ(m.v().gate.load(), 1);
  EXPECT_EQ(m.v().heldKeys.load(), 1);
}

TEST(MidiInput, MessagesWaitForTheAudioThreadsNextBlock) {
  auto s = test::makeSynth();
  midiInputCallback(s->midi, kMidiData, noteOnWord(69, 100));
  EXPECT_EQ(s->engine.voice.gate.load(), 0);
  EXPECT_EQ(s->engine.noteStatus.load(), NoteStatus::None);
  s->engine.render(nullptr, 0);
  EXPECT_EQ(s->engine.voice.gate.load(), 1);
  EXPECT_EQ(s->engine.noteStatus.load(), NoteStatus::On);
  EXPECT_STREQ(noteStatusText(NoteStatus::None), "");
}

}  // namespace
}  // namespace ondelith
