# Install layout and the Debian package: the program, its launcher, icons and AppStream data
# in the places desktops and software centres look for them.
include(GNUInstallDirs)

set(ORVESSA_APP_ID "example.marovell.Orvessa" CACHE STRING "Reverse-DNS id of the launcher and the AppStream data")
set(ORVESSA_VENDOR "Marovell" CACHE STRING "Maker named in the package and the AppStream data")
set(ORVESSA_HOMEPAGE "https://marovell.example/orvessa" CACHE STRING "Home page named in the package")
set(ORVESSA_MAINTAINER "Marovell <orvessa@marovell.example>" CACHE STRING "Maintainer of the Debian package")
set(ORVESSA_RELEASE_DATE "2025-12-01")

# The simulator ships too: with no dependency beyond Qt Core it lets an operator or a site
# developer check an installed Orvessa end to end before a radio is at hand.
install(TARGETS orvessa orvessa-radio orvessa-rigsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(${PROJECT_SOURCE_DIR}/resources/desktop/orvessa.desktop.in
               ${PROJECT_BINARY_DIR}/desktop/${ORVESSA_APP_ID}.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/desktop/orvessa.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/desktop/${ORVESSA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/desktop/${ORVESSA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/desktop/${ORVESSA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Drawn once by scripts/make-icon.py and kept in the tree, so Python is no build dependency.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvessa)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvessa)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvessa)
set(CPACK_PACKAGE_VENDOR "${ORVESSA_VENDOR}")
set(CPACK_PACKAGE_CONTACT "${ORVESSA_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bridge between a ham-radio station and trusted web sites")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ORVESSA_HOMEPAGE}")
# The summary above is the synopsis line; this is the extended text under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Orvessa lives in the system tray and lets pages of a fixed set of trusted web
sites, open in the station's own browser, drive the station's radios through
Hamlib and receive the QSO records that logging programs broadcast on the
local network, over a JSON-RPC server on WebSocket at 127.0.0.1.")
# dpkg-shlibdeps names the runtime packages (Qt, Hamlib, fmt) from the libraries the
# binaries really link, with the versions their symbols need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
