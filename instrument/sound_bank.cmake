# Writes the factory bank as C++: every sound of the bank's list with its
# number, category, name, the bytes of its .vx file, its description and the
# name it had before.
#   cmake -DLIST=data/sounds/bank.list -DOUT=sound_bank_data.cpp -P sound_bank.cmake
# A list line that cannot be read stops the build, naming the line.
cmake_minimum_required(VERSION 3.25)

get_filename_component(dir "${LIST}" DIRECTORY)
file(STRINGS "${LIST}" lines ENCODING UTF-8)
set(entries "")
set(last 0)
set(lineNumber 0)
foreach(line IN LISTS lines)
  math(EXPR lineNumber "${lineNumber} + 1")
  string(REGEX REPLACE "\r$" "" line "${line}")
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  set(where "${LIST}:${lineNumber}")
  if(NOT line MATCHES "^([0-9]+)\t([a-z-]+)\t([^\t]+)\t([^\t]+)\t([^\t]+)(\t([^\t]*))?$")
    message(FATAL_ERROR
            "${where}: expected number, category, name, file, description and former name separated by tabs")
  endif()
  set(description "${CMAKE_MATCH_5}")
  set(formerName "${CMAKE_MATCH_7}")
  set(number ${CMAKE_MATCH_1})
  set(category ${CMAKE_MATCH_2})
  set(name ${CMAKE_MATCH_3})
  set(file "${dir}/${CMAKE_MATCH_4}")
  if(number LESS 1 OR number GREATER 128 OR NOT number GREATER last)
    message(FATAL_ERROR "${where}: program numbers rise from 1 to 128")
  endif()
  set(last ${number})
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${where}: no file ${file}")
  endif()
  # Read as a file, a folder would be a sound of no bytes.
  if(IS_DIRECTORY "${file}")
    message(FATAL_ERROR "${where}: ${file} is a folder, not a sound file")
  endif()
  file(READ "${file}" bytes HEX)
  string(LENGTH "${bytes}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "(..)" "\\\\x\\1" bytes "${bytes}")
  foreach(text name description formerName)
    string(HEX "${${text}}" hex)
    string(LENGTH "${hex}" hexLength)
    math(EXPR textSize "${hexLength} / 2")
    string(REGEX REPLACE "(..)" "\\\\x\\1" hex "${hex}")
    set(${text}View "std::string_view(\"${hex}\", ${textSize})")
  endforeach()
  string(APPEND entries
         "    {${number}, \"${category}\", ${nameView},\n"
         "     std::string_view(\"${bytes}\", ${size}),\n"
         "     ${descriptionView}, ${formerNameView}},\n")
endforeach()
if(entries STREQUAL "")
  message(FATAL_ERROR "${LIST}: no sounds")
endif()

set(source "// Made from ${LIST} by instrument/sound_bank.cmake; edit those, not this.
#include \"instrument/sound_bank.h\"

namespace ondelith::bank_data {

extern const BankSound kSounds[] = {
${entries}};
extern const size_t kSoundCount = sizeof kSounds / sizeof kSounds[0];

}  // namespace ondelith::bank_data
")
file(WRITE "${OUT}" "${source}")
