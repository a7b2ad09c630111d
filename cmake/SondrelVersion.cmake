# SPDX-License-Identifier: GPL-3.0-or-later
# The program's one version: the project's version, and in a git checkout
# that is not exactly at the release tag "v<version>" also the commit
# ("0.1.0+g3822504", or "0.1.0+5.g3822504" five commits after the tag), so
# a build says what it was built from. The "+" form is a valid Debian
# version that sorts after the release.
function(sondrel_full_version out base source_dir)
  set(_full ${base})
  find_program(_git git)
  if(_git AND EXISTS ${source_dir}/.git)
    execute_process(COMMAND ${_git} -C ${source_dir} describe --tags --match "v[0-9]*" --always
      OUTPUT_VARIABLE _describe OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE _rc ERROR_QUIET)
    if(_rc EQUAL 0 AND NOT _describe STREQUAL "v${base}")
      if(_describe MATCHES "^v.*-([0-9]+)-g([0-9a-f]+)$")
        set(_full "${base}+${CMAKE_MATCH_1}.g${CMAKE_MATCH_2}")
      elseif(_describe MATCHES "^[0-9a-f]+$")
        set(_full "${base}+g${_describe}")
      endif()
    endif()
  endif()
  set(${out} ${_full} PARENT_SCOPE)
endfunction()

# Run as a script at every build (cmake -P): writes OUT from IN with the
# version of the checkout as it is now; the file is only rewritten when the
# version changed, so a commit recompiles one file.
if(CMAKE_SCRIPT_MODE_FILE AND CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  sondrel_full_version(SONDREL_FULL_VERSION ${BASE} ${SOURCE_DIR})
  configure_file(${IN} ${OUT} @ONLY)
endif()
