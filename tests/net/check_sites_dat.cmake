# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when resources/lyrics/sites.dat was not rebuilt after sites.txt changed.
execute_process(COMMAND ${TOOL} ${LIST} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_sites_dat failed: ${rc}")
endif()
file(SHA256 ${OUT} built)
file(SHA256 ${SHIPPED} shipped)
if(NOT built STREQUAL shipped)
  message(FATAL_ERROR "resources/lyrics/sites.dat differs from what make_sites_dat builds from sites.txt")
endif()
