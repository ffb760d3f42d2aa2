# Run by CPack on the staged files of every package, just before it packs
# them; it changes only a Debian package. Debian wants manual pages and the
# package's changelog compressed with gzip -9n (no name, no time stamp, so
# that the same files give the same package), documents compressed too when
# they are larger than 4 KiB (but not the copyright file or images), and a
# changelog of the package itself, changelog.Debian.gz. Its programs lose
# the compiler's notes as well as their symbols.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(docdir ${root}/${CPACK_TOLVANE_DOCDIR})

function(gzip_file file)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endfunction()

file(GLOB programs ${root}/bin/*)
foreach(program IN LISTS programs)
  execute_process(COMMAND ${CPACK_TOLVANE_STRIP} --remove-section=.comment --remove-section=.note ${program}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()

file(GLOB pages ${root}/${CPACK_TOLVANE_MANDIR}/man*/*)
foreach(page IN LISTS pages)
  gzip_file(${page})
endforeach()

file(GLOB documents ${docdir}/*)
foreach(document IN LISTS documents)
  file(SIZE ${document} size)
  if(size GREATER 4096 AND NOT document MATCHES "/copyright$|\\.(png|gz)$")
    gzip_file(${document})
  endif()
endforeach()

# The entry is dated by SOURCE_DATE_EPOCH when it is set (scripts/package sets
# it to the time of the commit being packed), by the current time otherwise.
string(TIMESTAMP TOLVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TOLVANE_DEBIAN_VERSION ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
file(READ ${CPACK_TOLVANE_CHANGELOG_TEMPLATE} changelog)
string(CONFIGURE "${changelog}" changelog @ONLY)
file(WRITE ${docdir}/changelog.Debian "${changelog}")
file(CHMOD ${docdir}/changelog.Debian
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
gzip_file(${docdir}/changelog.Debian)
