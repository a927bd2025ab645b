# Build helpers shared by every subsystem folder.

set(TESS_WARNINGS -Wall -Wextra -Werror)

if(NOT WIN32 AND TESS_SANITIZE)
  set(TESS_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${TESS_SAN_FLAGS})
  add_link_options(${TESS_SAN_FLAGS})
endif()

if(WIN32)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  if(TESS_TESTS)
    # Windows test programs run through Wine in a private prefix inside the build folder:
    # x64 under the machine's wine64, x86 under 32-bit Wine in QEMU user-mode emulation
    # (the x86 lane, tools/x86), which runs only the programs its list names.
    set(TESS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
      set(TESS_WINE_TOOLS ${CMAKE_SOURCE_DIR}/tools/wine)
      set(TESS_RUN_WINE_TESTS ON)
    else()
      set(TESS_WINE_TOOLS ${CMAKE_SOURCE_DIR}/tools/x86)
      set(TESS_X86_LANE ON)
      include(${TESS_WINE_TOOLS}/Lane.cmake)
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TESS_WINE_TOOLS}/run.sh ${TESS_WINEPREFIX})
  endif()
endif()

function(tess_warnings target)
  target_compile_options(${target} PRIVATE ${TESS_WARNINGS})
endfunction()

# Prefix initialised once before the Wine tests; its wineserver stopped after them.
function(tess_wine_fixture)
  if(TESS_RUN_WINE_TESTS OR TESS_X86_LANE)
    add_test(NAME wine.prefix.init COMMAND ${TESS_WINE_TOOLS}/init.sh ${TESS_WINEPREFIX})
    set_tests_properties(wine.prefix.init PROPERTIES FIXTURES_SETUP wine TIMEOUT 900)
    add_test(NAME wine.prefix.stop COMMAND ${TESS_WINE_TOOLS}/stop.sh ${TESS_WINEPREFIX})
    set_tests_properties(wine.prefix.stop PROPERTIES FIXTURES_CLEANUP wine)
  endif()
endfunction()

# A deliverable: installed into the staged package by `make package`.
function(tess_deliverable target)
  set_target_properties(${target} PROPERTIES PREFIX "")
  install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT deliverable LIBRARY DESTINATION . COMPONENT deliverable)
  tess_strip_release(${target})
endfunction()

# Release binaries ship stripped (most of a driver DLL is the static C++ runtime's
# symbols); the symbols stay beside the binary in the build folder as <file>.debug,
# linked by name so that a debugger finds them.
function(tess_strip_release target)
  if(WIN32 AND CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_OBJCOPY AND CMAKE_STRIP)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
      COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
      COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
      VERBATIM)
  endif()
endfunction()

