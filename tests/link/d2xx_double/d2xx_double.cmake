# Stand-ins for FTDI's D2XX library, loaded by path through the same loader as
# the real one: complete, without event notification, and without FT_Purge.
if(NOT TARGET ftd2xx_double)
  set(_double_source ${CMAKE_CURRENT_LIST_DIR}/ftd2xx_double.cpp)
  add_library(ftd2xx_double SHARED ${_double_source})
  add_library(ftd2xx_double_noevents SHARED ${_double_source})
  target_compile_definitions(ftd2xx_double_noevents PRIVATE DOUBLE_WITHOUT_EVENTS)
  add_library(ftd2xx_double_incomplete SHARED ${_double_source})
  target_compile_definitions(ftd2xx_double_incomplete PRIVATE DOUBLE_WITHOUT_PURGE)
  foreach(double ftd2xx_double ftd2xx_double_noevents ftd2xx_double_incomplete)
    target_link_libraries(${double} PRIVATE Threads::Threads)
    set_target_properties(${double} PROPERTIES CXX_VISIBILITY_PRESET hidden AUTOMOC OFF)
  endforeach()
endif()
