# GoogleTest, cross-built from Debian's sources under /usr/src/googletest.
set(GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources missing at ${GOOGLETEST_SOURCE}: install googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

find_package(Python3 COMPONENTS Interpreter REQUIRED)

# Every test's verdict comes from what it proved, not only from its exit status
# (a program that overflows its stack under Wine can end with status 0).
set(RECOVERY_VERDICT ${CMAKE_CURRENT_LIST_DIR}/verdict.py)
set(RECOVERY_GTEST_RUNNER ${Python3_EXECUTABLE} ${RECOVERY_VERDICT} --gtest -- ${CMAKE_BINARY_DIR}/wine-run)

# recovery_add_gtest(NAME SOURCES a.cpp ... [LIBS x y] [PROPERTIES ...])
# One executable; its cases are listed under Wine when ctest starts, and each runs
# through the verdict runner.
function(recovery_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${RECOVERY_GTEST_RUNNER})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    PROPERTIES SKIP_RETURN_CODE 77 ${T_PROPERTIES})
endfunction()

# recovery_add_check(NAME COMMAND cmd args... [PROPERTIES ...])
# A check script (Python or shell): it passes only with exit status 0 and the line
# "ALL CHECKS PASSED" as the last line of its output.
function(recovery_add_check name)
  cmake_parse_arguments(T "" "" "COMMAND;PROPERTIES" ${ARGN})
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${RECOVERY_VERDICT} --check -- ${T_COMMAND})
  if(T_PROPERTIES)
    set_tests_properties(${name} PROPERTIES ${T_PROPERTIES})
  endif()
endfunction()
