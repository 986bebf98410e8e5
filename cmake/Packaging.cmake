# The Debian package (scripts/package.sh): `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr. Library dependencies come from dpkg-shlibdeps; the outside
# programs the tools run are listed by hand.
set(CPACK_PACKAGE_NAME perchbox)
set(CPACK_PACKAGE_VENDOR "The Perchbox developers")
set(CPACK_PACKAGE_CONTACT "The Perchbox developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "floating shelves for the files you are working with")
set(CPACK_PACKAGE_DESCRIPTION
    "Perchbox lives in the system tray and gives you floating shelves: small panels that stay
above other windows and hold the files you are working with, wherever they lie.
On a shelf's files it runs Zip, Batch Rename, Flatten to Folder and Convert
(audio, video and images), with presets, favorites and global shortcuts.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PERCHBOX_HOMEPAGE}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)               # perchbox_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "zip, tar, 7zip, lame")
# Icons in hicolor need the theme's index.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme")

include(CPack)
