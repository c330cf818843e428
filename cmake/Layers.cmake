# The program is a stack of layers, one static library each. A layer sees only
# its own headers and those of the layers it may use, so an #include that runs
# up the stack fails to compile instead of quietly tangling it.
#
# Core side, bottom to top (no Qt):
#   platform, core, sources, engines, scan, console, preview, save, app
# Qt side, bottom to top (each also uses the whole core side):
#   ui, save_ui, preview_ui, console_ui, scan_ui, sources_ui, app_ui
# except the ui kit, which uses only platform and core.
#
# Includes are written relative to src/ ("engines/fat/FatEngine.h"), so no
# layer can have src/ itself on its include path. Instead each layer gets a
# folder build/include/<layer>/ that mirrors src/ with one link per header of
# that layer; that folder is the layer's public include directory, and layers
# link the ones below them PRIVATE so those folders never leak upwards.

set(CORVAN_CORE_LAYERS platform core sources engines scan console preview save app)
set(CORVAN_GUI_LAYERS ui save_ui preview_ui console_ui scan_ui sources_ui app_ui)
set(CORVAN_SRC_DIR ${CMAKE_SOURCE_DIR}/src)
set(CORVAN_INCLUDE_STAGE ${CMAKE_BINARY_DIR}/include)

# The layer a path under src/ belongs to: src/ui is the Qt kit, a ui/ folder
# under a layer's folder is that layer's Qt side, anything else goes by its
# top folder (so save/zip and engines/fat belong to save and engines).
function(corvan_layer_of rel out)
  if(rel MATCHES "^ui/")
    set(_layer ui)
  elseif(rel MATCHES "^([^/]+)/ui/")
    set(_layer ${CMAKE_MATCH_1}_ui)
  elseif(rel MATCHES "^([^/]+)/")
    set(_layer ${CMAKE_MATCH_1})
  else()
    set(_layer "")
  endif()
  set(${out} "${_layer}" PARENT_SCOPE)
endfunction()

