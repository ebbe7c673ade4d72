# ovled_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [RESOURCE_LOCK ...] [TIMEOUT s] [WRAPPER script])
# Builds a googletest executable and registers it with ctest through run-gtest.sh, which passes only
# when the executable exits 0 AND printed googletest's final summary with at least one passed test and
# no failure. An executable that never ran (a 32-bit PE without wine32, a missing DLL, a crash before
# main) therefore fails instead of counting as a pass.
# WRAPPER: a script that prepares what the test needs (a daemon, say), runs the rest of the command line
# and tears down; it exits 77 to report the test as skipped where the preparation is impossible.
set(OVLED_RUN_GTEST ${CMAKE_CURRENT_LIST_DIR}/run-gtest.sh)
set(OVLED_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "private Wine prefix of this build")

function(ovled_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT;WRAPPER" "SOURCES;LIBS;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main ovled_options)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
  else()
    set(runner "")
  endif()
  # The emulator is spelled out by hand: ctest prepends CMAKE_CROSSCOMPILING_EMULATOR only when the
  # command itself is a target, and here the command is the checking script.
  add_test(NAME ${name} COMMAND ${T_WRAPPER} ${OVLED_RUN_GTEST} ${runner} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  if(T_WRAPPER)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  if(WIN32)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEPREFIX=${OVLED_WINEPREFIX}")
  endif()
endfunction()
