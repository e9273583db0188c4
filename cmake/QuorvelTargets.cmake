# Warnings apply to our own targets only.
function(quorvel_warnings target)
  # asio's coroutine frames trip a false -Wmismatched-new-delete in g++ 12.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-mismatched-new-delete)
endfunction()

# quorvel_library(NAME SOURCES ... PUBLIC ... PRIVATE ...): a shared library of this project.
function(quorvel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  quorvel_warnings(${name})
endfunction()

# quorvel_program(NAME SOURCES ... LIBS ...): a command-line program in build/bin.
function(quorvel_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  quorvel_warnings(${name})
endfunction()

# quorvel_test(NAME SOURCES ... LIBS ... [LABELS ...]): a GoogleTest program registered with ctest.
function(quorvel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/offline_by_default.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quorvel_testing GTest::gmock GTest::gtest_main)
  quorvel_warnings(${name})
  set(props ENVIRONMENT "QUORVEL_HOME=${PROJECT_SOURCE_DIR}")
  if(ARG_LABELS)
    string(REPLACE ";" "\\;" labels "${ARG_LABELS}")
    list(APPEND props LABELS "${labels}")
  endif()
  gtest_discover_tests(${name} PROPERTIES ${props} DISCOVERY_TIMEOUT 60)
endfunction()
