# SPDX-License-Identifier: GPL-3.0-or-later
# Runs TOOL with ARGS (separated by commas) and writes its standard output to
# OUT; a failing run fails the build instead of installing a broken file.
string(REPLACE "," ";" ARGS "${ARGS}")
execute_process(COMMAND ${TOOL} ${ARGS} OUTPUT_FILE ${OUT}.part RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.part)
  message(FATAL_ERROR "${TOOL} ${ARGS}: exit status ${rc}")
endif()
file(RENAME ${OUT}.part ${OUT})
