# Shared build helpers.

# A library that other programs load: only the names marked OMX_EXPORT are visible.
function(ombrix_shared_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  # Static code linked in (platform stand-ins, ini files) stays private to each library.
  target_link_options(${name} PRIVATE "LINKER:--exclude-libs,ALL")
  install(TARGETS ${name} LIBRARY DESTINATION system)
endfunction()

# A GoogleTest program beside its code; each test runs as its own CTest case (own process,
# so tests may set OMBRIX_ROOT freely).
function(ombrix_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ombrix_testsupport GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-bin)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30
                       PROPERTIES ENVIRONMENT "OMBRIX_SYSTEM_DIR=${OMBRIX_SYSTEM_DIR}")
endfunction()

# A test of windows: Qt offscreen, with the window tests' own main.
function(ombrix_window_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  ombrix_test(${name} SOURCES ${ARG_SOURCES} LIBS ombrix_qt_test_main ${ARG_LIBS})
endfunction()
