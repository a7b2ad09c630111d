# SPDX-License-Identifier: GPL-3.0-or-later
# The shell's windows must not include each other in a cycle: only the main
# window may know the main window and the progress window; the tag editor and
# the file list see ProgressSink, the progress window sees TrayHost.
file(GLOB files ${SRC}/shell/*.h ${SRC}/shell/*.cpp)
foreach(header main_window progress_window)
  foreach(f ${files})
    get_filename_component(name ${f} NAME_WE)
    # main_window_*.cpp files are parts of the main window itself.
    if(name MATCHES "^main_window" OR name STREQUAL header)
      continue()
    endif()
    file(STRINGS ${f} hits REGEX "^[ \t]*#[ \t]*include[ \t]*\"shell/${header}\\.h\"")
    if(hits)
      message(FATAL_ERROR "${f} includes shell/${header}.h: ${hits}")
    endif()
  endforeach()
endforeach()
message(STATUS "shell includes have no cycle")
