#include "devices/midi_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/midi_parser.h"
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

namespace ondelith {
namespace {

// Byte streams as a cable carries them, and the messages the parser finds.
TEST(MidiParser, ReadsBytesByTheMidiRules) {
  using Bytes = std::vector<uint8_t>;
  const struct {
    const char* what;
    Bytes bytes;
    std::vector<uint32_t> messages;
    int cut, stray;
  } cases[] = {
      {"note on and off", {0x90, 69, 100, 0x80, 69, 0}, {0x644590, 0x004580}, 0, 0},
      {"running status", {0x90, 60, 1, 62, 2, 64, 0}, {0x13C90, 0x23E90, 0x4090}, 0, 0},
      {"one data byte", {0xC3, 5, 6, 0xD0, 7}, {0x05C3, 0x06C3, 0x07D0}, 0, 0},
      {"sysex ended by a status byte",
       {0x90, 69, 100, 0xF0, 1, 2, 0x80, 69, 0},
       {0x644590, 0x004580},
       0,
       0},
      {"sysex hides its data", {0xF0, 0x10, 1, 2, 3}, {}, 0, 0},
      {"data after a sysex has no status", {0xF0, 1, 0xF7, 69, 100}, {}, 0, 2},
      {"real time anywhere", {0xF8, 0x90, 0xFE, 69, 0xFA, 100, 0xFF}, {0x644590}, 0, 0},
      {"real time inside a sysex", {0xF0, 1, 0xF8, 2, 0xB0, 123, 0}, {0x7BB0}, 0, 0},
      {"a status byte cuts a message", {0x90, 0xC5, 0xE4, 0x80, 69, 0}, {0x004580}, 3, 0},
      {"running status cut short", {0x90, 60, 1, 62, 0x80, 60, 0}, {0x13C90, 0x3C80}, 1, 0},
      {"system common ends running status", {0x90, 60, 1, 0xF2, 1, 2, 62, 2}, {0x13C90}, 0, 2},
      {"song select's data passed over", {0xF3, 5, 0x90, 60, 1}, {0x13C90}, 0, 0},
      {"tune request", {0xB0, 7, 0xF6, 100}, {}, 1, 1},
      {"stray data", {1, 2, 0xE0, 0, 64}, {0x4000E0}, 0, 2},
  };
  for (const auto& c : cases) {
    MidiParser parser;
    std::vector<uint32_t> got;
    int cut = 0, stray = 0;
    for (uint8_t b : c.bytes) {
      switch (parser.feed(b)) {
        case MidiParser::Result::Message: got.push_back(parser.word()); break;
        case MidiParser::Result::Cut: ++cut; break;
        case MidiParser::Result::Stray: ++stray; break;
        case MidiParser::Result::None: break;
      }
    }
    EXPECT_EQ(got, c.messages) << c.what;
    EXPECT_EQ(cut, c.cut) << c.what;
    EXPECT_EQ(stray, c.stray) << c.what;
  }
}

// A word whose data bytes are not all below 0x80 is no message, whichever host built it.
TEST(MidiInput, AMessageHoldingAStatusByteAsDataIsDropped) {
  Midi m;
  for (uint32_t word : {0xE4C590u, 0x80C590u, 0xE44590u, 0x00C580u, 0x7FFFE0u, 0x80407Bu}) {
    m.data(word);
    EXPECT_EQ(m.v().gate.load(), 0) << std::hex << word;
  }
  m.data(noteOnWord(69, 100));
  m.data(0x0080C580u);  // would release the key held if it counted
  EXPECT_EQ(m.v().gate.load(), 1);
}

}  // namespace
}  // namespace ondelith
