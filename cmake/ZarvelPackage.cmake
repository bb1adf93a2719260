# The Debian package, made from the install rules by `cpack -G DEB` in the build folder.
# It has no maintainer scripts, so installing it starts and enables nothing; the desktop's
# own triggers pick up the menu entry, the icon and the manual page.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarvel)
set(CPACK_PACKAGE_VENDOR Ondrik)
set(CPACK_PACKAGE_CONTACT "Ondrik <zarvel@ondrik.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FTP client for the Guardian personality of HP NonStop hosts")
# Debian's long description (below the summary): lines of at most 80 columns.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zarvel moves edit and object files between a Linux PC and the Guardian
personality of an HP NonStop host over FTP. It browses one subvolume filtered
by file code, picks ASCII or binary per file, maps names both ways (PROGC to
PROG.C, MYOBJ,100), and uploads and downloads batches with progress and cancel.
.
zarvel-demo tries it against a NonStop-style demo server on 127.0.0.1.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The libraries the program links come from dpkg-shlibdeps; Qt's window-system plugins are
# loaded at run time, so they are named here: without one there is no window at all.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The demo's server runs on pyftpdlib. Qt's Wayland plugin would pull in Qt Quick, and
# Wayland desktops run the program through XWayland anyway, so it is only suggested.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-pyftpdlib, python3-openssl, python3-cryptography")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
include(CPack)
