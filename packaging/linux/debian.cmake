# The Debian package, built from the install tree by `cpack -G DEB` in the
# build folder. It installs under /usr, its dependencies are read from the
# binary by dpkg-shlibdeps, and the binary is stripped.
set(QUILLO_MAINTAINER "the Quillomarde authors <authors@quillomarde.org>"
    CACHE STRING "Maintainer named in the Debian package")

# Debian wants the licence as copyright, and the changelog and manual page
# compressed; gzip -n keeps the package reproducible.
function(quillo_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/${source}
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_BINARY_DIR}/${name}.gz DESTINATION ${destination})
endfunction()

set(QUILLO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillomarde)
install(FILES LICENSE DESTINATION ${QUILLO_DOC_DIR} RENAME copyright)
quillo_install_gzipped(packaging/linux/changelog ${QUILLO_DOC_DIR})
quillo_install_gzipped(packaging/linux/quillomarde.1 ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillomarde)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "try out TCP/IP communication between two devices
Quillomarde is a small desktop tool with one dialog. As a server it answers
each connection by echoing its 100-byte message; as a client it sends the
typed text and shows the echo. Every step and nearly every error is
logged. IPv4, IPv6 and host names are supported.")
include(CPack)
