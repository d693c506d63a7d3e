#pragma once
// The patch file: 81 lines, one signed decimal integer each, CR LF after
// every line. The meaning of a value is its line number alone.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ondelith {

constexpr int kPatchLines = 81;
using PatchValues = std::array<int32_t, kPatchLines>;  // line n is element n - 1

// The file's bytes for the values.
std::string formatPatch(const PatchValues& values);

// Reads lines as the format defines them: a line ends at a carriage return
// (with a line feed right after it, the two together), a line feed, a zero
// byte or the end of the file; past the end every line is empty. Each line
// becomes a value: leading spaces and tabs skipped, an optional sign, the
// digits up to the first other character (0 when there are none), limited
// to the 32-bit range. Bytes may arrive in pieces of any size.
class PatchReader {
 public:
  // Takes the next bytes; false once all 81 lines are complete (more bytes
  // change nothing).
  bool feed(const char* data, size_t size);
  // The values read; the end of the file completes the line under way.
  PatchValues finish();

 private:
  enum class Stage { Blank, Digits, Skip };
  void endLine();

  PatchValues values_{};
  int line_ = 0;
  Stage stage_ = Stage::Blank;
  bool negative_ = false;
  bool sawDigit_ = false;
  int64_t magnitude_ = 0;
  bool afterCarriageReturn_ = false;
};

PatchValues parsePatch(std::string_view bytes);

// The largest file read as a patch; a patch is about 400 bytes.
constexpr size_t kMaxPatchFileBytes = 64 * 1024;

// A file's bytes as a patch, the one check every host makes before reading
// one: refused, with the reason, when larger than kMaxPatchFileBytes or
// holding a byte that is neither printable ASCII nor CR, LF, tab or NUL
// (what a patch never holds: a MIDI file, a picture, text in another
// encoding). A UTF-8 byte-order mark at the start is skipped. Every other
// file reads by the line rules above, short, long or malformed lines alike.
bool acceptPatchBytes(std::string_view bytes, PatchValues& values, std::string& reason);

// Whether text is a patch as Save writes it, give or take the freedom the
// reader allows: exactly 81 lines, each an integer (spaces or tabs before
// it or after it, an optional sign), ended by CR LF, LF or CR (the last line
// may lack its end), and nothing after them but empty lines.
bool isPatchText(std::string_view text);

// More bytes than any patch text can hold, blank lines aside.
constexpr size_t kMaxPatchTextBytes = 4096;

// The value of one line's text.
int32_t lineValue(std::string_view line);

}  // namespace ondelith
