# SPDX-License-Identifier: GPL-3.0-or-later
# Core libraries are plain C++: every .cpp in the folder is compiled, and a
# test (core_is_qt_free) fails the suite if any of them reaches for Qt.
function(sondrel_core_library name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# One GoogleTest executable per test file: tests/<dir>/<name>_test.cpp
# becomes <dir>_<name>, so a test being written cannot break another's build.
function(sondrel_test_dir dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  foreach(_src ${_srcs})
    get_filename_component(_base ${_src} NAME_WE)
    string(REGEX REPLACE "_test$" "" _base ${_base})
    set(_exe ${dir}_${_base})
    add_executable(${_exe} ${_src})
    # Widget tests need a QApplication that outlives every test: their own main.
    if(dir STREQUAL "shell" OR dir STREQUAL "media")
      set(_main sondrel_qt_test_main)
    else()
      set(_main GTest::gtest_main)
    endif()
    target_link_libraries(${_exe} PRIVATE ${ARGN} sondrel_test_support
      ${_main} GTest::gtest GTest::gmock)
    target_include_directories(${_exe} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(${_exe} PRIVATE
      SONDREL_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
      SONDREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    gtest_discover_tests(${_exe} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endforeach()
endfunction()
