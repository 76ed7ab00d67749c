# Read by cpack after its configuration and the -D settings of its command line: the console
# package depends on the server package of the version being made.
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "nuvo-resource (= ${CPACK_PACKAGE_VERSION})")
