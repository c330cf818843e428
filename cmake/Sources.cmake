# Sources are gathered by folder: everything under src/ui/ or a */ui/ folder is
# the Qt front end, the rest is the core (which never includes Qt).
file(GLOB_RECURSE _all_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/*.cpp ${CMAKE_SOURCE_DIR}/src/*.h)
set(CORVAN_CORE_SOURCES)
set(CORVAN_GUI_SOURCES)
foreach(_f IN LISTS _all_sources)
  file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR}/src ${_f})
  if(_rel MATCHES "^ui/" OR _rel MATCHES "/ui/")
    if(NOT _rel STREQUAL "app/ui/main.cpp")
      list(APPEND CORVAN_GUI_SOURCES ${_f})
    endif()
  else()
    list(APPEND CORVAN_CORE_SOURCES ${_f})
  endif()
endforeach()
