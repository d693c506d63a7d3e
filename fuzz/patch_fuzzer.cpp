// Any bytes as a patch file: accepted or refused, read, applied as Open
// applies them, saved again; and as the sound kept between runs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "instrument/kept_sound.h"
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

  // The one check every host makes: a file it takes reads by the line rules,
  // past a byte-order mark; one it refuses holds what no patch holds.
  Patch accepted;
  std::string reason;
  const bool marked = bytes.starts_with("\xEF\xBB\xBF");
  const std::string_view text = marked ? bytes.substr(3) : bytes;
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 0x20 && u < 0x7F) || u == '\r' || u == '\n' || u == '\t' || u == 0;
  });
  if (acceptPatchBytes(bytes, accepted, reason)) {
    if (!plain || size > kMaxPatchFileBytes || accepted != readPatchText(text)) __builtin_trap();
  } else if (reason.empty() || (plain && size <= kMaxPatchFileBytes)) {
    __builtin_trap();
  }

  // What is written reads back the same.
  if (parsePatch(formatPatch(values)) != values) __builtin_trap();

  // The keyed lines: read only after a version line, the 81 values as a
  // reader of 81 lines reads them; what is written reads back the same, as
  // a patch and with nothing left unread.
  const Patch whole = readPatchText(bytes);
  if (whole.values != values) __builtin_trap();
  const std::string written = formatPatch(whole);
  const Patch reread = readPatchText(written);
  if (reread.values != whole.values || reread.keyed != whole.keyed || !reread.unread.empty())
    __builtin_trap();
  if (written.size() <= kMaxPatchFileBytes && !isPatchText(written)) __builtin_trap();

  // Open, Save, Open again: the sound holds still from the first Save on.
  static Sound sound = startSound();
  std::string report;
  applyPatch(sound, whole, &report);
  if (!whole.unread.empty() && report.empty()) __builtin_trap();
  const Patch saved = savedPatch(sound);
  Sound again = sound;
  applyPatch(again, saved, &report);
  if (!report.empty() || savedPatch(again) != saved) __builtin_trap();

  // The kept sound: whatever it reads, it writes back; its sounds hold
  // still from the first round on.
  SoundState kept;
  const std::string keptText =
      size && (data[0] & 1) ? "Ondelith kept sound\n" + std::string(bytes) : std::string(bytes);
  if (parseKeptSound(keptText, kept)) {
    SoundState once, twice;
    if (!parseKeptSound(formatKeptSound(kept), once) ||
        !parseKeptSound(formatKeptSound(once), twice) || !(twice.sound == once.sound) ||
        !(twice.origin.sound == once.origin.sound))
      __builtin_trap();
  }
  return 0;
}
