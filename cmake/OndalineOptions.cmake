# Compiler settings every Ondaline target shares, through the interface
# target ondaline_options.
add_library(ondaline_options INTERFACE)
target_compile_options(ondaline_options INTERFACE -Wall -Wextra -Wshadow)
# CI builds with ONDALINE_WERROR, so that a warning stops the run instead of
# scrolling by. Third-party headers come in as system headers and stay out
# of it.
if(ONDALINE_WERROR)
  target_compile_options(ondaline_options INTERFACE -Werror)
endif()

# ONDALINE_SANITIZE is a -fsanitize list. Its "fuzzer" instruments the
# libraries for libFuzzer without linking its runtime (which brings a main);
# only the fuzz targets, through ondaline_fuzz_options, link it.
set(_san_list "")
set(_san_fuzzer OFF)
if(ONDALINE_SANITIZE)
  string(REPLACE "," ";" _san_items "${ONDALINE_SANITIZE}")
  foreach(_item IN LISTS _san_items)
    if(_item STREQUAL "fuzzer")
      set(_san_fuzzer ON)
      list(APPEND _san_list fuzzer-no-link)
    else()
      list(APPEND _san_list ${_item})
    endif()
  endforeach()
endif()
if(_san_fuzzer AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ONDALINE_SANITIZE=fuzzer needs clang (CXX=clang++-14)")
endif()

if(_san_list)
  list(JOIN _san_list "," _san_joined)
  set(_san "-fsanitize=${_san_joined}")
  target_compile_options(ondaline_options INTERFACE ${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(ondaline_options INTERFACE ${_san})
  if(ONDALINE_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Asio's handler allocator uses fences that TSan does not model; gcc warns
    # about each. TSan still sees the mutexes that order the handlers.
    target_compile_options(ondaline_options INTERFACE -Wno-tsan)
  endif()
endif()

# A build made for one run of the tests compiles in about half the time:
# line tables are enough for a sanitizer's stacks, and an instrumented build
# at -O1 runs as fast as the tests need.
# (Directory options, so that the tests' own may come after them.)
if(ONDALINE_QUICK_BUILD)
  add_compile_options(-g1)
  if(_san_list)
    add_compile_options(-O1)
  endif()
endif()

# The linker: GNU ld takes a second or two for each of the many test
# programs, gold (from the same binutils) a quarter of that. For g++'s
# builds made for one run of the tests only; the program's own build keeps
# ld, and clang's fuzz build, whose sanitizer runtime gold warns about.
if(ONDALINE_QUICK_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  include(CheckLinkerFlag)
  check_linker_flag(CXX -fuse-ld=gold ONDALINE_LINKER_GOLD)
  if(ONDALINE_LINKER_GOLD)
    add_link_options(-fuse-ld=gold)
  endif()
endif()

if(_san_fuzzer)
  add_library(ondaline_fuzz_options INTERFACE)
  target_compile_options(ondaline_fuzz_options INTERFACE -fsanitize=fuzzer)
  target_link_options(ondaline_fuzz_options INTERFACE -fsanitize=fuzzer)
  target_link_libraries(ondaline_fuzz_options INTERFACE ondaline_options)
endif()

find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)

# Standalone Asio is header-only; Debian installs it to /usr/include.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(ondaline_asio INTERFACE)
target_include_directories(ondaline_asio SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(ondaline_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(ondaline_asio INTERFACE Threads::Threads)