# The Qt layers are not built without the GUI, but their files are still
# sorted so a stray file is reported either way.
file(GLOB_RECURSE _corvan_files CONFIGURE_DEPENDS
  ${CORVAN_SRC_DIR}/*.cpp ${CORVAN_SRC_DIR}/*.h)
foreach(_layer IN LISTS CORVAN_CORE_LAYERS CORVAN_GUI_LAYERS)
  set(CORVAN_LAYER_${_layer}_SOURCES)
  set(CORVAN_LAYER_${_layer}_HEADERS)
endforeach()
set(CORVAN_MAIN_SOURCE ${CORVAN_SRC_DIR}/app/ui/main.cpp)
foreach(_f IN LISTS _corvan_files)
  if(_f STREQUAL CORVAN_MAIN_SOURCE)
    continue()
  endif()
  file(RELATIVE_PATH _rel ${CORVAN_SRC_DIR} ${_f})
  corvan_layer_of("${_rel}" _layer)
  if(NOT _layer IN_LIST CORVAN_CORE_LAYERS AND NOT _layer IN_LIST CORVAN_GUI_LAYERS)
    message(FATAL_ERROR "src/${_rel} belongs to no layer; see cmake/Layers.cmake")
  endif()
  if(_f MATCHES "\\.h$")
    list(APPEND CORVAN_LAYER_${_layer}_HEADERS ${_f})
  else()
    list(APPEND CORVAN_LAYER_${_layer}_SOURCES ${_f})
  endif()
endforeach()

# Mirrors the layer's headers into its staging folder. Links are only
# rewritten when they point elsewhere, and links left from headers that moved
# or went away are removed, so a moved header stops being reachable from its
# old layer.
function(corvan_stage_headers layer)
  set(_root ${CORVAN_INCLUDE_STAGE}/${layer})
  set(_wanted)
  foreach(_h IN LISTS CORVAN_LAYER_${layer}_HEADERS)
    file(RELATIVE_PATH _rel ${CORVAN_SRC_DIR} ${_h})
    set(_link ${_root}/${_rel})
    list(APPEND _wanted ${_link})
    if(IS_SYMLINK ${_link})
      file(READ_SYMLINK ${_link} _target)
      if(_target STREQUAL _h)
        continue()
      endif()
    endif()
    get_filename_component(_dir ${_link} DIRECTORY)
    file(MAKE_DIRECTORY ${_dir})
    file(REMOVE ${_link})
    file(CREATE_LINK ${_h} ${_link} SYMBOLIC)
  endforeach()
  file(GLOB_RECURSE _present LIST_DIRECTORIES false ${_root}/*)
  foreach(_p IN LISTS _present)
    if(NOT _p IN_LIST _wanted)
      file(REMOVE ${_p})
    endif()
  endforeach()
endfunction()

# The layers `layer` may use, bottom first.
function(corvan_layer_uses layer out)
  list(FIND CORVAN_CORE_LAYERS ${layer} _i)
  if(_i GREATER_EQUAL 0)
    list(SUBLIST CORVAN_CORE_LAYERS 0 ${_i} _uses)
  elseif(layer STREQUAL "ui")
    set(_uses platform core)
  else()
    list(FIND CORVAN_GUI_LAYERS ${layer} _i)
    list(SUBLIST CORVAN_GUI_LAYERS 0 ${_i} _below)
    set(_uses ${CORVAN_CORE_LAYERS} ${_below})
  endif()
  set(${out} ${_uses} PARENT_SCOPE)
endfunction()

# Static library corvan_layer_<layer>. Every layer it may use is linked
# PRIVATE, not just the one below: a lower header often includes a yet-lower
# one, and PRIVATE links do not hand include folders on.
function(corvan_add_layer layer)
  set(_target corvan_layer_${layer})
  corvan_stage_headers(${layer})
  corvan_layer_uses(${layer} _uses)
  list(TRANSFORM _uses PREPEND corvan_layer_)
  add_library(${_target} STATIC
    ${CORVAN_LAYER_${layer}_SOURCES} ${CORVAN_LAYER_${layer}_HEADERS})
  target_include_directories(${_target} PUBLIC ${CORVAN_INCLUDE_STAGE}/${layer})
  # platform/WorkerThread.h is open to every layer.
  target_link_libraries(${_target} PRIVATE ${_uses} Threads::Threads)
endfunction()

# Compiles each header of a layer on its own with only what that layer may
# see, which also catches an upward include in a header none of the layer's
# own files happens to include.
function(corvan_add_header_check layer)
  set(_target corvan_header_check_${layer})
  set(_dir ${CMAKE_BINARY_DIR}/header-check/${layer})
  set(_sources)
  foreach(_h IN LISTS CORVAN_LAYER_${layer}_HEADERS)
    file(RELATIVE_PATH _rel ${CORVAN_SRC_DIR} ${_h})
    set(_cpp ${_dir}/${_rel}.cpp)
    file(CONFIGURE OUTPUT ${_cpp} CONTENT "#include \"${_rel}\"\n" @ONLY)
    list(APPEND _sources ${_cpp})
  endforeach()
  if(NOT _sources)
    return()
  endif()
  corvan_layer_uses(${layer} _uses)
  list(TRANSFORM _uses PREPEND corvan_layer_)
  add_library(${_target} OBJECT ${_sources})
  target_link_libraries(${_target} PRIVATE corvan_layer_${layer} ${_uses})
  # Each header compiles alone; nothing here needs moc.
  set_target_properties(${_target} PROPERTIES AUTOMOC OFF)
  add_dependencies(corvan_header_check ${_target})
endfunction()

foreach(_layer IN LISTS CORVAN_CORE_LAYERS)
  corvan_add_layer(${_layer})
endforeach()
target_link_libraries(corvan_layer_save PRIVATE ZLIB::ZLIB CURL::libcurl)
# The update check and download.
target_link_libraries(corvan_layer_app PRIVATE CURL::libcurl)
target_compile_definitions(corvan_layer_platform PRIVATE
  CORVAN_SOURCE_RESOURCES="${CMAKE_SOURCE_DIR}/resources")

# Everything on the core side, for the programs built on top of it. Listed top
# first so a static link resolves each layer against the ones below it.
set(_corvan_core_targets ${CORVAN_CORE_LAYERS})
list(REVERSE _corvan_core_targets)
list(TRANSFORM _corvan_core_targets PREPEND corvan_layer_)
add_library(corvan_core INTERFACE)
target_link_libraries(corvan_core INTERFACE
  ${_corvan_core_targets} ZLIB::ZLIB CURL::libcurl Threads::Threads)
target_compile_definitions(corvan_core INTERFACE
  CORVAN_SOURCE_RESOURCES="${CMAKE_SOURCE_DIR}/resources"
  CORVAN_VERSION_TEXT="${PROJECT_VERSION}")

if(CORVAN_BUILD_GUI)
  foreach(_layer IN LISTS CORVAN_GUI_LAYERS)
    corvan_add_layer(${_layer})
    # Qt types are in these layers' headers, so whoever uses one needs Qt too.
    target_link_libraries(corvan_layer_${_layer} PUBLIC Qt6::Widgets)
    set_target_properties(corvan_layer_${_layer} PROPERTIES AUTOMOC ON)
  endforeach()
  # The previews show PDF from memory and play audio and video.
  target_link_libraries(corvan_layer_preview_ui PUBLIC Qt6::Pdf Qt6::PdfWidgets Qt6::Multimedia
                        Qt6::MultimediaWidgets)
  # Moc reruns only when a file it already read changes (a source, a header
  # it scanned, or a CMake list file), so a header added to or moved into a
  # layer would go unmocced until something else touched it. The layers'
  # file lists, kept in a list file that is rewritten only when they change,
  # make it rerun then.
  set(_listing "# The files of each Qt layer, so moc reruns when they change.\n")
  foreach(_layer IN LISTS CORVAN_GUI_LAYERS)
    foreach(_f IN LISTS CORVAN_LAYER_${_layer}_SOURCES CORVAN_LAYER_${_layer}_HEADERS)
      string(APPEND _listing "# ${_layer} ${_f}\n")
    endforeach()
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/layers/qt-files.cmake CONTENT "${_listing}" @ONLY)
  include(${CMAKE_BINARY_DIR}/layers/qt-files.cmake)

  target_compile_definitions(corvan_layer_app_ui PRIVATE
    CORVAN_VERSION_TEXT="${PROJECT_VERSION}")

  set(_corvan_gui_targets ${CORVAN_GUI_LAYERS})
  list(REVERSE _corvan_gui_targets)
  list(TRANSFORM _corvan_gui_targets PREPEND corvan_layer_)
  add_library(corvan_gui INTERFACE)
  target_link_libraries(corvan_gui INTERFACE ${_corvan_gui_targets} corvan_core Qt6::Widgets)

  add_executable(corvan ${CORVAN_MAIN_SOURCE})
  target_link_libraries(corvan PRIVATE corvan_gui)
endif()

if(CORVAN_CHECK_HEADERS)
  add_custom_target(corvan_header_check)
  foreach(_layer IN LISTS CORVAN_CORE_LAYERS)
    corvan_add_header_check(${_layer})
  endforeach()
  if(CORVAN_BUILD_GUI)
    foreach(_layer IN LISTS CORVAN_GUI_LAYERS)
      corvan_add_header_check(${_layer})
    endforeach()
  endif()
endif()
