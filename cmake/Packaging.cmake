# Installation and the Debian package: the programs, the systemd unit and the logrotate rule.
#   cmake --install build [--prefix DIR]     programs in DIR/bin, unit in DIR/lib/systemd/system,
#                                            logrotate rule in /etc/logrotate.d (DIR/etc/... unless DIR is /usr)
#   (cd build && cpack -G DEB)               nuvo-resource_VERSION_ARCH.deb, installing to /usr
# The service's user and working directory are fixed when the build is configured.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
  return()
endif()
set(NUVO_SERVICE_USER "nuvo" CACHE STRING "User the installed service runs as")
set(NUVO_SERVICE_DIR "/var/lib/nuvo" CACHE PATH "Working directory of the installed service")

set(NUVO_INSTALLED_PROGRAMS NuvoClientDaemon NuvoClient NuvoDemoData NuvoClientServer)
foreach(program ${NUVO_INSTALLED_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()

# The unit names the program by its installed path, known only when installing (--prefix, or
# CPack's /usr), so the deploy files are filled in then.
install(CODE "
  set(NUVO_SERVICE_USER \"${NUVO_SERVICE_USER}\")
  set(NUVO_SERVICE_DIR \"${NUVO_SERVICE_DIR}\")
  set(NUVO_DEPLOY_SOURCE \"${CMAKE_SOURCE_DIR}/deploy\")
  set(NUVO_DEPLOY_BINARY \"${CMAKE_BINARY_DIR}/deploy\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallDeploy.cmake)

configure_file(${CMAKE_SOURCE_DIR}/deploy/debian/postinst.in ${CMAKE_BINARY_DIR}/deploy/debian/postinst
  @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(WRITE ${CMAKE_BINARY_DIR}/deploy/debian/conffiles "/etc/logrotate.d/nuvo-resource\n")

set(CPACK_PACKAGE_NAME "nuvo-resource")
set(CPACK_PACKAGE_VENDOR "Nuvo")
set(CPACK_PACKAGE_CONTACT "Nuvo operators <ops@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Micro-client resource server for a 2D online role-playing game")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libraries the programs link, as dpkg-shlibdeps finds them
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")  # the maintainer script creates the user
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd, logrotate")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/deploy/debian/postinst
  ${CMAKE_SOURCE_DIR}/deploy/debian/prerm
  ${CMAKE_SOURCE_DIR}/deploy/debian/postrm
  ${CMAKE_BINARY_DIR}/deploy/debian/conffiles)
include(CPack)

if(TARGET nuvo_test_support AND NOT NUVO_SANITIZE AND NOT NUVO_FUZZ AND NOT WIN32)
  add_test(NAME packaging COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging/install_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(packaging PROPERTIES TIMEOUT 300)
endif()
