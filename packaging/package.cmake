# The Debian package valve-panel_<version>_amd64.deb: everything installed
# above, with its dependencies computed from the binaries by dpkg-shlibdeps.
# Built by scripts/package.sh, which configures for the /usr prefix.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME valve-panel)
set(CPACK_PACKAGE_VENDOR "The valve panel developers")
set(CPACK_PACKAGE_CONTACT "${VALVE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for motorised valves behind an FTDI USB adapter")
set(CPACK_PACKAGE_DESCRIPTION [=[A desktop control panel for the Nerra and Pyxa motorised multi-position
valve units, which sit behind an FTDI USB serial adapter. It reads a unit's
status, moves and homes the valve, changes its settings, edits its
non-volatile memory and error stack, and runs timed sequences of moves over
as much as a week. It uses FTDI's D2XX library when that is installed and
libftdi1 otherwise; valve-panel-demo runs it on simulated units.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Traffic window shows control characters as their pictures (CR as ␍).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-symbola)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
