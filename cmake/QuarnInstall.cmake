# Installing Quarn as a program of the desktop, and its Debian package.
#
# `cmake --install build` puts the program in bin/ and the desktop entry,
# metainfo, icons, manual page and package documents (packaging/) in their
# places below share/. `cpack -G DEB` in the build folder makes the package;
# its dependencies come from the libraries the program links (dpkg-shlibdeps,
# package dpkg-dev), never from a list kept by hand.

include(GNUInstallDirs)

set(QUARN_PACKAGE_MAINTAINER "Quarn Developers <quarn@example.org>"
    CACHE STRING "Maintainer named in the Debian package and its change log")

# Folders made by the installation read 0755 whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS quarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quarn developers")
set(CPACK_PACKAGE_CONTACT ${QUARN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "folder sizes and twin files of a folder tree")
set(CPACK_PACKAGE_DESCRIPTION
    "Quarn shows where the space on a disk went and which files exist twice.\n\
Dirmass walks a folder tree and shows every folder's total size in a tree\n\
list with a percentage bar, largest first. Dupmatch lists files with the\n\
same name, size and modification time, group by group. A headless report\n\
prints the same results as text or JSON without a display.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUARN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
