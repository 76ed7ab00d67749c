# Installation and the Debian packages: the programs, the systemd unit, the logrotate rule, the
# documentation and the manual pages.
#   cmake --install build [--prefix DIR]     programs in DIR/bin, unit in DIR/lib/systemd/system,
#                                            logrotate rule in /etc/logrotate.d (DIR/etc/... unless DIR
#                                            is /usr), documents in DIR/share/doc, manual pages in DIR/share/man
#   (cd build && cpack -G DEB)               two packages installing to /usr:
#     nuvo-resource_VERSION_ARCH.deb          the headless server and the tools (component "server")
#     nuvo-resource-console_VERSION_ARCH.deb  the Qt console (component "console"), when it was built
# The service's user and working directory are fixed when the build is configured.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
  return()
endif()
set(NUVO_SERVICE_USER "nuvo" CACHE STRING "User the installed service runs as")
set(NUVO_SERVICE_DIR "/var/lib/nuvo" CACHE PATH "Working directory of the installed service")
set(NUVO_PACKAGE_MAINTAINER "Nuvo operators <ops@nuvo.invalid>" CACHE STRING
    "Maintainer field of the Debian packages (name <address>)")

foreach(program NuvoClientDaemon NuvoClient NuvoDemoData)
  install(TARGETS ${program} RUNTIME DESTINATION bin COMPONENT server)
endforeach()
if(TARGET NuvoClientServer)
  install(TARGETS NuvoClientServer RUNTIME DESTINATION bin COMPONENT console)
endif()

# The unit names the program by its installed path, known only when installing (--prefix, or
# CPack's /usr), so the deploy files are filled in then.
install(CODE "
  set(NUVO_SERVICE_USER \"${NUVO_SERVICE_USER}\")
  set(NUVO_SERVICE_DIR \"${NUVO_SERVICE_DIR}\")
  set(NUVO_DEPLOY_SOURCE \"${CMAKE_SOURCE_DIR}/deploy\")
  set(NUVO_DEPLOY_BINARY \"${CMAKE_BINARY_DIR}/deploy\")
" COMPONENT server)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallDeploy.cmake COMPONENT server)

# Each package's /usr/share/doc folder and manual pages.
function(nuvo_install_docs component package)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "COMPRESSED;EXAMPLES;MAN")
  set(compressed ${CMAKE_SOURCE_DIR}/deploy/debian/changelog ${arg_COMPRESSED})
  install(CODE "
    set(NUVO_DOC_PACKAGE \"${package}\")
    set(NUVO_DOC_STAGE \"${CMAKE_BINARY_DIR}/deploy/doc\")
    set(NUVO_DOC_COPYRIGHT \"${CMAKE_SOURCE_DIR}/deploy/debian/copyright\")
    set(NUVO_DOC_COMPRESSED \"${compressed}\")
    set(NUVO_DOC_EXAMPLES \"${arg_EXAMPLES}\")
    set(NUVO_MAN_PAGES \"${arg_MAN}\")
  " COMPONENT ${component})
  install(SCRIPT ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallDocs.cmake COMPONENT ${component})
endfunction()
set(man ${CMAKE_SOURCE_DIR}/docs/man)
nuvo_install_docs(server nuvo-resource
  COMPRESSED ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/scaling.md
  EXAMPLES ${CMAKE_SOURCE_DIR}/deploy/nginx/nuvo-origins.conf ${CMAKE_SOURCE_DIR}/deploy/haproxy/nuvo-origins.cfg
  MAN ${man}/NuvoClientDaemon.1 ${man}/NuvoClient.1 ${man}/NuvoDemoData.1)
if(TARGET NuvoClientServer)
  nuvo_install_docs(console nuvo-resource-console MAN ${man}/NuvoClientServer.1)
endif()

foreach(script postinst postrm)
  configure_file(${CMAKE_SOURCE_DIR}/deploy/debian/${script}.in ${CMAKE_BINARY_DIR}/deploy/debian/${script}
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/deploy/debian/conffiles "/etc/logrotate.d/nuvo-resource\n")

set(CPACK_PACKAGE_NAME "nuvo-resource")
set(CPACK_PACKAGE_VENDOR "Nuvo")
set(CPACK_PACKAGE_CONTACT "${NUVO_PACKAGE_MAINTAINER}")
# Each package's description starts with its own summary line. (CPack puts a summary set here
# before every package's description, so none is.)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server)
if(TARGET NuvoClientServer)
  list(APPEND CPACK_COMPONENTS_ALL console)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libraries the programs link, as dpkg-shlibdeps finds them
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME "nuvo-resource")
set(CPACK_DEBIAN_SERVER_DESCRIPTION "Micro-client resource server for a 2D online role-playing game
Serves the image libraries, maps and sounds of a game client installation to
the game's micro clients over HTTP. This package holds the server without a
window (NuvoClientDaemon) as a systemd service, the client tool that checks a
deployment against a running server (NuvoClient) and the demo-data writer
(NuvoDemoData). The operator console is in nuvo-resource-console.")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")  # the maintainer script creates the user
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "systemd, logrotate")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/deploy/debian/postinst
  ${CMAKE_SOURCE_DIR}/deploy/debian/prerm
  ${CMAKE_BINARY_DIR}/deploy/debian/postrm
  ${CMAKE_BINARY_DIR}/deploy/debian/conffiles)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME "nuvo-resource-console")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_CONSOLE_DESCRIPTION "Operator console of the micro-client resource server (Qt)
The micro-client resource server with the operator's window (NuvoClientServer):
menus that start and stop the service and load the resources again, the
settings dialog and a view of the resource lists that marks a missing file or
a wrong password. It serves clients as the headless server does.")
# Read by cpack itself: the console needs the server package of its own version, also when
# cpack is given another version (-D CPACK_PACKAGE_VERSION=...).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackProject.cmake)
include(CPack)

if(TARGET nuvo_test_support AND NOT NUVO_SANITIZE AND NOT NUVO_FUZZ AND NOT WIN32)
  add_test(NAME packaging COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging/install_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(packaging PROPERTIES TIMEOUT 900)
endif()
