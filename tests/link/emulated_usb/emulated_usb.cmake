# The emulated USB bus with its FTDI chips, built as a stand-in
# libusb-1.0.so.0 in a folder of its own: programs linked to it find it there
# first (their run path, or LD_LIBRARY_PATH), and libftdi1 then runs on it.
set(EMULATED_USB_DIR ${CMAKE_BINARY_DIR}/emulated_usb)
if(NOT TARGET emulated_libusb)
  add_library(emulated_libusb SHARED
    ${CMAKE_CURRENT_LIST_DIR}/emulated_usb.h
    ${CMAKE_CURRENT_LIST_DIR}/emulated_usb.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unit_on_line.h)
  target_include_directories(emulated_libusb PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  target_include_directories(emulated_libusb SYSTEM PRIVATE ${LIBFTDI1_INCLUDE_DIRS})
  target_link_libraries(emulated_libusb PRIVATE Threads::Threads)
  set_target_properties(emulated_libusb PROPERTIES
    OUTPUT_NAME usb-1.0 SOVERSION 0 AUTOMOC OFF LIBRARY_OUTPUT_DIRECTORY ${EMULATED_USB_DIR})
endif()
