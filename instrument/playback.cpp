#include "instrument/playback.h"

#include <algorithm>
#include <vector>

#include "engine/program_change.h"

namespace ondelith {

void postRendering(Engine& engine, const EngineEvent& event) {
  while (!engine.post(event)) engine.render(nullptr, 0);  // applies what is due
}

bool playMidi(Engine& engine, const TimedMidi* messages, size_t count, int64_t frames,
              int64_t block, const BlockSink& sink, const ProgramSink& program) {
  block = std::max<int64_t>(block, 1);
  std::vector<float> buffer(static_cast<size_t>(std::min(block, std::max<int64_t>(frames, 1))));
  const int64_t base = engine.frame();
  size_t next = 0;
  for (int64_t done = 0; done < frames;) {
    int64_t n = std::min<int64_t>(static_cast<int64_t>(buffer.size()), frames - done);
    for (; next < count && messages[next].frame < done + n; ++next) {
      const int64_t at = std::max<int64_t>(messages[next].frame, done);
      if (program && (messages[next].word & 0xF0) == kMidiProgramChange) {
        if (at > done) {
          n = at - done;  // played up to it first
          break;
        }
        program(base + at, messages[next].word);
        continue;
      }
      if (!engine.post(midiEvent(base + at, messages[next].word))) {
        // A full queue: play up to this message, which makes room for it.
        n = at - done;
        break;
      }
    }
    engine.render(buffer.data(), n);
    if (n > 0 && !sink(buffer.data(), n)) return false;
    done += n;
  }
  return true;
}

}  // namespace ondelith
