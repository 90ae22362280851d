# The hardware backends of the driver interface: FTDI's D2XX library loaded at
# run time, and libftdi1 for systems without it.
add_library(valve_hardware STATIC
  ${CMAKE_CURRENT_LIST_DIR}/d2xx_driver.cpp ${CMAKE_CURRENT_LIST_DIR}/d2xx_driver.h
  ${CMAKE_CURRENT_LIST_DIR}/fallback_driver.cpp ${CMAKE_CURRENT_LIST_DIR}/fallback_driver.h
  ${CMAKE_CURRENT_LIST_DIR}/hardware_driver.cpp ${CMAKE_CURRENT_LIST_DIR}/hardware_driver.h
  ${CMAKE_CURRENT_LIST_DIR}/libftdi_driver.cpp ${CMAKE_CURRENT_LIST_DIR}/libftdi_driver.h
  ${CMAKE_CURRENT_LIST_DIR}/libftdi_port.cpp ${CMAKE_CURRENT_LIST_DIR}/libftdi_port.h
  ${CMAKE_CURRENT_LIST_DIR}/libftdi_receive_buffer.cpp ${CMAKE_CURRENT_LIST_DIR}/libftdi_receive_buffer.h
  ${CMAKE_CURRENT_LIST_DIR}/libftdi_support.cpp ${CMAKE_CURRENT_LIST_DIR}/libftdi_support.h
)
target_include_directories(valve_hardware PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(valve_hardware PUBLIC valve_link PRIVATE PkgConfig::LIBFTDI1 ${CMAKE_DL_LIBS} Threads::Threads)
