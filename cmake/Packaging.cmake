# `make package`: a Debian package built by CPack from the install rules of the whole project.
set(MARROWTIDE_PACKAGE_MAINTAINER
    "The Marrowtide developers <maintainers@users.noreply.c-seed-f9ba30fe.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marrowtide)
set(CPACK_PACKAGE_VENDOR "The Marrowtide developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "store floppy diskettes as compressed image files")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description.txt)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MARROWTIDE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Help opens in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(_marrowtide_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/marrowtide)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_marrowtide_docdir})
# A native package: its one changelog is changelog.gz (Debian policy 12.7), compressed
# with no name or time stamp in the gzip header.
set(_marrowtide_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9nc INPUT_FILE ${PROJECT_SOURCE_DIR}/packaging/changelog
                OUTPUT_FILE ${_marrowtide_changelog} COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${_marrowtide_changelog} DESTINATION ${_marrowtide_docdir})

include(CPack)
