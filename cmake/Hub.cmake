# Shared build settings for our own targets. Third-party headers stay outside -Werror.

add_library(hub_warnings INTERFACE)
target_compile_options(hub_warnings INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(hub_warnings INTERFACE QT_NO_KEYWORDS)

if(HUB_SANITIZE)
  target_compile_options(hub_warnings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined)
  target_link_options(hub_warnings INTERFACE -fsanitize=address,undefined)
endif()

# hub_add_library(name SOURCES ...): one static library per subsystem folder.
function(hub_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE hub_warnings)
endfunction()

# hub_add_test(name LABEL unit|integration|ui SOURCES ... LIBS ...): one GoogleTest executable,
# registered with CTest under its label.
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
endfunction()
