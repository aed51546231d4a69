# Compiler settings every Ondaline target shares, through the interface
# target ondaline_options.
add_library(ondaline_options INTERFACE)
target_compile_options(ondaline_options INTERFACE -Wall -Wextra)

if(ONDALINE_SANITIZE)
  set(_san "-fsanitize=${ONDALINE_SANITIZE}")
  target_compile_options(ondaline_options INTERFACE ${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(ondaline_options INTERFACE ${_san})
  if(ONDALINE_SANITIZE MATCHES "thread")
    # Asio's handler allocator uses fences that TSan does not model; gcc warns
    # about each. TSan still sees the mutexes that order the handlers.
    target_compile_options(ondaline_options INTERFACE -Wno-tsan)
  endif()
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
