#pragma once
// A patch applied to and taken from an engine and the controls a host keeps,
// with no window: the part of Open and Save that the program and the plugin
// share, so that one file gives both the same parameters and curve points.
// Nothing here reaches a toolkit, a device or a file.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/controls.h"
#include "engine/engine.h"
#include "patches/patch_file.h"

namespace ondelith {

// The control behind each line that follows the four curve blocks, in file order.
constexpr std::array<int, 25> kPatchControlIds = {
    24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 17, 18, 19, 20, 21, 22, 54, 6, 7, 8, 9, 4, 5};
constexpr int kCurveBlockLines = 14;  // per curve: point 0 y, points 1..6 x and y, point 7 y

// A patch's curves count their width in samples at this rate, whatever rate
// the engine runs at, so files move between machines unchanged.
constexpr double kPatchSampleRate = kDefaultSampleRate;

// The Duration slider's range under each setting of its range switch.
struct DurationBounds {
  int32_t minimum, maximum;
};
constexpr DurationBounds durationBounds(int range) {
  return range == kDurationRangeX1 ? DurationBounds{100, 1000} : DurationBounds{1000, 10000};
}

// The controls a patch holds, as their host keeps them: each value is kept
// within its control's range, as the window's controls keep theirs.
class PatchControls {
 public:
  // Stores a control's value, limited; returns the value kept.
  virtual int32_t set(int id, int32_t value) = 0;
  virtual int32_t get(int id) const = 0;
  // The range switch set to kDurationRangeX1 or kDurationRangeX10, with the
  // Duration slider moved to durationMs within the new range.
  virtual void setDurationRange(int range, int32_t durationMs) = 0;

 protected:
  ~PatchControls() = default;
};

// A control's value into the controls and into the parameter it drives (A,
// D and R from milliseconds to seconds, S from percent to a level). Returns
// the value kept.
int32_t applyControlValue(PatchControls& controls, EngineParams& params, int id, int32_t value);

// Open's application, in Open's order: spin boxes, point sliders, volume,
// the Duration and its range, the wobble length and the curves' ranges at
// the patch's sample count, the curves, the envelope, the filter. `buffer`
// carries one curve's points at a time; once it has room for them nothing is
// allocated. The caller owns the curves' points (see CurveModel).
void applyPatchValues(PatchControls& controls, Engine& engine, const PatchValues& values,
                      std::vector<CurvePoint>& buffer);

// Save's capture: the curves' ranges set from the Duration control, each
// curve taken in those units, then the 25 control values.
PatchValues capturePatchValues(const PatchControls& controls, Engine& engine,
                               std::vector<CurvePoint>& buffer);

// The window's sound controls without a window: what a host with no
// controls of its own (a plugin) keeps. Start values and ranges are the
// window's.
class HostControls final : public PatchControls {
 public:
  HostControls();
  int32_t set(int id, int32_t value) override;
  int32_t get(int id) const override;
  void setDurationRange(int range, int32_t durationMs) override;

 private:
  std::array<int32_t, kControlIdLimit> values_{};
};

// Whether text is a patch as Save writes it, give or take the freedom the
// reader allows: exactly 81 lines, each an integer (spaces or tabs before
// it or after it, an optional sign), ended by CR LF, LF or CR (the last line
// may lack its end), and nothing after them but empty lines. What Open would
// read from any file, this tells apart from what is no patch at all.
bool isPatchText(std::string_view text);

// More bytes than any patch text can hold, blank lines aside.
constexpr size_t kMaxPatchTextBytes = 4096;

}  // namespace ondelith
