# Host-side check of the link stamps (cmake/build_stamp.cmake): SOURCE_DATE_EPOCH and the
# __DATE__ format, and that kelvane.exe and an installer each carry the stamp of their
# own generated source. Reads the built programs; never builds or runs them.
cmake_minimum_required(VERSION 3.25)
set(pattern "kvBuildDate\\[12\\] = \"([^\"]+)\";.*kvBuildTime\\[9\\] = \"([^\"]+)\";")

# A one-digit day takes a blank as __DATE__ has it; the epoch is read in UTC.
foreach(case "0|Jan  1 1970|00:00:00" "1767225598|Dec 31 2025|23:59:58")
  string(REGEX MATCH "^([0-9]+)\\|(.*)$" case "${case}")
  set(epoch ${CMAKE_MATCH_1})
  set(expected "${CMAKE_MATCH_2}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch} ${CMAKE_COMMAND}
                          -DOUTPUT=${WORK}/${epoch}.cpp -DTARGET_NAME=probe -P ${SCRIPT})
  file(READ ${WORK}/${epoch}.cpp text)
  string(REGEX REPLACE ".*${pattern}.*" "\\1|\\2" found "${text}")
  if(NOT found STREQUAL expected)
    message(SEND_ERROR "SOURCE_DATE_EPOCH ${epoch} should stamp ${expected}:\n${text}")
  endif()
endforeach()

if(SAMPLE_STAMP STREQUAL KELVANE_STAMP)
  message(SEND_ERROR "the installer shares kelvane's stamp source ${KELVANE_STAMP}")
endif()
foreach(program KELVANE SAMPLE)
  file(READ ${${program}_STAMP} text)
  string(REGEX REPLACE ".*${pattern}.*" "\\1;\\2" stamp "${text}")
  # Only stamp-shaped strings: a stray bracket elsewhere in a binary would merge entries.
  file(STRINGS ${${program}} strings
       REGEX "^[A-Z][a-z][a-z] [ 1-3][0-9] [0-9][0-9][0-9][0-9]$|^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]$")
  list(REMOVE_ITEM stamp ${strings})
  if(NOT stamp STREQUAL "")
    message(SEND_ERROR "${${program}} lacks the stamp of ${${program}_STAMP}:\n${text}")
  endif()
endforeach()
