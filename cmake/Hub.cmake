# Shared build settings for our own targets. Third-party headers stay outside -Werror.

add_library(hub_warnings INTERFACE)
target_compile_options(hub_warnings INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(hub_warnings INTERFACE QT_NO_KEYWORDS)

if(HUB_SANITIZE)
  target_compile_options(hub_warnings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fsanitize=float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow)
  target_link_options(hub_warnings INTERFACE -fsanitize=address,undefined,float-cast-overflow)
endif()

# LLVM's linker (scripts/setup installs it) links every program, three times as fast as the default
# one on a test program; gold where it is missing.
include(CheckLinkerFlag)
set(HUB_LINKER "" CACHE STRING "Linker for -fuse-ld= (empty: lld, else gold, whichever works)")
if(NOT HUB_LINKER)
  foreach(candidate lld gold)
    check_linker_flag(CXX "-fuse-ld=${candidate}" HUB_LINKER_${candidate}_WORKS)
    if(HUB_LINKER_${candidate}_WORKS)
      set(HUB_LINKER ${candidate} CACHE STRING "Linker for -fuse-ld=" FORCE)
      break()
    endif()
  endforeach()
endif()
if(HUB_LINKER)
  add_link_options(-fuse-ld=${HUB_LINKER})
endif()

# Unity builds for the product's libraries: most of a source's compile time is the Qt and JSON
# headers it parses and the inline code it emits again in every object; compiling a few sources of
# one library as one does that once per batch. Tests keep one object per source: their files share
# fixture names that only an object of their own keeps apart.
set(CMAKE_UNITY_BUILD_BATCH_SIZE 8)

# Compiler cache: a build from a fresh clone is mostly hits.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

# The unit tests and everything they run: all that the sanitizer build needs (its build preset
# builds this target only). hub_add_test adds the unit tests; a unit test made otherwise adds itself.
add_custom_target(unit_tests)

# The tests' own sources are compiled at -O1 in optimised builds: how fast a test's code runs does not
# matter, and their large GoogleTest files compile a fifth faster. The code under test keeps the
# build's own optimisation, so the tests run the product as it ships.
add_library(hub_test_optimisation INTERFACE)
target_compile_options(hub_test_optimisation INTERFACE $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-O1>)

# hub_unity_build(target): compiles the target's sources in batches. A coroutine's frame in a unity
# source holds locals of types from the sources it includes, which GCC takes for a header's types
# with internal linkage; nothing of them is shared between objects.
function(hub_unity_build target)
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
  target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
endfunction()

# hub_add_library(name SOURCES ...): one static library per subsystem folder.
function(hub_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE hub_warnings)
  hub_unity_build(${name})
endfunction()

# hub_add_test_library(name SOURCES ... LIBS ...): fixtures that several test programs share,
# compiled once; its folder is on their include path.
function(hub_add_test_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC hub_test_common ${ARG_LIBS} PRIVATE hub_warnings hub_test_optimisation)
endfunction()

# hub_add_test(name LABEL unit|integration|ui|tool SOURCES ... LIBS ...): one GoogleTest executable,
# registered with CTest under its label. Tests other than unit tests may start the stand-in, which
# is then built before them.
function(hub_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE hub_test_support ${ARG_LIBS} hub_warnings hub_test_optimisation)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(ARG_LABEL STREQUAL "unit")
    add_dependencies(unit_tests ${name})
  else()
    add_dependencies(${name} tavrilo-standin)
  endif()
endfunction()
