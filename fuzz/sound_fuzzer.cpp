// Any patch values and notes, at any rate: every sample that comes out is a
// number within -1 to 1, whatever a file put into the patch.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "instrument/instrument.h"

using namespace ondelith;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  constexpr double kRates[] = {44100, 48000, 22050, 96000};
  auto engine = std::make_unique<Engine>(*SampleRate::of(kRates[in.ConsumeIntegralInRange(0, 3)]));
  Instrument instrument;
  instrument.attach(engine.get());
  PatchValues values{};
  for (int32_t& v : values) v = in.ConsumeIntegral<int32_t>();
  instrument.applyPatch(values);

  std::vector<float> out(4096);
  for (int event = 0; event < 24 && in.remaining_bytes() > 0; ++event) {
    const int note = in.ConsumeIntegralInRange(0, 127);
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0: engine->post(midiEvent(0, 0x640090u | uint32_t(note) << 8)); break;
      case 1: engine->post(midiEvent(0, 0x80u | uint32_t(note) << 8)); break;
      case 2: engine->post(simpleEvent(0, EventKind::DeviceClosed)); break;
      default: instrument.applyPatch(values); break;  // opened again while it sounds
    }
    const size_t frames = in.ConsumeIntegralInRange<size_t>(0, out.size());
    engine->render(out.data(), static_cast<int64_t>(frames));
    for (size_t i = 0; i < frames; ++i)
      if (!(std::fabs(out[i]) <= 1.0f)) __builtin_trap();
  }
  return 0;
}
