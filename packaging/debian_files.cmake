# Run by CPack on the staged files of each package before it is made. The Debian package
# gets what Debian expects of it: the copyright file and the changelog in its documents,
# both the changelog and the man page gzipped (gzip -9n: no name or time stamp inside),
# and no second copy of the licence, which the copyright file holds.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(usr "${CPACK_TEMPORARY_DIRECTORY}/usr")
set(doc "${usr}/share/doc/trov")

function(gzip_n file)
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

file(COPY_FILE "${CPACK_TROV_SOURCE_DIR}/packaging/debian/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_TROV_DEBIAN_DIR}/changelog" "${doc}/changelog")
gzip_n("${doc}/changelog")
file(REMOVE "${doc}/LICENSE")
# ... which the README then names instead.
file(READ "${doc}/README.md" readme)
string(REPLACE "the file LICENSE beside this one" "the file copyright beside this one" readme "${readme}")
file(WRITE "${doc}/README.md" "${readme}")
file(GLOB pages "${usr}/share/man/man1/*.1")
foreach(page IN LISTS pages)
  gzip_n("${page}")
endforeach()
