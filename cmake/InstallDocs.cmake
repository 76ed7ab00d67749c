# Run by `cmake --install` and CPack for one package: its documentation folder
# (PREFIX/share/doc/PACKAGE: the copyright file, the changelog and the other documents compressed
# as Debian wants them, examples as they are) and its manual pages (PREFIX/share/man/man1,
# compressed). Compressing here rather than when configuring keeps them in step with the
# sources. Expects NUVO_DOC_PACKAGE, NUVO_DOC_STAGE (a scratch folder), NUVO_DOC_COPYRIGHT,
# NUVO_DOC_COMPRESSED (a native package's changelog is
# called changelog), NUVO_DOC_EXAMPLES and NUVO_MAN_PAGES.
function(nuvo_gzip source dest)
  execute_process(COMMAND gzip -9 -n -c "${source}" OUTPUT_FILE "${dest}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${source}: ${status}")
  endif()
endfunction()

set(stage "${NUVO_DOC_STAGE}/${NUVO_DOC_PACKAGE}")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}/doc" "${stage}/man")
set(compressed "")
foreach(source IN LISTS NUVO_DOC_COMPRESSED)
  get_filename_component(name "${source}" NAME)
  nuvo_gzip("${source}" "${stage}/doc/${name}.gz")
  list(APPEND compressed "${stage}/doc/${name}.gz")
endforeach()
set(pages "")
foreach(source IN LISTS NUVO_MAN_PAGES)
  get_filename_component(name "${source}" NAME)
  nuvo_gzip("${source}" "${stage}/man/${name}.gz")
  list(APPEND pages "${stage}/man/${name}.gz")
endforeach()

set(doc "${CMAKE_INSTALL_PREFIX}/share/doc/${NUVO_DOC_PACKAGE}")
file(INSTALL DESTINATION "${doc}" TYPE FILE FILES "${NUVO_DOC_COPYRIGHT}" ${compressed})
if(NUVO_DOC_EXAMPLES)
  file(INSTALL DESTINATION "${doc}/examples" TYPE FILE FILES ${NUVO_DOC_EXAMPLES})
endif()
if(pages)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/man/man1" TYPE FILE FILES ${pages})
endif()
