# Fails unless the bank's list is refused, naming the line, when a line
# names a folder instead of a sound file.
#   cmake -DSCRIPT=instrument/sound_bank.cmake -DWORK=<scratch folder> -P check_bank_list.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/lead/Folder.vx")
file(WRITE "${WORK}/bank.list" "# a list\n1\tlead\tFolder\tlead/Folder.vx\tA folder, not a sound\t\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DLIST=${WORK}/bank.list -DOUT=${WORK}/out.cpp
                        -P ${SCRIPT}
                RESULT_VARIABLE status ERROR_VARIABLE said)
if(status EQUAL 0 OR EXISTS "${WORK}/out.cpp")
  message(FATAL_ERROR "a folder in the bank's list made a sound")
endif()
string(REGEX REPLACE "[ \n]+" " " said "${said}")  # CMake wraps long messages
if(NOT said MATCHES "bank.list:2: .*lead/Folder.vx is a folder")
  message(FATAL_ERROR "the refusal does not name the line and the folder: ${said}")
endif()
