// Any bytes as a patch file: read, applied as Open applies them, saved again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "instrument/sound.h"

using namespace ondelith;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const PatchValues values = parsePatch(bytes);

  // Pieces of any size read alike.
  PatchReader reader;
  const size_t piece = size ? 1 + data[0] % 7 : 1;
  for (size_t at = 0; at < size; at += piece)
    reader.feed(bytes.data() + at, std::min(piece, size - at));
  if (reader.finish() != values) __builtin_trap();

  // What is written reads back the same.
  if (parsePatch(formatPatch(values)) != values) __builtin_trap();

  // Open, Save, Open again: the sound holds still from the first Save on.
  static Sound sound = startSound();
  applyPatch(sound, values);
  const PatchValues saved = capturePatch(sound);
  Sound again = sound;
  applyPatch(again, saved);
  if (capturePatch(again) != saved) __builtin_trap();
  return 0;
}
