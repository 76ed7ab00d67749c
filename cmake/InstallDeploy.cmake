# Run by `cmake --install` and CPack: fills in the unit and the logrotate rule for the prefix being
# installed to and lays them down. Expects NUVO_SERVICE_USER, NUVO_SERVICE_DIR, NUVO_DEPLOY_SOURCE
# and NUVO_DEPLOY_BINARY.
set(NUVO_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
# Configuration lives in /etc for a /usr installation, below the prefix otherwise.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc "/etc")
else()
  set(etc "${CMAKE_INSTALL_PREFIX}/etc")
endif()
configure_file("${NUVO_DEPLOY_SOURCE}/systemd/nuvo-resource.service.in"
               "${NUVO_DEPLOY_BINARY}/systemd/nuvo-resource.service" @ONLY)
configure_file("${NUVO_DEPLOY_SOURCE}/logrotate/nuvo-resource.in"
               "${NUVO_DEPLOY_BINARY}/logrotate/nuvo-resource" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
     FILES "${NUVO_DEPLOY_BINARY}/systemd/nuvo-resource.service")
file(INSTALL DESTINATION "${etc}/logrotate.d" TYPE FILE
     FILES "${NUVO_DEPLOY_BINARY}/logrotate/nuvo-resource")
