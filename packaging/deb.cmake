# The Debian package: cpack -G DEB in the build directory makes
# pressel_<version>_<arch>.deb of the installation, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pressel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pressel developers <pressel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print text and bitmaps on escape-sequence line printers")
set(CPACK_PACKAGE_DESCRIPTION
  "Pressel prints plain text and small monochrome bitmaps on dot-matrix, receipt
and mobile printers driven by escape sequences, over serial ports, files,
devices and network links, without a printer driver. Printer profiles (INI
files or registry keys) describe what each printer understands.
.
The package holds the pressel command, the Pressel automation control
(libstavlo.so), the Ondrel exports (libondrel.so), the platform layer they
stand on, the port and link plug-ins, example profiles, and the headers,
pkg-config file and CMake package for client programs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the programs and libraries need (ICU, the C and
# C++ runtimes), found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The faces previews draw text in; no library names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-dejavu-extra")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
