# Warnings apply to our own targets only.
function(quorvel_warnings target)
  # asio's coroutine frames trip a false -Wmismatched-new-delete in g++ 12.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-mismatched-new-delete)
endfunction()

# quorvel_include_root(TARGET SCOPE): gives TARGET an include root of its own in the build tree. It
# holds the headers of the folders TARGET's sources live in (an INTERFACE library: of its folder),
# as symbolic links under their usual names ("tarnel/bar_store.h", "contracts/clock.h"), so
# diagnostics and editors still lead to the source files. Code sees the headers of the libraries it
# links and no others: a library boundary is a fact of the build, not a convention.
function(quorvel_include_root target scope)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  get_target_property(type ${target} TYPE)
  set(dirs "")
  if(type STREQUAL "INTERFACE_LIBRARY")
    list(APPEND dirs ${CMAKE_CURRENT_SOURCE_DIR})
  else()
    get_target_property(sources ${target} SOURCES)
    foreach(source IN LISTS sources)
      get_filename_component(path ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      get_filename_component(dir ${path} DIRECTORY)
      list(APPEND dirs ${dir})
    endforeach()
    list(REMOVE_DUPLICATES dirs)
  endif()
  foreach(dir IN LISTS dirs)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/src ${dir})
    if(rel MATCHES "^\\.\\.")
      file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${dir})
    endif()
    file(GLOB headers CONFIGURE_DEPENDS ${dir}/*.h)
    file(MAKE_DIRECTORY ${root}/${rel})
    foreach(header IN LISTS headers)
      get_filename_component(file_name ${header} NAME)
      file(CREATE_LINK ${header} ${root}/${rel}/${file_name} SYMBOLIC)
    endforeach()
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# quorvel_library(NAME SOURCES ... PUBLIC ... PRIVATE ...): a shared library of this project, with
# its own include root and no symbol left to be found at run time.
function(quorvel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  quorvel_include_root(${name} PUBLIC)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  # Every symbol a library uses must come from a library it names. The sanitizer runtimes resolve
  # their own symbols at load time, so those builds leave the check out.
  if(NOT QUORVEL_SANITIZE AND NOT QUORVEL_TSAN AND NOT QUORVEL_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  quorvel_warnings(${name})
endfunction()

# quorvel_program(NAME SOURCES ... LIBS ...): a command-line program in build/bin.
function(quorvel_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # A program sees the headers of its own folder (its output tables) and of the libraries it links.
  quorvel_include_root(${name} PRIVATE)
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

# quorvel_add_folders(DIR ...): adds each listed folder below the current one. A folder named in
# QUORVEL_EXCLUDE is left out with a note; a listed folder without a CMakeLists.txt stops the
# configuration instead of being skipped.
function(quorvel_add_folders)
  foreach(dir IN LISTS ARGN)
    if(dir IN_LIST QUORVEL_EXCLUDE)
      message(STATUS "Left out of this build (QUORVEL_EXCLUDE): ${dir}")
      continue()
    endif()
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${dir} is listed but has no CMakeLists.txt")
    endif()
    add_subdirectory(${dir})
  endforeach()
endfunction()
