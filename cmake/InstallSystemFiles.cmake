# Installs the files whose place or content depends on the prefix given at install time
# (`cmake --install BUILD --prefix P` may differ from the configured one): the systemd unit, which
# names velaclockd and the platform description, and the platform description as configuration.
# The prefix /usr keeps its configuration in /etc and its units in /lib/systemd/system; any other
# keeps both under itself. Run by install(SCRIPT) after install(CODE) set VELACLOCK_SOURCE_DIR,
# VELACLOCK_BINARY_DIR and VELACLOCK_SBINDIR.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc "/etc")
  set(units "/lib/systemd/system")
else()
  set(etc "${CMAKE_INSTALL_PREFIX}/etc")
  set(units "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
endif()
if(IS_ABSOLUTE "${VELACLOCK_SBINDIR}")
  set(VELACLOCKD "${VELACLOCK_SBINDIR}/velaclockd")
else()
  set(VELACLOCKD "${CMAKE_INSTALL_PREFIX}/${VELACLOCK_SBINDIR}/velaclockd")
endif()
set(PLATFORM "${etc}/velaclock/platform.yaml")
configure_file("${VELACLOCK_SOURCE_DIR}/contrib/velaclockd.service.in"
               "${VELACLOCK_BINARY_DIR}/installed/velaclockd.service" @ONLY)
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL "${VELACLOCK_BINARY_DIR}/installed/velaclockd.service" DESTINATION "${units}"
     FILE_PERMISSIONS ${readable})
# An operator's description is configuration: a later install keeps it (a package manager asks).
if(EXISTS "$ENV{DESTDIR}${PLATFORM}")
  message(STATUS "Keeping: $ENV{DESTDIR}${PLATFORM}")
else()
  file(INSTALL "${VELACLOCK_SOURCE_DIR}/config/default-platform.yaml"
       DESTINATION "${etc}/velaclock" RENAME platform.yaml FILE_PERMISSIONS ${readable})
endif()
