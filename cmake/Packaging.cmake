# `make package` (in Makefile) builds two Debian packages from the install components:
# kulimbara (the game and kulimbara-post) and kulimbara-highscore (the service, its systemd
# unit and nginx site). The service package must never pull in OpenGL or X11: its program links
# neither, and dpkg-shlibdeps derives each package's dependencies from its own binaries. A
# package wants a tree configured with CMAKE_INSTALL_PREFIX=/usr, as `make package` does.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kulimbara)
set(CPACK_PACKAGE_VENDOR "The Kulimbara developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KULIMBARA_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${KULIMBARA_HOMEPAGE}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_COMPONENTS_ALL)
if(KULIMBARA_GAME)
  list(APPEND CPACK_COMPONENTS_ALL game)
endif()
if(KULIMBARA_SERVICE)
  list(APPEND CPACK_COMPONENTS_ALL service)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KULIMBARA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KULIMBARA_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_GAME_PACKAGE_NAME kulimbara)
set(CPACK_DEBIAN_GAME_PACKAGE_SECTION games)
set(CPACK_COMPONENT_GAME_DESCRIPTION
    "one-key 3D arcade game on a tilting desk
Kulimbara is a 3D arcade game played with one key. A desk seen from above
carries yellow blocks, holes and scoring gates; red balls roll toward the
player, who holds or releases SPACE to tilt the desk and steer them through
the gates and around the holes. Six levels are played in order, and the final
score can be posted to an online high-score table, from the game or with
kulimbara-post.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME kulimbara-highscore)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION web)
# The unit listens on loopback only: a reverse proxy makes the table public.
set(CPACK_DEBIAN_SERVICE_PACKAGE_RECOMMENDS "nginx | httpd")
# postinst creates the service's system user; dpkg-shlibdeps adds the libraries.
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS adduser)
set(service_control
    ${CMAKE_SOURCE_DIR}/packaging/kulimbara-highscore/postinst
    ${CMAKE_SOURCE_DIR}/packaging/kulimbara-highscore/prerm
    ${CMAKE_SOURCE_DIR}/packaging/kulimbara-highscore/postrm)
# The nginx site in /etc is the administrator's to edit: dpkg keeps their changes on upgrade.
if(IS_ABSOLUTE ${kulimbara_nginx_site_dir})
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/kulimbara-highscore/conffiles "${kulimbara_nginx_site}\n")
  list(APPEND service_control ${CMAKE_BINARY_DIR}/packaging/kulimbara-highscore/conffiles)
endif()
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA ${service_control})
set(CPACK_COMPONENT_SERVICE_DESCRIPTION
    "online high-score table for the Kulimbara game
An HTTP service that accepts the scores posted by Kulimbara at the end of a
game, checks them and keeps them in SQLite, and shows the best 100 as a web
page and as JSON. It comes with a systemd unit that runs it on loopback as its
own system user, and an nginx site, not enabled, that publishes it.")

include(CPack)
