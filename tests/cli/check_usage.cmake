# SPDX-License-Identifier: GPL-3.0-or-later
# sondrel-tag: --help and --version succeed, an unknown option exits with 2.
execute_process(COMMAND ${TOOL} --help RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Usage: sondrel-tag")
  message(FATAL_ERROR "--help: rc=${rc} out=${out}")
endif()
execute_process(COMMAND ${TOOL} --version RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^sondrel-tag [0-9]+\\.[0-9]+")
  message(FATAL_ERROR "--version: rc=${rc} out=${out}")
endif()
execute_process(COMMAND ${TOOL} --bogus RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "Usage: sondrel-tag")
  message(FATAL_ERROR "--bogus: rc=${rc} err=${err}")
endif()
execute_process(COMMAND ${TOOL} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2)
  message(FATAL_ERROR "no arguments: rc=${rc}")
endif()

# Usage errors of the commands exit with 2 before touching any file.
set(_usage_cases
  "show"
  "set;x.mp3"
  "set;--lyrics;a;--lyrics-file;b;x.mp3"
  "set;--save;3;--title;t;x.mp3"
  "show;--read;0;x.mp3"
  "show;--title;t;x.mp3"
  "remove;x.mp3"
  "remove;--id3v1;--ogg;x.mp3"
  "pictures;a.mp3;b.mp3"
  "pictures;a.mp3;--delete;-1"
  "pictures;a.mp3;--add;c.jpg;--delete;0"
  "pictures;a.mp3;--extract;0"
  "frobnicate;x.mp3")
foreach(_case IN LISTS _usage_cases)
  string(REPLACE ";" " " _shown "${_case}")
  execute_process(COMMAND ${TOOL} ${_case} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT rc EQUAL 2)
    message(FATAL_ERROR "'${_shown}': rc=${rc}, expected 2")
  endif()
endforeach()

# A file that cannot be read is a failure (1), reported with its name.
execute_process(COMMAND ${TOOL} show /nonexistent/song.mp3 RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc EQUAL 1 OR NOT err MATCHES "/nonexistent/song.mp3")
  message(FATAL_ERROR "missing file: rc=${rc} err=${err}")
endif()
