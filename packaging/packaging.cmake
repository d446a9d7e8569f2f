# Installs the manual page and the package documentation, and configures
# CPack to turn the install tree into a Debian package,
# tallyplot_<version>_<arch>.deb (scripts/package.sh builds it). Included by
# the top-level CMakeLists.txt after the program's own install rule. The
# package's version is the project's, from project().

# Compresses SOURCE into the build directory as NAME.gz. -n keeps the file
# name and time out of the header, so the same text always gives the same
# bytes.
function(tallyplot_gzip source name)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND gzip -9n -c ${source} > ${output}
                     DEPENDS ${source}
                     VERBATIM)
  add_custom_target(${name}_gz ALL DEPENDS ${output})
endfunction()

tallyplot_gzip(${PROJECT_SOURCE_DIR}/docs/tallyplot.1 tallyplot.1)
tallyplot_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog changelog)

# The page is installed compressed by `cmake --install` too: man reads it
# either way, and one rule serves both.
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tallyplot.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright
              ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT
    "tallyplot maintainers <maintainers@tallyplot.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "two-page chart of a MariaDB or MySQL table of evaluated cases")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "tallyplot reads a table of evaluated cases from a MariaDB or MySQL\n"
  "server, one row per case with a 0/1 flag per resource constraint, groups\n"
  "the rows by the number of racks selected, and writes an Encapsulated\n"
  "PostScript document: a line chart of the share of successful groups per\n"
  "resource, and a table of every value. An output name ending in .pdf\n"
  "or in .png gets the document as a PDF or the chart as a PNG picture,\n"
  "rendered by Ghostscript.\n"
  "\n"
  "It only reads from the database, and writes the document only once it is\n"
  "complete, so a failed run leaves the output file as it was.")
# Debian's "database" section holds servers and their clients; a tool that
# turns a table into a chart sits with the other utilities.
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends: comes from dpkg-shlibdeps, so it names the libraries the binary
# was really linked with (libc6, libmariadb3, libstdc++6, ...) and the
# versions they need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Ghostscript renders the PDF and PNG output, run as a program; the EPS,
# the program's own format, needs nothing of it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ghostscript)
set(CPACK_STRIP_FILES ON)
# Directories the install creates get 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
include(CPack)
