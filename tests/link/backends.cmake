include(${CMAKE_CURRENT_LIST_DIR}/d2xx_double/d2xx_double.cmake)

valve_add_test(test_backends
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_backends.cpp
  LIBS valve_hardware valve_sim ${CMAKE_DL_LIBS} Threads::Threads)
add_dependencies(test_backends ftd2xx_double ftd2xx_double_noevents ftd2xx_double_incomplete)
target_compile_definitions(test_backends PRIVATE
  D2XX_DOUBLE_PATH="$<TARGET_FILE:ftd2xx_double>"
  D2XX_DOUBLE_NOEVENTS_PATH="$<TARGET_FILE:ftd2xx_double_noevents>"
  D2XX_DOUBLE_INCOMPLETE_PATH="$<TARGET_FILE:ftd2xx_double_incomplete>")

# The libftdi1 backend under the real libftdi1, on emulated chips.
include(${CMAKE_CURRENT_LIST_DIR}/emulated_usb/emulated_usb.cmake)
valve_add_test(test_libftdi_on_chip
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_libftdi_on_chip.cpp
  LIBS emulated_libusb valve_hardware valve_protocol valve_sim ${CMAKE_DL_LIBS}
  ENVIRONMENT LD_LIBRARY_PATH=${EMULATED_USB_DIR})
add_dependencies(test_libftdi_on_chip ftd2xx_double)
target_compile_definitions(test_libftdi_on_chip PRIVATE D2XX_DOUBLE_PATH="$<TARGET_FILE:ftd2xx_double>")
