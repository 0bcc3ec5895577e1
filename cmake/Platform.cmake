# Which platform the station is built for, and what that platform leaves out. The
# backends themselves are chosen per platform in src/platform/CMakeLists.txt.
#   linux: libusb, Qt, POSIX and /proc backends, benchmarks, soak, Debian package.
#   win32: the Win32 backends; the station's libraries, smdtool, ostrevane-cli and the
#          tests that need no Linux backend, run under Wine when cross-built.
if(WIN32)
  set(OSTREVANE_PLATFORM win32)
  # Qt, Google Benchmark, the fuzzers, the soak (POSIX resource sampling) and the Debian
  # package exist here for Linux only.
  foreach(linux_only QT BENCH SOAK FUZZ)
    set(OSTREVANE_BUILD_${linux_only} OFF CACHE BOOL "Linux only" FORCE)
  endforeach()
  set(OSTREVANE_BUILD_PACKAGING OFF)
  # <windows.h> without its min and max macros, which break std::min and numeric_limits.
  add_compile_definitions(NOMINMAX)
  # Static zlib, so that no zlib1.dll has to travel beside the programs.
  set(ZLIB_USE_STATIC_LIBS ON)
  # The header-only packages are the host's: the same headers serve either target.
  set(nlohmann_json_DIR /usr/share/cmake/nlohmann_json CACHE PATH "")
  set(CLI11_DIR /usr/share/cmake/CLI11 CACHE PATH "")
  if(CMAKE_CROSSCOMPILING)
    # Tests, their discovery and the build's own tools run under Wine's 64-bit loader in
    # a prefix of this build folder (scripts/test windows makes it), quiet, and with no
    # offer to install Mono or Gecko: nothing may wait for a person.
    find_program(OSTREVANE_WINE64 NAMES wine64 HINTS /usr/lib/wine /usr/lib64/wine REQUIRED)
    set(OSTREVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${OSTREVANE_WINEPREFIX} WINEARCH=win64
      WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${OSTREVANE_WINE64})
  endif()
else()
  set(OSTREVANE_PLATFORM linux)
  set(OSTREVANE_BUILD_PACKAGING ON)
endif()

# The header-only packages name the host's /usr/include, whose C headers would stand in
# for the target's: a cross build sees their own folders only, through a folder of links.
function(ostrevane_use_host_headers)
  if(NOT CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${dir})
  foreach(sub nlohmann CLI)
    if(NOT EXISTS ${dir}/${sub})
      file(CREATE_LINK /usr/include/${sub} ${dir}/${sub} SYMBOLIC)
    endif()
  endforeach()
  foreach(target IN LISTS ARGN)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${dir})
  endforeach()
endfunction()

# GoogleTest for a cross build: Debian ships its sources, built here with the cross
# compiler under the names find_package(GTest) gives on the host.
macro(ostrevane_find_gtest)
  if(CMAKE_CROSSCOMPILING)
    set(OSTREVANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${OSTREVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()
