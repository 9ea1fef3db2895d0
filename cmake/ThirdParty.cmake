# The status page's libraries, both header-only: nlohmann's JSON (Debian's
# nlohmann-json3-dev) and cpp-httplib (the whole header from Debian's source
# package, fetched into build-deps/ by scripts/fetch-httplib.sh, which every build
# script runs). Each is put on an include path of its own, so that the Windows
# cross-build sees them and nothing else of the host's /usr/include.
set(OVRIN_HTTPLIB_DIR ${PROJECT_SOURCE_DIR}/build-deps/cpp-httplib CACHE PATH "The folder of cpp-httplib's httplib.h")
if(NOT EXISTS ${OVRIN_HTTPLIB_DIR}/httplib.h)
  message(FATAL_ERROR "cpp-httplib's httplib.h is not in ${OVRIN_HTTPLIB_DIR}: "
          "run scripts/fetch-httplib.sh (the build scripts run it), or give its folder as -DOVRIN_HTTPLIB_DIR=")
endif()
find_path(OVRIN_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT OVRIN_JSON_DIR)
  message(FATAL_ERROR "nlohmann/json.hpp not found: run scripts/deps.sh (nlohmann-json3-dev)")
endif()
set(ovrin_staged ${CMAKE_BINARY_DIR}/third-party)
file(MAKE_DIRECTORY ${ovrin_staged}/json ${ovrin_staged}/httplib)
file(CREATE_LINK ${OVRIN_JSON_DIR}/nlohmann ${ovrin_staged}/json/nlohmann SYMBOLIC)
file(CREATE_LINK ${OVRIN_HTTPLIB_DIR}/httplib.h ${ovrin_staged}/httplib/httplib.h SYMBOLIC)

add_library(ovrin_json INTERFACE)
target_include_directories(ovrin_json SYSTEM INTERFACE ${ovrin_staged}/json)
add_library(ovrin_httplib INTERFACE)
target_include_directories(ovrin_httplib SYSTEM INTERFACE ${ovrin_staged}/httplib)
find_package(Threads REQUIRED)
target_link_libraries(ovrin_httplib INTERFACE Threads::Threads)
if(WIN32)
  target_compile_definitions(ovrin_httplib INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_libraries(ovrin_httplib INTERFACE ws2_32)
endif()
