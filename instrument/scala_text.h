#pragma once
// What the two Scala files (.scl scales, .kbm keyboard maps) share: lines
// of text where "!" starts a comment, read with the number of each line so
// that a fault can say where it is.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ondelith {

// Larger than any scale of kMaxScaleDegrees with a comment on every line.
constexpr size_t kMaxScalaBytes = 128 * 1024;

// Why a file was refused, and where: line 0 is the file as a whole.
struct ScalaFault {
  int line = 0;
  std::string reason;
  std::string text() const;  // "line 4: a ratio must be above zero"
};

struct ScalaLine {
  int number;             // from 1
  std::string_view text;  // without its line end
};

// The lines that are not comments, blank ones included. False, with the
// fault, for text too long or holding bytes that no text holds.
bool scalaLines(std::string_view text, std::vector<ScalaLine>& out, ScalaFault& fault);

// The first word of a line (up to a blank), and the line without its
// leading blanks.
std::string_view firstWord(std::string_view line);
std::string_view trimmedStart(std::string_view line);

// A whole number, 0 or more, all of the word; false for anything else.
bool readCount(std::string_view word, long& out);

// Pieces of a reason, one after the other. (GCC 12 warns wrongly at a
// literal added before a string.)
std::string joined(std::initializer_list<std::string_view> pieces);

// The text as UTF-8: as it is when it is UTF-8, else read as Latin-1, as
// older Scala files were written.
std::string scalaTextAsUtf8(std::string_view bytes);

}  // namespace ondelith
