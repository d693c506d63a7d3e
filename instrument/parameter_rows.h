#pragma once
// Every parameter of the instrument, one row each: the one place to add one
// (docs/adding-a-parameter.md). Rows are only ever appended: plugin formats
// key parameters on position and symbol. A row that targets the voice takes
// its range and start from the engine's own table, in the engine's units
// times the divisor.

#include <array>

#include "engine/note_entry.h"
#include "engine/params.h"
#include "instrument/parameter.h"

namespace ondelith {

// The Duration's range switch: its values, and the range each gives.
constexpr int kDurationRangeX1 = 1;
constexpr int kDurationRangeX10 = 2;
inline constexpr Choice kDurationRanges[] = {
    {kDurationRangeX1, "x1", "x1", {100, 1000}, 400},
    {kDurationRangeX10, "x10", "x10", {1000, 10000}, 2000},
};

inline constexpr Choice kPitchModes[] = {
    {kPitchPeriods, "periods", "Whole-sample periods"},
    {kPitchExact, "exact", "Exact"},
};

inline constexpr Choice kWobblePhases[] = {
    {kWobbleFree, "free", "Free"},
    {kWobbleRepeatable, "repeatable", "Repeatable"},
};

// Oversampling's values stand for their powers of two (oversamplingFactor).
inline constexpr Choice kOversamplingFactors[] = {
    {0, "1", "Off (1x)"},
    {1, "2", "2x"},
    {2, "4", "4x"},
    {3, "8", "8x"},
};

// The channel setting's value that hears all sixteen; 1 to 16 name one.
constexpr int kEveryChannel = 0;

namespace rows {

constexpr int32_t whole(double v) { return static_cast<int32_t>(v < 0 ? v - 0.5 : v + 0.5); }

// A row that sets a voice parameter: its range and start are the engine's.
constexpr Parameter voice(Param p, Parameter row) {
  const ParamInfo& info = paramInfo(p);
  row.target = Target::Param;
  row.targetId = static_cast<int>(p);
  row.minimum = whole(info.minimum * row.divisor);
  row.maximum = whole(info.maximum * row.divisor);
  row.start = whole(info.start * row.divisor);
  return row;
}

// A row that sets one of the note entry's settings.
constexpr Parameter noteSetting(NoteSetting s, Parameter row) {
  const NoteSettingInfo& info = noteSettingInfo(s);
  row.target = Target::Setting;
  row.targetId = static_cast<int>(s);
  row.minimum = whole(info.minimum);
  row.maximum = whole(info.maximum);
  row.start = whole(info.start);
  row.owner = Owner::Player;
  return row;
}

constexpr std::string_view kDepthHelp =
    "How far the point wobbles: towards the top of its slider's range for a positive value, "
    "towards the bottom for a negative one, in percent of the way.";
constexpr std::string_view kRateHelp = "The wobble's rate, in whole multiples of the note's pitch.";
constexpr std::string_view kFineHelp =
    "Hundredths of a multiple added to the wobble's rate: fractions give inharmonic overtones.";

// clang-format off
inline constexpr auto kRows = std::to_array<Parameter>({
    voice(Param::ModX1, {.symbol = "x1_mod", .name = "X1 wobble depth", .label = "X1Mod%", .unit = Unit::Percent,
                         .patchLine = 57, .group = Group::WobbleX1, .help = kDepthHelp}),
    voice(Param::CoarseX1, {.symbol = "x1_coarse", .name = "X1 wobble rate", .label = "CoarseX1ModF", .unit = Unit::Multiple,
                            .patchLine = 58, .group = Group::WobbleX1, .help = kRateHelp}),
    voice(Param::FineX1, {.symbol = "x1_fine", .name = "X1 wobble rate, fine", .label = "FineX1ModF",
                          .unit = Unit::MultipleFraction, .text = TextRule::Hundredths,
                          .patchLine = 59, .group = Group::WobbleX1, .help = kFineHelp}),
    voice(Param::ModY1, {.symbol = "y1_mod", .name = "Y1 wobble depth", .label = "Y1Mod%", .unit = Unit::Percent,
                         .patchLine = 60, .group = Group::WobbleY1, .help = kDepthHelp}),
    voice(Param::CoarseY1, {.symbol = "y1_coarse", .name = "Y1 wobble rate", .label = "CoarseY1ModF", .unit = Unit::Multiple,
                            .patchLine = 61, .group = Group::WobbleY1, .help = kRateHelp}),
    voice(Param::FineY1, {.symbol = "y1_fine", .name = "Y1 wobble rate, fine", .label = "FineY1ModF",
                          .unit = Unit::MultipleFraction, .text = TextRule::Hundredths,
                          .patchLine = 62, .group = Group::WobbleY1, .help = kFineHelp}),
    voice(Param::ModX2, {.symbol = "x2_mod", .name = "X2 wobble depth", .label = "X2Mod%", .unit = Unit::Percent,
                         .patchLine = 63, .group = Group::WobbleX2, .help = kDepthHelp}),
    voice(Param::CoarseX2, {.symbol = "x2_coarse", .name = "X2 wobble rate", .label = "CoarseX2ModF", .unit = Unit::Multiple,
                            .patchLine = 64, .group = Group::WobbleX2, .help = kRateHelp}),
    voice(Param::FineX2, {.symbol = "x2_fine", .name = "X2 wobble rate, fine", .label = "FineX2ModF",
                          .unit = Unit::MultipleFraction, .text = TextRule::Hundredths,
                          .patchLine = 65, .group = Group::WobbleX2, .help = kFineHelp}),
    voice(Param::ModY2, {.symbol = "y2_mod", .name = "Y2 wobble depth", .label = "Y2Mod%", .unit = Unit::Percent,
                         .patchLine = 66, .group = Group::WobbleY2, .help = kDepthHelp}),
    voice(Param::CoarseY2, {.symbol = "y2_coarse", .name = "Y2 wobble rate", .label = "CoarseY2ModF", .unit = Unit::Multiple,
                            .patchLine = 67, .group = Group::WobbleY2, .help = kRateHelp}),
    voice(Param::FineY2, {.symbol = "y2_fine", .name = "Y2 wobble rate, fine", .label = "FineY2ModF",
                          .unit = Unit::MultipleFraction, .text = TextRule::Hundredths,
                          .patchLine = 68, .group = Group::WobbleY2, .help = kFineHelp}),
    voice(Param::PointX1, {.symbol = "x1", .name = "X1 point", .label = "X1", .unit = Unit::Hundredths,
                           .patchLine = 69, .group = Group::Waveform,
                           .help = "Where the first control point stands along the period."}),
    voice(Param::PointY1, {.symbol = "y1", .name = "Y1 point", .label = "Y1", .unit = Unit::Hundredths,
                           .patchLine = 70, .group = Group::Waveform,
                           .help = "The first control point's height, in the lower half."}),
    voice(Param::PointX2, {.symbol = "x2", .name = "X2 point", .label = "X2", .unit = Unit::Hundredths,
                           .patchLine = 71, .group = Group::Waveform,
                           .help = "Where the second control point stands along the period."}),
    voice(Param::PointY2, {.symbol = "y2", .name = "Y2 point", .label = "Y2", .unit = Unit::Hundredths,
                           .patchLine = 72, .group = Group::Waveform,
                           .help = "The second control point's height, in the upper half."}),
    voice(Param::Volume, {.symbol = "volume", .name = "Volume", .label = "Vol", .unit = Unit::Percent,
                          .patchLine = 73, .group = Group::Output,
                          .help = "The overall level, before the filter."}),
    voice(Param::WobbleDuration, {.symbol = "duration", .name = "Wobble duration", .label = "Duration",
                                  .unit = Unit::Milliseconds, .patchLine = 74, .group = Group::Output,
                                  .help = "The time the drawn wobble curves stretch over.",
                                  .rangeBy = "duration_range"}),
    {.symbol = "duration_range", .name = "Wobble duration range", .label = "Range", .unit = Unit::Choice,
     .minimum = kDurationRangeX1, .maximum = kDurationRangeX10, .start = kDurationRangeX10,
     .text = TextRule::Choice, .target = Target::RangeSwitch, .patchLine = 75, .group = Group::Output,
     .help = "The wobble duration's range: x1 for up to a second, x10 for up to ten.",
     .choices = kDurationRanges},
    voice(Param::Attack, {.symbol = "attack", .name = "Attack", .label = "A", .unit = Unit::Milliseconds,
                          .divisor = 1000, .patchLine = 76, .group = Group::Envelope,
                          .help = "How long a note takes to rise to its peak."}),
    voice(Param::Decay, {.symbol = "decay", .name = "Decay", .label = "D", .unit = Unit::Milliseconds,
                         .divisor = 1000, .patchLine = 77, .group = Group::Envelope,
                         .help = "How long it then takes to fall to the sustain level."}),
    voice(Param::Sustain, {.symbol = "sustain", .name = "Sustain", .label = "S", .unit = Unit::Percent,
                           .divisor = 100, .patchLine = 78, .group = Group::Envelope,
                           .help = "The level a held note stays at."}),
    voice(Param::Release, {.symbol = "release", .name = "Release", .label = "R", .unit = Unit::Milliseconds,
                           .divisor = 1000, .patchLine = 79, .group = Group::Envelope,
                           .help = "How long a released note takes to fall silent."}),
    voice(Param::Cutoff, {.symbol = "cutoff", .name = "Filter cutoff", .label = "F", .unit = Unit::Hertz,
                          .patchLine = 80, .group = Group::Filter, .taper = Taper::Logarithmic,
                          .help = "The low-pass filter's cutoff frequency."}),
    voice(Param::Resonance, {.symbol = "resonance", .name = "Filter resonance", .label = "Res",
                             .unit = Unit::Percent, .patchLine = 81, .group = Group::Filter,
                             .help = "How strongly the filter rings at its cutoff."}),
    {.symbol = "midi_channel", .name = "MIDI channel", .label = "Channel", .unit = Unit::Channel,
     .minimum = kEveryChannel, .maximum = 16, .start = 1, .text = TextRule::Channel,
     .target = Target::Channel, .automatable = false, .group = Group::Playing, .owner = Owner::Player,
     .help = "The MIDI channel notes are heard on, or All."},
    noteSetting(NoteSetting::BendRange, {.symbol = "bend_range", .name = "Pitch bend range", .label = "Bend",
                                         .unit = Unit::Semitones, .group = Group::Playing,
                                         .help = "How far the pitch wheel bends at either end."}),
    noteSetting(NoteSetting::VelocitySensitivity, {.symbol = "velocity", .name = "Velocity sensitivity",
                                                   .label = "Velocity", .unit = Unit::Percent, .group = Group::Playing,
                                                   .help = "How much a key's velocity sets the note's level: "
                                                           "at 0 % every note plays at full level."}),
    voice(Param::PitchMode, {.symbol = "pitch_mode", .name = "Pitch", .label = "Pitch", .unit = Unit::Choice,
                             .text = TextRule::Choice, .group = Group::Output,
                             .help = "Whole-sample periods, the instrument's own, make every period a whole "
                                     "number of samples long, which puts high notes out of tune; Exact plays "
                                     "every note at its own frequency and lets the pitch wheel glide smoothly.",
                             .choices = kPitchModes}),
    voice(Param::WobblePhase, {.symbol = "wobble_phase", .name = "Wobble phase", .label = "Phase",
                               .unit = Unit::Choice, .text = TextRule::Choice, .group = Group::Output,
                               .help = "Free, the instrument's own, lets a note's start hang on what "
                                       "played before it; Repeatable starts the wobble alike at every "
                                       "note, so a bounce is the same wherever it starts.",
                               .choices = kWobblePhases}),
    voice(Param::Oversampling, {.symbol = "oversampling", .name = "Alias suppression", .label = "Oversampling",
                                .unit = Unit::Choice, .text = TextRule::Choice, .group = Group::Output,
                                .help = "Runs the oscillator, the wobble and the filter at 2, 4 or 8 times the sample "
                                        "rate and filters the result back down, which clears high notes of the "
                                        "out-of-key tones their sharp corners fold back (at 4x most sounds are "
                                        "clean to the top of the keyboard) at 2 to 8 times the work and a few dozen samples of latency; "
                                        "whole-sample periods still count output samples, so every note keeps "
                                        "its pitch, and a sounding note starts over when this changes.",
                                .choices = kOversamplingFactors}),
    noteSetting(NoteSetting::A4, {.symbol = "a4_hz", .name = "A4 pitch", .label = "A4", .unit = Unit::Hertz,
                                  .group = Group::Playing,
                                  .help = "The concert pitch: the frequency of A above middle C. Every note moves "
                                          "with it, in a Scala tuning too."}),
});
// clang-format on

}  // namespace rows

}  // namespace ondelith
