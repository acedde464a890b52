# Shared build settings for our own targets. Third-party headers stay outside -Werror.

add_library(hub_warnings INTERFACE)
target_compile_options(hub_warnings INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(hub_warnings INTERFACE QT_NO_KEYWORDS)

if(HUB_SANITIZE)
  target_compile_options(hub_warnings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined)
  target_link_options(hub_warnings INTERFACE -fsanitize=address,undefined)
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

# Precompiled headers, off by default: measured on our 2-core build machines they do not pay. Most
# of a file's time here is template instantiation and code generation, which a precompiled header
# does not save, and mapping a 120-200 MB header into each compiler costs 1.5-2.5 s of system time
# in page faults on these virtual machines, about what the parsing it saves costs.
# With HUB_PCH on (GCC only), the third-party headers nearly every file reads (Qt Core, QCoro, the
# standard library; for tests also Qt Gui and Network and GoogleTest) are parsed once per build
# tree: one header target for the libraries and programs (hub_pch) and one for the test programs
# and their fixtures (hub_test_pch); hub_precompile_all hands one of them to every other target.
# GCC takes a reused header only while the flags that shape it match: -fPIC (from Qt),
# QT_NO_KEYWORDS (hub_warnings), -pthread (below), the sanitizers; a mismatch fails the build
# (-Winvalid-pch under -Werror) instead of silently parsing everything again. nlohmann/json stays
# out: its string literal operator makes every file that includes it instantiate the whole parser.
option(HUB_PCH "Precompile the common third-party headers (GCC)" OFF)
if(HUB_PCH AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "HUB_PCH needs GCC: clang refuses a header reused under other definitions.")
endif()
if(HUB_PCH)
  # libsecret's flags bring -pthread (and _REENTRANT) to some targets; the header needs one setting.
  target_compile_options(hub_warnings INTERFACE -pthread)
  target_link_options(hub_warnings INTERFACE -pthread)
endif()

# Compiler cache: a build from a fresh clone is mostly hits. The precompiled headers are cached
# too: ccache hashes the .gch a file is compiled with, which needs these sloppinesses (the .gch is
# made moments before its users, and ccache cannot see the #defines inside it).
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(hub_ccache_env)
  if(HUB_PCH)
    list(APPEND hub_ccache_env
         "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime")
  endif()
  if(hub_ccache_env)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env ${hub_ccache_env} ${CCACHE_PROGRAM})
  else()
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  endif()
endif()

# hub_add_pch(name HEADERS ... LIBS ...): a target that only precompiles HEADERS with the flags of
# LIBS and hub_warnings, for hub_precompile_all to hand to the others.
function(hub_add_pch name)
  cmake_parse_arguments(ARG "" "" "HEADERS;LIBS" ${ARGN})
  if(NOT HUB_PCH)
    return()
  endif()
  add_library(${name} OBJECT ${PROJECT_SOURCE_DIR}/cmake/pch.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} hub_warnings)
  target_precompile_headers(${name} PRIVATE ${ARG_HEADERS})
endfunction()

# Whether `target` links GoogleTest, directly or through our libraries.
function(hub_links_gtest target result)
  set(${result} OFF PARENT_SCOPE)
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    if(current MATCHES "^GTest::")
      set(${result} ON PARENT_SCOPE)
      return()
    endif()
    if(NOT TARGET ${current})
      continue()
    endif()
    get_target_property(imported ${current} IMPORTED)
    if(imported)
      continue()
    endif()
    get_target_property(type ${current} TYPE)
    set(links)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${current} LINK_LIBRARIES)
    endif()
    get_target_property(interface_links ${current} INTERFACE_LINK_LIBRARIES)
    foreach(link IN LISTS links interface_links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(link AND NOT link MATCHES "NOTFOUND$")
        list(APPEND pending ${link})
      endif()
    endforeach()
  endwhile()
endfunction()

# hub_precompile_all(): called once every target exists. Each library and program of ours (those
# linking hub_warnings) without a precompiled header of its own reuses hub_test_pch if it links
# GoogleTest, hub_pch otherwise; new folders need no line of their own.
function(hub_precompile_all)
  if(NOT HUB_PCH)
    return()
  endif()
  set(dirs ${PROJECT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$"
         OR target STREQUAL "hub_pch" OR target STREQUAL "hub_test_pch")
        continue()
      endif()
      get_target_property(links ${target} LINK_LIBRARIES)
      get_target_property(own ${target} PRECOMPILE_HEADERS)
      get_target_property(reused ${target} PRECOMPILE_HEADERS_REUSE_FROM)
      # OpenMP's -fopenmp defines _OPENMP, which the standard headers read: such a target parses
      # its headers itself.
      if(NOT "hub_warnings" IN_LIST links OR "OpenMP::OpenMP_CXX" IN_LIST links OR own OR reused)
        continue()
      endif()
      hub_links_gtest(${target} with_gtest)
      if(with_gtest AND TARGET hub_test_pch)
        target_precompile_headers(${target} REUSE_FROM hub_test_pch)
      else()
        target_precompile_headers(${target} REUSE_FROM hub_pch)
      endif()
    endforeach()
  endwhile()
endfunction()

set(HUB_PCH_HEADERS
    <algorithm> <array> <chrono> <cmath> <coroutine> <cstdint> <cstring> <exception> <functional>
    <map> <memory> <mutex> <optional> <set> <stdexcept> <string> <string_view> <unordered_map>
    <utility> <vector>
    <QByteArray> <QCoreApplication> <QCryptographicHash> <QDateTime> <QDir> <QFile> <QFileInfo>
    <QHash> <QList> <QMap> <QObject> <QPointer> <QRegularExpression> <QSet> <QString>
    <QStringList> <QThread> <QTimer> <QUrl> <QUuid> <QVariant>
    <QCoroTask>)
hub_add_pch(hub_pch HEADERS ${HUB_PCH_HEADERS} LIBS Qt6::Core QCoro6::Core)

# The unit tests and everything they run: all that the sanitizer build needs (its build preset
# builds this target only). hub_add_test adds the unit tests; a unit test made otherwise adds itself.
add_custom_target(unit_tests)

# hub_add_library(name SOURCES ...): one static library per subsystem folder.
function(hub_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE hub_warnings)
endfunction()

# hub_add_test_library(name SOURCES ... LIBS ...): fixtures that several test programs share,
# compiled once; its folder is on their include path.
function(hub_add_test_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC hub_test_common ${ARG_LIBS} PRIVATE hub_warnings)
endfunction()

# hub_add_test(name LABEL unit|integration|ui SOURCES ... LIBS ...): one GoogleTest executable,
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
  target_link_libraries(${name} PRIVATE hub_test_support ${ARG_LIBS} hub_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(ARG_LABEL STREQUAL "unit")
    add_dependencies(unit_tests ${name})
  else()
    add_dependencies(${name} tavrilo-standin)
  endif()
endfunction()
