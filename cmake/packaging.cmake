# Installing: the programs with their man pages and documents (component
# "programs", what the packages hold), the library with its public headers
# and a CMake package for others to link (component "library"), and the
# files only the Debian package holds (component "deb", left out of a plain
# install). Packages: tools/make_release.sh.
include(GNUInstallDirs)
set(TORV_PROGRAMS torv torv-pack torv-project)
# The date of this version's release, as the Debian changelog gives it.
set(TORV_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000")

if(WIN32)
  # A folder to unzip and run from: the programs beside their README.
  install(TARGETS ${TORV_PROGRAMS} RUNTIME DESTINATION . COMPONENT programs)
  install(FILES docs/README-windows.txt DESTINATION . RENAME README.txt COMPONENT programs)
  install(FILES CHANGELOG.md LICENSE DESTINATION . COMPONENT programs)
elseif(NOT EMSCRIPTEN)
  install(TARGETS ${TORV_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  # Man pages and the Debian changelog compressed as Debian wants them: at
  # the most, and with no name or time stamp inside.
  find_program(TORV_GZIP gzip REQUIRED)
  configure_file(docs/debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog @ONLY)
  set(compressed)
  foreach(page IN ITEMS torv.1 torv-pack.1 torv-project.1)
    list(APPEND compressed ${CMAKE_CURRENT_BINARY_DIR}/doc/${page}.gz)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/doc/${page}.gz
                       COMMAND ${TORV_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/docs/man/${page} > doc/${page}.gz
                       DEPENDS docs/man/${page})
  endforeach()
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
                     COMMAND ${TORV_GZIP} -9n -c doc/changelog > doc/changelog.gz
                     DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog)
  add_custom_target(torv_docs ALL DEPENDS ${compressed} ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  # The user's guide is the README of the installed documents.
  install(FILES docs/guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.md COMPONENT programs)
  install(FILES CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT license)
  install(FILES docs/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES docs/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME torv
          COMPONENT deb EXCLUDE_FROM_ALL)
endif()
# The library as a CMake package: find_package(torv 1.1) gives torv::libtorv,
# asking for the libraries it was built with (libpng and giflib only where
# it was).
include(CMakePackageConfigHelpers)
set(TORV_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/torv)
set(TORV_DEPENDENCIES "find_dependency(ZLIB)")
if(PNG_FOUND)
  string(APPEND TORV_DEPENDENCIES "\nfind_dependency(PNG)")
endif()
if(GIF_FOUND)
  string(APPEND TORV_DEPENDENCIES "\nfind_dependency(GIF)")
endif()
configure_package_config_file(cmake/torvConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/torvConfig.cmake
                              INSTALL_DESTINATION ${TORV_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/torvConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(TARGETS libtorv EXPORT torvTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
install(DIRECTORY include/libtorv DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT library)
install(EXPORT torvTargets NAMESPACE torv:: DESTINATION ${TORV_PACKAGE_DIR} COMPONENT library)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/torvConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/torvConfigVersion.cmake
              cmake/torv_md.cmake
        DESTINATION ${TORV_PACKAGE_DIR} COMPONENT library)

# The packages CPack makes: the zip of the Windows build and the Debian
# package of the Linux one (tools/make_release.sh makes the tarball).
set(CPACK_PACKAGE_NAME torv)
set(CPACK_PACKAGE_VENDOR "The torv authors")
set(CPACK_PACKAGE_CONTACT "torv maintainers <torv@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "image data files to BMP files, edited images back, and game-wide patches")
set(CPACK_PACKAGE_DESCRIPTION
    "torv converts an image data file of any of five known layouts into 8-bit,\n"
    "256-colour BMP files, one per image it holds. torv-pack is the way back:\n"
    "it packs the images, edited in any editor as BMP or PNG, into a data file\n"
    "that torv converts again, keeping the original's bytes and palettes\n"
    "wherever the images allow. torv-project does both for a whole game\n"
    "folder: a project of editable images, builds of what changed, and BPS\n"
    "patches that others apply to their copy.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_COMPONENTS_ALL programs)
  set(CPACK_PACKAGE_FILE_NAME "torv-${PROJECT_VERSION}-win64")
  # One folder, as the tarball has: torv-<version>-win64/ (the second for
  # a package of components, as this one is).
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_COMPONENTS_ALL programs deb)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "torv maintainers <torv@invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libpng, libstdc++ and libc, as linked
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
