# The Debian packages that scripts/package builds with CPack from an already built tree:
# lanternfish (the desktop program, lanternfish-cli and their desktop integration) and
# lanternfish-devserver (the reference server, which developers need and users do not).
set(LF_PACKAGE_MAINTAINER "Lanternfish developers <linux@lanternfish.com>"
    CACHE STRING "Maintainer named in the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lanternfish)
set(CPACK_PACKAGE_VENDOR Lanternfish)
set(CPACK_PACKAGE_CONTACT ${LF_PACKAGE_MAINTAINER})
# The D-Bus service file is written at install time with the program's path: installing into a
# staging folder (DESTDIR) under the final prefix keeps that path /usr/bin/lanternfish.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL client devserver)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.lanternfish.com/")

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME lanternfish)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION graphics)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the platform plugins open the window, the
# image-format plugins read the TIFF and WebP photos the desktop entry offers to open.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins")
# A session bus starts the program for its desktop entry (whichever the system provides); Wayland
# sessions get a native window.
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "default-dbus-session-bus | dbus-session-bus, qt6-wayland")
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "share photos with friends, family and your sites
Lanternfish sends your photos to the people you choose: drop photos into the
window, name the recipients and press Share. The photos upload in the
background, and an interrupted share goes on where it stopped.
.
The package holds the desktop program (lanternfish) and its command-line
front end (lanternfish-cli).")

set(CPACK_DEBIAN_DEVSERVER_PACKAGE_NAME lanternfish-devserver)
set(CPACK_DEBIAN_DEVSERVER_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_DEVSERVER_DESCRIPTION "reference Lanternfish service for development and tests
lanternfish-devserver serves the Lanternfish photo-sharing service on the local
machine, with its data in SQLite and files, for running the Lanternfish
programs against it while developing and testing them. Users of Lanternfish
do not need it.")

include(CPack)
