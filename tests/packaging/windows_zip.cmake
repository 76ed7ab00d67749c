# Makes the Windows zip in BUILD with cpack and fails unless it lists the three programs, the
# README and the sample settings and lists.
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP WORKING_DIRECTORY ${BUILD} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
set(zip ${BUILD}/nuvo-resource-${VERSION}-win64.zip)
if(NOT rc EQUAL 0 OR NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack -G ZIP failed:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
foreach(name NuvoClientDaemon.exe NuvoClient.exe NuvoDemoData.exe README-windows.txt Config.ini
        JpkList.txt WzlList.txt MapList.txt WavList.txt)
  if(NOT listing MATCHES "nuvo-resource-${VERSION}-win64/${name}\n")
    message(FATAL_ERROR "${zip} lacks ${name}:\n${listing}")
  endif()
endforeach()
message(STATUS "${zip}:\n${listing}")
