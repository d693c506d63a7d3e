# The Debian package, made by CPack from the install rules themselves (one
# list of what is installed, no second one to keep in step), under /usr.
# scripts/package.sh makes it into build/package/.
set(ONDELITH_PACKAGE_MAINTAINER "The Ondelith developers <maintainers@ondelith.invalid>"
    CACHE STRING "The Debian package's Maintainer field")
set(ONDELITH_PACKAGE_REVISION 1 CACHE STRING "The Debian revision of the package")

# What Debian asks of every package beside the files: its copyright, and a
# changelog of the package dated by SOURCE_DATE_EPOCH when set, so the same
# tree makes the same package. Installed for the package alone.
set(debian ${CMAKE_BINARY_DIR}/debian-doc)
string(TIMESTAMP ONDELITH_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/debian/copyright.in ${debian}/copyright @ONLY)
configure_file(cmake/debian/changelog.in ${debian}/changelog.Debian @ONLY)
install(CODE "execute_process(COMMAND gzip -9nc \"${debian}/changelog.Debian\"
                              OUTPUT_FILE \"${debian}/changelog.Debian.gz\" COMMAND_ERROR_IS_FATAL ANY)"
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${debian}/copyright ${debian}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ondelith
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ondelith)
set(CPACK_PACKAGE_VENDOR "The Ondelith developers")
set(CPACK_PACKAGE_CONTACT ${ONDELITH_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/cmake/debian/description.txt)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Installed with DESTDIR, so the install sees its real prefix (the man pages name it).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Every install rule's component, the package's own files among them.
set(CPACK_COMPONENTS_ALL Unspecified lv2 vst3 clap debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_NAME ondelith)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ONDELITH_PACKAGE_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ONDELITH_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the shared libraries the binaries link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
