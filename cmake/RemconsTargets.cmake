# Helpers that keep every module's build description inside its own directory.

set(REMCONS_WARNINGS -Wall -Wextra)
# Warnings stop the build only where the compiler is known (the presets and CI): a newer compiler's
# new warning must not break a user's or packager's build.
if(REMCONS_WERROR)
  list(APPEND REMCONS_WARNINGS -Werror)
endif()

function(remcons_apply_flags target)
  target_compile_options(${target} PRIVATE ${REMCONS_WARNINGS})
  if(REMCONS_SANITIZE)
    # GCC's uninitialised-use analysis misfires on sanitizer-instrumented standard headers.
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined
                                             -Wno-maybe-uninitialized)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# Test code is glue around the libraries under test: compiled lightly, it builds in half the time.
function(remcons_test_flags target)
  if(REMCONS_SANITIZE)
    target_compile_options(${target} PRIVATE -O1 -g1)
  else()
    target_compile_options(${target} PRIVATE -O1 -g0)
  endif()
endfunction()

# remcons_module(<name> SOURCES ... [DEPS ...])
# Defines the static library remcons_<name>; headers are included as "<module>/<file>.h".
function(remcons_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(remcons_${name} STATIC ${ARG_SOURCES})
  target_include_directories(remcons_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(remcons_${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  remcons_apply_flags(remcons_${name})
endfunction()

# remcons_test(<name> SOURCES ... [DEPS ...] [LABELS ...])
# One GoogleTest executable registered with CTest under its test names.
function(remcons_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} remcons_test_support GTest::gtest GTest::gtest_main)
  remcons_apply_flags(${name})
  remcons_test_flags(${name})
  include(GoogleTest)
  set(props TIMEOUT 300 ENVIRONMENT "REMCONS_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# remcons_bench(<name> SOURCES ... [DEPS ...])
function(remcons_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  remcons_apply_flags(${name})
endfunction()

# remcons_fuzz_replay(<name> <source> DRIVER <file> [DEPS ...] [ARGS ...])
# The fuzz target fuzz/<source>.cpp linked with a driver of the tests' that runs it over generated
# or mutated inputs (a libFuzzer build uses the same source), registered as the test <name>.
function(remcons_fuzz_replay name source)
  cmake_parse_arguments(ARG "" "DRIVER" "DEPS;ARGS" ${ARGN})
  add_executable(${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/${source}.cpp ${ARG_DRIVER})
  target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS})
  remcons_apply_flags(${name}_replay)
  add_test(NAME ${name} COMMAND ${name}_replay ${ARG_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# Adds every direct subdirectory of the current source directory that has a CMakeLists.txt.
function(remcons_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
