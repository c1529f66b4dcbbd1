# The Debian package: everything "cmake --install" installs, built by "cpack" (see
# scripts/package.sh, which configures the prefix /usr that the package and its unit need).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Varnel developers")
set(CPACK_PACKAGE_CONTACT "Varnel developers <dev@varnel.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://varnel.example.org/)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "log a programmable controller's registers over UDP into CSV files")
# The synopsis comes from the summary. The text ends in a line end, which CPack drops; without
# it CPack would strip the indent of the last line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[Varnel reads a run of consecutive 16-bit word registers of a programmable
controller (data memory DM or temporary memory TM) with a plain ASCII read
command over UDP, at a fixed interval, and appends each complete set of
values with the date and time as one row of a CSV file.

This package holds four programs:
 * varnel, a small monitor window with Japanese captions that logs while
   an operator watches;
 * varnel-logger, a headless logger for unattended logging that never stops
   by itself and never writes a wrong row, with a systemd template unit that
   runs one logger per controller as the system user varnel, whose group may
   read the logs;
 * varnel-view, a chart of any log that follows it while it grows;
 * varnel-sim, a controller simulator with fault injection for trying and
   testing the others without a controller.
]=])

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varnel developers <dev@varnel.example.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://varnel.example.org/)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries from dpkg-shlibdeps; the font the windows' Japanese captions are drawn in; and
# libmosquitto, which shlibdeps cannot see: a logger that publishes loads it at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, libmosquitto1")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# postinst makes the logger's user and group, postrm's purge removes a monitor's settings file
# left in the programs' folder (packaging/CMakeLists.txt).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VARNEL_MAINTAINER_SCRIPTS})

include(CPack)
