# What `cmake --install` puts where (GNU directory layout under the prefix),
# and the Debian package that `cpack -G DEB` builds from the same rules:
#
#   bin/path2ini                       the program
#   share/man/man1/path2ini.1.gz       its manual page (docs/path2ini.1)
#   share/doc/path2ini/README.md, LICENSE

include(GNUInstallDirs)

install(TARGETS path2ini RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page carries the version in its title line; a release that
# forgets it would ship a page about another version.
file(STRINGS ${PROJECT_SOURCE_DIR}/docs/path2ini.1 p2i_man_title REGEX "^\\.TH ")
if(NOT p2i_man_title MATCHES "\"path2ini ${PROJECT_VERSION}\"")
  message(FATAL_ERROR "docs/path2ini.1 names another version than ${PROJECT_VERSION}: ${p2i_man_title}")
endif()

if(NOT WIN32)
  # Installed compressed, as Debian installs manual pages (gzip -9n: no name
  # or time stamp, so the same page gives the same bytes).
  set(p2i_man_page ${CMAKE_CURRENT_BINARY_DIR}/path2ini.1.gz)
  add_custom_command(OUTPUT ${p2i_man_page}
                     COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/path2ini.1 > ${p2i_man_page}
                     DEPENDS ${PROJECT_SOURCE_DIR}/docs/path2ini.1
                     COMMENT "Compressing the manual page")
  add_custom_target(path2ini_man_page ALL DEPENDS ${p2i_man_page})
  # Built with the program, so that installing after building only it works.
  add_dependencies(path2ini path2ini_man_page)
  install(FILES ${p2i_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(P2I_PACKAGE_MAINTAINER "The path2ini authors <path2ini@users.noreply.invalid>"
    CACHE STRING "Maintainer field of the Debian package: Name <address>")

set(CPACK_PACKAGE_NAME path2ini)
set(CPACK_PACKAGE_VENDOR "The path2ini authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 80 columns, as the control file's description wants them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "A path table maps short identifiers to data files and is kept as a\n"
       "Paradox table file (.DB), encrypted with the application's password or\n"
       "not encrypted. path2ini reads every row, adding the column DESCRIPTION to\n"
       "tables that lack it, and writes the NAME and PATH sections of an INI file\n"
       "of the same base name beside the table, for the Windows programs that\n"
       "read it. It needs no database engine.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${P2I_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies as dpkg-shlibdeps finds them in the executable (libc, libstdc++, libgcc).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# path2ini_1.0.0_amd64.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
