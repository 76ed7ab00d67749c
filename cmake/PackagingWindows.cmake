# The Windows package of the cross build:
#   (cd build-windows && cpack -G ZIP)     nuvo-resource-VERSION-win64.zip
# The three programs (statically linked, stripped), README-windows.txt and sample settings and
# list files (deploy/windows), all at the top of the archive's one folder.
install(TARGETS NuvoClientDaemon NuvoClient NuvoDemoData RUNTIME DESTINATION .)
install(FILES
  ${CMAKE_SOURCE_DIR}/deploy/windows/README-windows.txt
  ${CMAKE_SOURCE_DIR}/deploy/windows/Config.ini
  ${CMAKE_SOURCE_DIR}/deploy/windows/JpkList.txt
  ${CMAKE_SOURCE_DIR}/deploy/windows/WzlList.txt
  ${CMAKE_SOURCE_DIR}/deploy/windows/MapList.txt
  ${CMAKE_SOURCE_DIR}/deploy/windows/WavList.txt
  DESTINATION .)

set(CPACK_PACKAGE_NAME "nuvo-resource")
set(CPACK_PACKAGE_VENDOR "Nuvo")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Micro-client resource server for a 2D online role-playing game")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "nuvo-resource-${PROJECT_VERSION}-win64")
set(CPACK_STRIP_FILES ON)
include(CPack)

# The package is made and holds what the README promises.
if(TARGET nuvo_test_support)
  add_test(NAME windows_package COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
           -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/tests/packaging/windows_zip.cmake)
  set_tests_properties(windows_package PROPERTIES TIMEOUT 300)
endif()
