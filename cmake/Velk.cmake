# Shared build rules: warnings, sanitizers, and one static library per source folder.

set(VELK_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND VELK_WARNINGS -Wshadow=local)
endif()

if(VELK_SANITIZE AND VELK_TSAN)
  message(FATAL_ERROR "VELK_SANITIZE and VELK_TSAN are separate builds")
endif()
if(VELK_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(VELK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Headers that nearly every file includes, compiled once per target when VELK_PCH is on. Off by
# default: with one translation unit per target they only add work, and ccache reuses no object
# compiled against a precompiled header of another build.
set(VELK_PCH_HEADERS <string> <vector> <optional> <map> <functional> <memory> <chrono> <nlohmann/json.hpp>)
set(VELK_TEST_PCH ${VELK_PCH_HEADERS} <gtest/gtest.h> <gmock/gmock.h>)

# velk_compile_as_one(TARGET): with VELK_UNITY, the target's .cpp files are compiled as one
# translation unit, a generated file that includes each by its path from the project's root. The
# files stay in the target's sources as headers, for tools and for the rebuild when one changes.
# CMake's own unity files name the sources by absolute path, which reaches __FILE__ and so the
# compiler cache's hash: another clone of the project would then miss every object.
function(velk_compile_as_one target)
  if(NOT VELK_UNITY)
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  set(content "// Generated: the sources of ${target}, compiled as one translation unit.\n")
  set(count 0)
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "\\.cpp$")
      continue()
    endif()
    if(NOT IS_ABSOLUTE "${source}")
      set(source "${CMAKE_CURRENT_SOURCE_DIR}/${source}")
    endif()
    file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${source}")
    string(APPEND content "#include \"${relative}\"\n")
    set_source_files_properties("${source}" PROPERTIES HEADER_FILE_ONLY ON)
    math(EXPR count "${count} + 1")
  endforeach()
  if(count LESS 2)
    return()
  endif()
  set(unity "${CMAKE_CURRENT_BINARY_DIR}/${target}_unity.cpp")
  file(CONFIGURE OUTPUT "${unity}" CONTENT "${content}")
  target_sources(${target} PRIVATE "${unity}")
  # Last, so that "src/…" and "tests/…" find only the project's files.
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}")
endfunction()

# velk_library(NAME DEPENDS dep...): a static library of every .cpp in the calling folder.
# Headers are included from src/ as "folder/file.hpp".
function(velk_library name)
  cmake_parse_arguments(ARG "AUTOMOC" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  file(GLOB headers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.hpp")
  add_library(${name} STATIC ${sources} ${headers})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_compile_options(${name} PRIVATE ${VELK_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  if(VELK_PCH)
    target_precompile_headers(${name} PRIVATE ${VELK_PCH_HEADERS})
  endif()
  if(ARG_AUTOMOC)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
  velk_compile_as_one(${name})
endfunction()

# velk_test(NAME DEPENDS dep... [LABELS l...] [AUTOMOC] [WIDGETS]): one GoogleTest program of every
# .cpp in the calling folder, each test case registered with ctest. WIDGETS adds the leak checker's
# suppression of what the font stack keeps for the life of the process.
function(velk_test name)
  cmake_parse_arguments(ARG "AUTOMOC;WIDGETS" "" "DEPENDS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_executable(${name} ${sources})
  # Test programs are not optimised: what they test is built with the project's flags, and
  # optimising the test code itself cost half of its compile time. Under ThreadSanitizer they are,
  # as its unoptimised test code ran slower by more than its compile saved.
  set(test_optimisation -O0)
  if(VELK_TSAN)
    set(test_optimisation -O1)
  endif()
  target_compile_options(${name} PRIVATE ${VELK_WARNINGS} ${test_optimisation})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
  # Every program records how its cases ended (tests/test_record.hpp) and knows where the build's
  # files are (tests/support/build_paths.hpp).
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} velk_test_common velk_build_paths GTest::gmock GTest::gtest_main)
  if(ARG_WIDGETS)
    target_link_libraries(${name} PRIVATE velk_widget_test_suppressions)
  endif()
  if(VELK_PCH)
    target_precompile_headers(${name} PRIVATE ${VELK_TEST_PCH})
  endif()
  if(ARG_AUTOMOC)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
  velk_compile_as_one(${name})
  # ctest names are the cases' own names: a printed parameter may hold pointer bytes, so every
  # parameterised suite names its cases (scripts/check-test-runs refuses index-only names).
  gtest_discover_tests(${name}
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# velk_test_on_desktops(NAME CASES pattern... [DESKTOPS GNOME|none...] [SCREEN_READER]
# [SCREEN_READER_KEYS mode] [SERIAL]): these
# cases ("Suite.*" or "Suite.Case") of a widget test program run again on an X server of their own
# (tests/support/on_xvfb, the xcb platform), once under Qt's GNOME platform theme and once under
# none (or as DESKTOPS says), since a keyboard rule that holds only offscreen does not hold where
# people work. Their ctest names are the cases' own with ".xcb_gnome" or ".xcb_plain" after
# them. SCREEN_READER: instead with a screen reader's session (on_xvfb --screen-reader: Qt's AT-SPI
# bridge takes every key event and sends it again without its time stamp), named
# ".xcb_gnome_screen_reader" or ".xcb_plain_screen_reader". SCREEN_READER_KEYS: a screen reader's
# session whose listener also listens to keys as on_xvfb --screen-reader-keys says ("late",
# "keep-keypad-enter"), named ".xcb_plain_screen_reader_late" and so on. Only the build without
# sanitizers runs them. SERIAL: alone, as cases that load every processor must.
function(velk_test_on_desktops name)
  cmake_parse_arguments(ARG "SCREEN_READER;SERIAL" "SCREEN_READER_KEYS" "CASES;DESKTOPS" ${ARGN})
  if(NOT ARG_DESKTOPS)
    set(ARG_DESKTOPS GNOME none)
  endif()
  if(VELK_SANITIZE OR VELK_TSAN)
    return()
  endif()
  set(runner "${PROJECT_SOURCE_DIR}/tests/support/on_xvfb")
  set(session "")
  if(ARG_SCREEN_READER_KEYS)
    list(APPEND runner --screen-reader-keys ${ARG_SCREEN_READER_KEYS})
    string(REPLACE "-" "_" session "_screen_reader_${ARG_SCREEN_READER_KEYS}")
  elseif(ARG_SCREEN_READER)
    list(APPEND runner --screen-reader)
    set(session _screen_reader)
  endif()
  string(JOIN ":" filter ${ARG_CASES})
  foreach(desktop IN LISTS ARG_DESKTOPS)
    set(suffix gnome)
    if(desktop STREQUAL "none")
      set(suffix plain)
    endif()
    # The runner comes in as the program's emulator, which the discovery reads at this call.
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${runner} ${desktop})
    gtest_discover_tests(${name}
      NO_PRETTY_VALUES
      DISCOVERY_TIMEOUT 60
      TEST_FILTER "${filter}"
      TEST_SUFFIX ".xcb_${suffix}${session}"
      PROPERTIES LABELS "xcb" RUN_SERIAL "${ARG_SERIAL}")
  endforeach()
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR "")
endfunction()