# tess_native_test(name SOURCES ... LIBS ...): GoogleTest program of the portable core.
function(tess_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT TESS_TESTS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  tess_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# tess_wine_test(name SOURCES ... LIBS ... [ARGS ...]): Windows test program run under Wine.
function(tess_wine_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ARGS;DEPENDS" ${ARGN})
  if(NOT WIN32 OR NOT TESS_TESTS)
    return()
  endif()
  # The x86 build compiles only the programs its lane runs (see tools/x86/Lane.cmake).
  set(lane_filter "")
  if(TESS_X86_LANE)
    tess_x86_lane_filter(${name} lane_filter)
  endif()
  if(TESS_X86_LANE AND NOT lane_filter)
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
  else()
    add_executable(${name} ${T_SOURCES})
  endif()
  tess_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  if(TESS_X86_LANE)
    if(lane_filter)
      add_test(NAME x86.${name} COMMAND ${name} ${T_ARGS} --gtest_filter=${lane_filter})
      set_tests_properties(x86.${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${TESS_X86_TIMEOUT})
    endif()
  elseif(TESS_RUN_WINE_TESTS)
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600)
  endif()
endfunction()

# tess_fuzz(name SOURCES ... LIBS ... [SECONDS n] [CORPUS dir] [DICT file]): libFuzzer target
# (native clang sanitizer build), run by the tests for a bounded time and by `make fuzz` for
# long runs. CORPUS holds the seed inputs and the regression inputs of past findings, DICT
# the input's magic words; they default to fuzz/<name>/corpus and fuzz/<name>/<name>.dict
# under the calling folder when those exist. New inputs go to the build folder's
# fuzz/<name>/corpus, which persists between runs; crashes to fuzz/<name>/.
# Every library the target links (and what they link) is compiled with coverage
# instrumentation, so the fuzzer steers by the code under test, not by the harness alone.
function(tess_fuzz name)
  cmake_parse_arguments(T "" "SECONDS;CORPUS;DICT" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT TESS_TESTS OR NOT TESS_SANITIZE OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  if(NOT T_SECONDS)
    set(T_SECONDS 15)
  endif()
  set(own ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name})
  if(NOT T_CORPUS AND IS_DIRECTORY ${own}/corpus)
    set(T_CORPUS ${own}/corpus)
  endif()
  if(NOT T_DICT AND EXISTS ${own}/${name}.dict)
    set(T_DICT ${own}/${name}.dict)
  endif()
  set(seeds "")
  set(dict "")
  if(T_CORPUS)
    get_filename_component(seeds ${T_CORPUS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(T_DICT)
    get_filename_component(dict ${T_DICT} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()

  add_executable(${name} ${T_SOURCES})
  tess_warnings(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  set_target_properties(${name} PROPERTIES TESS_FUZZ_LIBS "${T_LIBS}" TESS_FUZZ_SEEDS "${seeds}"
                                           TESS_FUZZ_DICT "${dict}")

  set(work ${CMAKE_BINARY_DIR}/fuzz/${name})
  set(args -print_final_stats=1 -create_missing_dirs=1 -artifact_prefix=${work}/)
  if(dict)
    list(APPEND args -dict=${dict})
  endif()
  # The first folder receives new inputs; the seeds are only read.
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${T_SECONDS} ${args} ${work}/corpus ${seeds})
  set_tests_properties(${name} PROPERTIES LABELS fuzz)

  get_property(pending GLOBAL PROPERTY TESS_FUZZ_TARGETS)
  if(NOT pending)
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _tess_fuzz_finish)
  endif()
  set_property(GLOBAL APPEND PROPERTY TESS_FUZZ_TARGETS ${name})
endfunction()

# Coverage instrumentation for a library and the project libraries it links. Unit tests
# that link the same libraries still link without libFuzzer: the sanitizer runtime
# provides the coverage callbacks.
function(_tess_fuzz_instrument lib)
  string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
  if(NOT TARGET ${lib})
    return()
  endif()
  get_target_property(imported ${lib} IMPORTED)
  get_target_property(type ${lib} TYPE)
  get_target_property(done ${lib} TESS_FUZZ_INSTRUMENTED)
  if(imported OR done OR NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY|SHARED_LIBRARY)$")
    return()
  endif()
  set_target_properties(${lib} PROPERTIES TESS_FUZZ_INSTRUMENTED ON)
  target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  get_target_property(deps ${lib} LINK_LIBRARIES)
  if(deps)
    foreach(dep IN LISTS deps)
      _tess_fuzz_instrument(${dep})
    endforeach()
  endif()
endfunction()

# Run once the whole tree is configured, so that libraries defined after their fuzz target
# are instrumented too; lists the targets for `make fuzz` (tools/fuzz.sh).
function(_tess_fuzz_finish)
  get_property(targets GLOBAL PROPERTY TESS_FUZZ_TARGETS)
  set(listing "")
  foreach(name IN LISTS targets)
    get_target_property(libs ${name} TESS_FUZZ_LIBS)
    get_target_property(seeds ${name} TESS_FUZZ_SEEDS)
    get_target_property(dict ${name} TESS_FUZZ_DICT)
    foreach(lib IN LISTS libs)
      _tess_fuzz_instrument(${lib})
    endforeach()
    string(APPEND listing "${name}\t$<TARGET_FILE:${name}>\t${seeds}\t${dict}\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/targets.tsv CONTENT "${listing}")
  add_custom_target(fuzz_targets DEPENDS ${targets})
endfunction()

# tess_benchmark(name SOURCES ... LIBS ...): Google Benchmark program (native release build).
function(tess_benchmark name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT TESS_BENCH)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${T_SOURCES})
  tess_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY TESS_BENCHMARKS ${name})
endfunction()
