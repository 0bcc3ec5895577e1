# Warning flags and sanitizer flags shared by every target of the project.
# ostrevane_add_library() and ostrevane_add_test() apply them.
add_library(ostrevane_options INTERFACE)
target_compile_options(ostrevane_options INTERFACE -Wall -Wextra -Wpedantic)
# Warnings stop the project's own builds (scripts/test, CI); a packager's or a newer
# compiler's build still sees them but is not broken by them.
if(OSTREVANE_WERROR)
  target_compile_options(ostrevane_options INTERFACE -Werror)
endif()
target_include_directories(ostrevane_options INTERFACE ${PROJECT_SOURCE_DIR}/src
  ${PROJECT_BINARY_DIR}/generated)

# The version the executables print comes from project(); nothing else carries it.
configure_file(${CMAKE_CURRENT_LIST_DIR}/ostrevane_version.h.in
  ${PROJECT_BINARY_DIR}/generated/ostrevane_version.h @ONLY)

if(OSTREVANE_SANITIZE)
  string(REPLACE "," ";" _sanitizers "${OSTREVANE_SANITIZE}")
  foreach(_s IN LISTS _sanitizers)
    add_compile_options(-fsanitize=${_s})
    add_link_options(-fsanitize=${_s})
  endforeach()
  add_compile_options(-fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fno-sanitize-recover=all)
endif()

# ostrevane_add_library(name SOURCES... [DEPS libs...])
function(ostrevane_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ostrevane_options ${ARG_DEPS})
endfunction()

include(GoogleTest)

# A case that hangs fails at its timeout instead of holding the suite for ten minutes.
# Most cases need seconds; the sanitizer builds run several times slower and scale every
# timeout by this factor (CTest 3.25 has no multiplier of its own).
if(OSTREVANE_SANITIZE MATCHES "thread")
  set(_timeout_scale 6)
elseif(OSTREVANE_SANITIZE)
  set(_timeout_scale 3)
else()
  set(_timeout_scale 1)
endif()
set(OSTREVANE_TEST_TIMEOUT_SCALE ${_timeout_scale} CACHE STRING
  "Factor on every test case's timeout (3 for AddressSanitizer, 6 for ThreadSanitizer)")
# However slow the build, a case still running after ten minutes is hung, not slow: the
# cap keeps one hang from holding a sanitizer pass for longer.
set(OSTREVANE_TEST_TIMEOUT_CAP 600)

# ostrevane_add_test(name SOURCES... [DEPS libs...] [LABELS labels...] [ENVIRONMENT vars...]
#                    [TIMEOUT seconds] [RESOURCE_LOCK name])
# Every GoogleTest case becomes its own CTest test named "<folder>/<Suite>.<Case>", so a
# failure names the case and `ctest -R` runs one. Each case carries the label of its
# folder under tests/ (`ctest -L image`) and the given LABELS: "threads" marks a test
# that starts threads, and the ThreadSanitizer pass runs those. ENVIRONMENT adds
# variables ("NAME=value") to every case's environment. TIMEOUT is each case's limit in
# the plain build (60 s unless given), times OSTREVANE_TEST_TIMEOUT_SCALE, and never more
# than OSTREVANE_TEST_TIMEOUT_CAP. RESOURCE_LOCK names something outside the test that
# its cases change (the Windows user's settings key): no two cases that name it run at once.
# Sources named in OSTREVANE_SKIPPED_TEST_SOURCES (tests/CMakeLists.txt) are left out;
# a test left with none is not made.
function(ostrevane_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;RESOURCE_LOCK" "SOURCES;DEPS;LABELS;ENVIRONMENT" ${ARGN})
  if(OSTREVANE_SKIPPED_TEST_SOURCES)
    list(REMOVE_ITEM ARG_SOURCES ${OSTREVANE_SKIPPED_TEST_SOURCES})
  endif()
  if(NOT ARG_SOURCES)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  math(EXPR timeout "${ARG_TIMEOUT} * ${OSTREVANE_TEST_TIMEOUT_SCALE}")
  if(ARG_TIMEOUT GREATER OSTREVANE_TEST_TIMEOUT_CAP)
    message(FATAL_ERROR "${name}: a TIMEOUT of ${ARG_TIMEOUT} s passes the cap of "
      "${OSTREVANE_TEST_TIMEOUT_CAP} s even unscaled")
  endif()
  if(timeout GREATER OSTREVANE_TEST_TIMEOUT_CAP)
    set(timeout ${OSTREVANE_TEST_TIMEOUT_CAP})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ostrevane_options ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  # The listing runs right after the link; a sanitizer build on a busy machine starts slowly.
  # Cross-built tests are listed when CTest runs them, under the emulator and in its
  # environment (the Wine prefix), not at link time.
  set(discovery_mode POST_BUILD)
  if(CMAKE_CROSSCOMPILING)
    set(discovery_mode PRE_TEST)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE ${discovery_mode}
    TEST_PREFIX "${folder}/"
    TEST_LIST ${name}_cases
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${timeout})
  # The labels are set by a script of their own that CTest reads after the discovered
  # cases: through the discovery's PROPERTIES a list of labels would be split apart.
  set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${label_script}
    "if(${name}_cases)\n"
    "  set_tests_properties(\${${name}_cases} PROPERTIES LABELS \"${folder};${ARG_LABELS}\")\n")
  if(ARG_ENVIRONMENT)
    # CTest's scripts know set_tests_properties only: the whole environment is set again.
    list(PREPEND ARG_ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    file(APPEND ${label_script}
      "  set_tests_properties(\${${name}_cases} PROPERTIES ENVIRONMENT \"${ARG_ENVIRONMENT}\")\n")
  endif()
  if(ARG_RESOURCE_LOCK)
    file(APPEND ${label_script}
      "  set_tests_properties(\${${name}_cases} PROPERTIES RESOURCE_LOCK \"${ARG_RESOURCE_LOCK}\")\n")
  endif()
  file(APPEND ${label_script} "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
endfunction()
