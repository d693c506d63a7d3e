#include "devices/render_callback.h"

#include <cstdint>

#include "engine/engine.h"

namespace ondelith {

int renderCallback(const void*, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* userData) {
  if (frameCount == 0 || !output || !userData) return paContinue;
  static_cast<Engine*>(userData)->render(static_cast<float*>(output),
                                         static_cast<int64_t>(frameCount));
  return paContinue;
}

}  // namespace ondelith
