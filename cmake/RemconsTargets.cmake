# Helpers that keep every module's build description inside its own directory.

set(REMCONS_WARNINGS -Wall -Wextra)
# Warnings stop the build only where the compiler is known (the presets and CI): a newer compiler's
# new warning must not break a user's or packager's build.
if(REMCONS_WERROR)
  list(APPEND REMCONS_WARNINGS -Werror)
endif()

function(remcons_apply_flags target)
  target_compile_options(${target} PRIVATE ${REMCONS_WARNINGS})
  if(REMCONS_TSAN)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/TsanClockLock.cpp)
    endif()
  endif()
  if(REMCONS_FUZZ)
    # Coverage for libFuzzer everywhere; the fuzzer's own main is linked only into fuzz/ targets.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                             -fno-sanitize-recover=all -fno-omit-frame-pointer
                                             -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/fuzz/coverage-ignore.txt)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# Test code is glue around the libraries under test: compiled lightly, it builds in half the time.
function(remcons_test_flags target)
  if(REMCONS_FUZZ)
    target_compile_options(${target} PRIVATE -O1 -g1)
  else()
    target_compile_options(${target} PRIVATE -O1 -g0)
  endif()
endfunction()

# remcons_module(<name> SOURCES ... [DEPS ...] [ONLY_HEADERS ...])
# Defines the static library remcons_<name>; headers are included as "<module>/<file>.h".
# A module may include headers of the modules it depends on, directly or through another.
# ONLY_HEADERS ("<module>/<file>.h") are the only headers it includes of their modules, whether it
# depends on them or not (a header-only one needs no link).
# A header without a source file of its own, in a folder of several modules, goes in SOURCES.
function(remcons_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ONLY_HEADERS" ${ARGN})
  add_library(remcons_${name} STATIC ${ARG_SOURCES})
  target_include_directories(remcons_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(remcons_${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  remcons_apply_flags(remcons_${name})
  set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY REMCONS_MODULES ${name})
  foreach(key DIR SOURCES DEPS ONLY_HEADERS)
    set_property(GLOBAL PROPERTY REMCONS_${name}_${key} "${ARG_${key}}")
  endforeach()
endfunction()

# The test "layering": every module's includes checked against the module graph above, without
# compiling anything (cmake/CheckLayering.cmake).
function(remcons_layering_test)
  get_property(modules GLOBAL PROPERTY REMCONS_MODULES)
  set(graph "set(REMCONS_MODULES \"${modules}\")\n")
  foreach(m ${modules})
    foreach(key DIR SOURCES DEPS ONLY_HEADERS)
      get_property(value GLOBAL PROPERTY REMCONS_${m}_${key})
      string(APPEND graph "set(REMCONS_${m}_${key} \"${value}\")\n")
    endforeach()
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/ModuleGraph.cmake "${graph}")
  add_test(NAME layering COMMAND ${CMAKE_COMMAND} -DGRAPH=${PROJECT_BINARY_DIR}/ModuleGraph.cmake
           -DSRC=${PROJECT_SOURCE_DIR}/src -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayering.cmake)
  set_tests_properties(layering PROPERTIES LABELS layering)
endfunction()

# The folder under tests/ that holds the current CMakeLists.txt, a CTest label of its tests.
function(remcons_test_folder out)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" folder "${folder}")
  set(${out} ${folder} PARENT_SCOPE)
endfunction()

# remcons_test(<name> SOURCES ... [DEPS ...] [LABELS ...])
# One GoogleTest executable registered with CTest under its test names, labelled with its folder
# under tests/ (`ctest -L vmedia`) besides any LABELS.
function(remcons_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} remcons_test_support GTest::gtest GTest::gtest_main)
  remcons_apply_flags(${name})
  remcons_test_flags(${name})
  include(GoogleTest)
  remcons_test_folder(folder)
  set(labels ${folder} ${ARG_LABELS})
  set(props TIMEOUT 300 ENVIRONMENT "REMCONS_SOURCE_DIR=${PROJECT_SOURCE_DIR}" LABELS "${labels}")
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
  remcons_test_folder(folder)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS ${folder})
endfunction()

# remcons_fuzz(<source> DEPS ...)
# The fuzz target fuzz/<source>.cpp as a libFuzzer binary <source> (REMCONS_FUZZ builds).
function(remcons_fuzz source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${source} ${PROJECT_SOURCE_DIR}/fuzz/${source}.cpp)
  target_link_libraries(${source} PRIVATE ${ARG_DEPS})
  remcons_apply_flags(${source})
  target_link_options(${source} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz ${source})
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
