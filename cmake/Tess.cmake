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
  # Release binaries ship stripped (most of a driver DLL is the static C++ runtime's
  # symbols); the symbols stay beside the binary in the build folder as <file>.debug,
  # linked by name so that a debugger finds them.
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

# tess_fuzz(name SOURCES ... LIBS ... [SECONDS n]): libFuzzer target (native clang build),
# run by the tests for a bounded time.
function(tess_fuzz name)
  cmake_parse_arguments(T "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT TESS_TESTS OR NOT TESS_SANITIZE OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  if(NOT T_SECONDS)
    set(T_SECONDS 15)
  endif()
  add_executable(${name} ${T_SOURCES})
  tess_warnings(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${T_SECONDS} -print_final_stats=1)
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
