cmake_minimum_required(VERSION 3.25)
# Fails when a source file includes what its layer may not see. Run by the build
# (src/CMakeLists.txt) before anything is compiled; SRC is the source folder.
#
#  layer               may include (besides itself and the standard library)
#  core/               nothing: its folders only (pure: no platform, no form)
#  platform/*.h        core                     (the interfaces)
#  path/               core, platform           (the data path: through its own
#                      interfaces to the port and the clients, never the Station)
#  model/              core, platform, path
#  serial/             core, platform, model
#  net/                core, platform, model, serial
#  settings/           core, platform, model
#                      (model, serial, net and settings see the Station, never
#                      the window: model/frmMain.h is for ui and above)
#  status/             core, platform (the status page: its snapshot, its rendering,
#                      its log, what follows the options, and its HTTP server on
#                      threads of its own: pure C++, the JSON and HTTP libraries;
#                      it sees snapshots only, never the model)
#  ui/                 core, platform, model, serial, net, settings, status
#  app/                every layer above
#  platform/std/       core, platform
#  platform/shared/    core, platform, platform/std, model (what the realisations
#                      share)
#  platform/headless/  core, platform, platform/std, model
#  platform/qt/        core, platform, platform/std, platform/shared, model
#  platform/win32/     core, platform, platform/std, platform/shared, model
#  cli/                core, platform, model, app
#  run/                anything (one run of a program, for the mains)
#  main*.cpp           anything
set(core_dirs allow base cat line record rfc2217 state station text turns)
foreach(d IN LISTS core_dirs)
  list(APPEND core_prefixes "${d}/")
endforeach()
set(allowed_platform ${core_prefixes} "platform/[A-Za-z]+\\.h$")
set(allowed_path ${allowed_platform} "path/")
set(allowed_model ${allowed_path} "model/")
set(allowed_serial ${allowed_model} "serial/")
set(allowed_net ${allowed_serial} "net/")
set(allowed_settings ${allowed_model} "settings/")
set(allowed_status ${allowed_platform} "status/")
set(allowed_ui ${allowed_net} "settings/" "status/" "ui/")
set(allowed_app ${allowed_ui} "app/")
set(allowed_std ${allowed_platform} "platform/std/")
set(allowed_shared ${allowed_model} "platform/std/" "platform/shared/")
set(allowed_headless ${allowed_model} "platform/std/" "platform/headless/")
set(allowed_qt ${allowed_shared} "platform/qt/")
set(allowed_win32 ${allowed_shared} "platform/win32/")
set(allowed_cli ${allowed_model} "app/" "cli/")

# The standard headers a pure unit may use.
set(std_headers algorithm any array atomic bit bitset cassert cctype cerrno charconv chrono
  cinttypes climits cmath compare concepts cstddef cstdint cstdio cstdlib cstring deque
  exception functional initializer_list iomanip ios iosfwd iostream istream iterator limits
  list map memory numeric optional ostream queue random ranges ratio set span sstream
  stdexcept string string_view system_error tuple type_traits typeinfo unordered_map
  unordered_set utility variant vector)

set(failures "")
file(GLOB_RECURSE sources RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
foreach(file IN LISTS sources)
  if(file MATCHES "^(main|run/)")
    continue()
  elseif(file MATCHES "^core/")
    set(layer core)
  elseif(file MATCHES "^platform/(std|shared|headless|qt|win32)/")
    set(layer ${CMAKE_MATCH_1})
  elseif(file MATCHES "^platform/[A-Za-z]+\\.(h|cpp)$")
    set(layer platform)
  elseif(file MATCHES "^(path|model|serial|net|settings|status|ui|app|cli)/")
    set(layer ${CMAKE_MATCH_1})
  else()
    string(APPEND failures "\n  ${file}: in no layer (add its folder to cmake/CheckLayers.cmake)")
    continue()
  endif()
  file(STRINGS ${SRC}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]*)[>\"].*" "\\1;\\2" parts "${line}")
    list(GET parts 0 kind)
    list(GET parts 1 header)
    if(layer STREQUAL "core")
      if(kind STREQUAL "<")
        if(NOT header IN_LIST std_headers)
          string(APPEND failures "\n  ${file}: <${header}> is not a standard header")
        endif()
      else()
        string(REGEX MATCH "^[a-z0-9]+/" dir "${header}")
        if(NOT dir IN_LIST core_prefixes)
          string(APPEND failures "\n  ${file}: \"${header}\" is outside the pure units")
        endif()
      endif()
      continue()
    endif()
    if(kind STREQUAL "<" OR NOT header MATCHES "/")
      continue()  # system headers, and a folder's own headers
    endif()
    # Below the window the server is the Station: the window model is ui's.
    if(header STREQUAL "model/frmMain.h" AND layer MATCHES "^(model|serial|net|settings)$"
       AND NOT file MATCHES "^model/frmMain\\.")
      string(APPEND failures "\n  ${file}: may not include the window (\"${header}\"); take the Station")
      continue()
    endif()
    set(ok FALSE)
    foreach(prefix IN LISTS allowed_${layer})
      if(header MATCHES "^${prefix}")
        set(ok TRUE)
        break()
      endif()
    endforeach()
    if(NOT ok)
      string(APPEND failures "\n  ${file}: may not include \"${header}\" (layer ${layer})")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Layering broken (see cmake/CheckLayers.cmake):${failures}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
