#pragma once
// The patch file: 81 lines, one signed decimal integer each, CR LF after
// every line. The meaning of a value is its line number alone. Settings
// beyond those follow as keyed lines, which a reader of 81 lines ignores:
// line 82 names their version ("ondelith-settings=1"), then one
// "key=value" a line, all printable ASCII.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondelith {

constexpr int kPatchLines = 81;
using PatchValues = std::array<int32_t, kPatchLines>;  // line n is element n - 1

// Line 82 of a patch with keyed lines: this key, "=", the version.
constexpr std::string_view kSettingsVersionKey = "ondelith-settings";
constexpr int kSettingsVersion = 1;

struct KeyedLine {
  std::string key, value;
  bool operator==(const KeyedLine&) const = default;
};

// A whole patch: the 81 values, the keyed lines after them in file order,
// and the lines among those that were not key=value (to tell the player).
struct Patch {
  PatchValues values{};
  std::vector<KeyedLine> keyed;
  std::vector<std::string> unread;
  // How many of lines 1 to 81 held a number: fewer when the text was no
  // whole patch (a short file, lines of words), read all the same.
  int numberedLines = kPatchLines;
  Patch() = default;
  // A patch of the 81 lines alone, as every file before keyed lines was.
  Patch(const PatchValues& lines) : values(lines) {}  // NOLINT(google-explicit-constructor)
  bool operator==(const Patch&) const = default;
};

// The file's bytes: the 81 lines; then, when there are keyed lines, the
// version line and each line whose key and value a patch can hold.
std::string formatPatch(const Patch& patch);

// A key as keyed lines hold it: letters, digits, '_', '.' and '-'. A value:
// printable ASCII.
bool isPatchKey(std::string_view key);
bool isPatchValue(std::string_view value);

// The whole patch in text: the 81 values as parsePatch reads them; keyed
// lines only when line 82 is a version line. Blank lines are skipped; spaces
// and tabs around a key or a value are not part of it.
Patch readPatchText(std::string_view bytes);

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
  // How many of the lines read held a number (a digit after the blanks and sign).
  int numberedLines() const { return numbered_; }

 private:
  enum class Stage { Blank, Digits, Skip };
  void endLine();

  PatchValues values_{};
  int line_ = 0;
  int numbered_ = 0;
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
bool acceptPatchBytes(std::string_view bytes, Patch& patch, std::string& reason);

// Whether text is a patch as Save writes it, give or take the freedom the
// reader allows: exactly 81 lines, each an integer (spaces or tabs before
// it or after it, an optional sign), ended by CR LF, LF or CR (the last line
// may lack its end); after them nothing but empty lines, or a version line
// and keyed lines; no larger than kMaxPatchFileBytes.
bool isPatchText(std::string_view text);

// The value of one line's text.
int32_t lineValue(std::string_view line);

}  // namespace ondelith
