# Every third-party library comes from Debian's packages, except TA-Lib which scripts/setup.sh
# builds into third_party/ta-lib.
find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(CLI11 REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(date REQUIRED)
find_package(yaml-cpp REQUIRED)
find_package(CURL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(RapidJSON REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(HIREDIS REQUIRED IMPORTED_TARGET hiredis)
pkg_check_modules(HTTPLIB IMPORTED_TARGET cpp-httplib)

set(TALIB_ROOT ${CMAKE_SOURCE_DIR}/third_party/ta-lib CACHE PATH "TA-Lib build from scripts/setup.sh")
if(NOT EXISTS ${TALIB_ROOT}/lib/libta-lib.a)
  message(FATAL_ERROR "TA-Lib not found in ${TALIB_ROOT}: run scripts/setup.sh first")
endif()
add_library(talib STATIC IMPORTED GLOBAL)
set_target_properties(talib PROPERTIES
  IMPORTED_LOCATION ${TALIB_ROOT}/lib/libta-lib.a
  INTERFACE_INCLUDE_DIRECTORIES ${TALIB_ROOT}/include)
target_link_libraries(talib INTERFACE m)

if(QUORVEL_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(QUORVEL_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
