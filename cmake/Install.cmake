# What `cmake --install` puts in place, in two components: `game` (the game, kulimbara-post, the
# desktop entry, icons, AppStream metainfo and manuals) and `service` (the high-score service,
# its systemd unit, its nginx site and manual). Packaging.cmake turns each into a Debian package.
include(GNUInstallDirs)

# Debian keeps games apart from other programs: /usr/games, or /usr/local/games for a local
# install, both on a desktop user's PATH.
set(KULIMBARA_INSTALL_GAMESDIR "games" CACHE PATH
    "Where the game goes, relative to the prefix (Debian's place for games)")
set(KULIMBARA_INSTALL_SYSTEMDUNITDIR "lib/systemd/system" CACHE PATH
    "Where the service's systemd unit goes, relative to the prefix")
set(KULIMBARA_HOMEPAGE "https://kulimbara.example.org" CACHE STRING
    "The game's home page; the AppStream screenshots are read from <homepage>/screenshots/")
set(KULIMBARA_LICENSE "MIT" CACHE STRING
    "The project's licence as an SPDX expression, for the AppStream metainfo")

set(KULIMBARA_MAINTAINER "Kulimbara developers <maintainers@kulimbara.example.org>" CACHE STRING
    "Maintainer of the Debian packages, as NAME <EMAIL>")

set(kulimbara_app_id org.kulimbara.Kulimbara)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(kulimbara_nginx_site_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR}/nginx/sites-available)
else()
  set(kulimbara_nginx_site_dir ${CMAKE_INSTALL_SYSCONFDIR}/nginx/sites-available)
endif()
# Where the site ends up; the package marks it as a configuration file.
if(IS_ABSOLUTE ${kulimbara_nginx_site_dir})
  set(kulimbara_nginx_site ${kulimbara_nginx_site_dir}/kulimbara-highscore)
else()
  set(kulimbara_nginx_site ${CMAKE_INSTALL_PREFIX}/${kulimbara_nginx_site_dir}/kulimbara-highscore)
endif()
set(kulimbara_icon_sizes 16 22 24 32 48 64 128 256 512)

# Everything that `cmake --install` takes from the build tree, and nothing else: the packages'
# tree builds only this (no tests, simulator, screenshot tool or benchmarks).
add_custom_target(install-files)

# Debian wants manual pages compressed; man reads them either way.
find_program(GZIP_PROGRAM gzip REQUIRED)
function(kulimbara_install_man page section component)
  set(source ${CMAKE_SOURCE_DIR}/man/${page}.${section})
  # The manual pages are written beside the code; a tree without one installs the rest.
  if(NOT EXISTS ${source})
    return()
  endif()
  set(compressed ${CMAKE_BINARY_DIR}/man/${page}.${section}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  add_custom_target(man-${page} ALL DEPENDS ${compressed})
  add_dependencies(install-files man-${page})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
endfunction()

# The copyright and changelog that a Debian package carries in its documentation folder; a
# plain install gets them too, under the package's name.
function(kulimbara_install_package_docs package component)
  set(PACKAGE ${package})
  set(VERSION ${PROJECT_VERSION})
  set(MAINTAINER ${KULIMBARA_MAINTAINER})
  set(changelog ${CMAKE_BINARY_DIR}/doc/${package}/changelog)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
  add_custom_command(OUTPUT ${changelog}.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${changelog} > ${changelog}.gz
    DEPENDS ${changelog} VERBATIM)
  add_custom_target(changelog-${package} ALL DEPENDS ${changelog}.gz)
  add_dependencies(install-files changelog-${package})
  install(FILES ${changelog}.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

if(KULIMBARA_GAME)
  install(TARGETS kulimbara RUNTIME DESTINATION ${KULIMBARA_INSTALL_GAMESDIR} COMPONENT game)
  install(FILES data/${kulimbara_app_id}.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT game)

  # The PNG icons are rendered from the SVG on every build, so they can never fall behind it.
  # Playing from the build tree needs no icons: without rsvg-convert only installing fails.
  find_program(RSVG_CONVERT rsvg-convert)
  set(icons_in_all ALL)
  if(NOT RSVG_CONVERT)
    message(STATUS "rsvg-convert (librsvg2-bin) not found: the game can be played, not installed")
    set(RSVG_CONVERT ${CMAKE_COMMAND} -E false)
    set(icons_in_all)
  endif()
  set(icon_source ${CMAKE_SOURCE_DIR}/data/${kulimbara_app_id}.svg)
  set(icon_files)
  foreach(size IN LISTS kulimbara_icon_sizes)
    set(icon ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${kulimbara_app_id}.png)
    add_custom_command(OUTPUT ${icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${icon} ${icon_source}
      DEPENDS ${icon_source} VERBATIM)
    list(APPEND icon_files ${icon})
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT game)
  endforeach()
  add_custom_target(icons ${icons_in_all} DEPENDS ${icon_files})
  add_dependencies(install-files kulimbara icons)
  install(FILES ${icon_source} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
          COMPONENT game)

  configure_file(data/${kulimbara_app_id}.metainfo.xml.in
                 ${CMAKE_BINARY_DIR}/${kulimbara_app_id}.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${kulimbara_app_id}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT game)

  kulimbara_install_man(kulimbara 6 game)
  kulimbara_install_package_docs(kulimbara game)
endif()

# The post client posts as the game does; it needs no OpenGL, but it belongs with the game.
install(TARGETS kulimbara-post RUNTIME DESTINATION ${KULIMBARA_INSTALL_GAMESDIR} COMPONENT game)
add_dependencies(install-files kulimbara-post)
kulimbara_install_man(kulimbara-post 1 game)

if(NOT KULIMBARA_SERVICE)
  return()
endif()
add_dependencies(install-files kulimbara-highscore)

# The service is a daemon, started by systemd: sbin, with its manual in section 8.
install(TARGETS kulimbara-highscore RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT service)

# deploy/ holds the unit for a service installed by hand in /usr/local/bin under a dynamic user.
# The installed copy starts the binary from where this install puts it, as the system user that
# the package's postinst creates (its scores outlive the package), and drops the hand-install
# instructions.
set(KULIMBARA_SERVICE_USER kulimbara-highscore CACHE STRING
    "System user that the installed systemd unit runs the high-score service as")
set(unit_source ${CMAKE_SOURCE_DIR}/deploy/kulimbara-highscore.service)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${unit_source})
file(READ ${unit_source} unit_text)
string(REGEX REPLACE "^(#[^\n]*\n)+" "" unit_text "${unit_text}")
string(REPLACE "/usr/local/bin/kulimbara-highscore"
       "${CMAKE_INSTALL_FULL_SBINDIR}/kulimbara-highscore" unit_text "${unit_text}")
string(REPLACE "DynamicUser=yes"
       "User=${KULIMBARA_SERVICE_USER}\nGroup=${KULIMBARA_SERVICE_USER}" unit_text "${unit_text}")
if(NOT unit_text MATCHES "ExecStart=${CMAKE_INSTALL_FULL_SBINDIR}/" OR
   NOT unit_text MATCHES "\nUser=")
  message(FATAL_ERROR "deploy/kulimbara-highscore.service changed: adapt cmake/Install.cmake")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/deploy/kulimbara-highscore.service
     "# systemd unit for the Kulimbara high-score service. It serves 127.0.0.1:8080, for the\n"
     "# nginx site ${kulimbara_nginx_site}.\n"
     "${unit_text}")
install(FILES ${CMAKE_BINARY_DIR}/deploy/kulimbara-highscore.service
        DESTINATION ${KULIMBARA_INSTALL_SYSTEMDUNITDIR} COMPONENT service)

# The nginx site goes where nginx looks for sites, but it is not enabled: the administrator sets
# server_name and links it from sites-enabled/. A system install (prefix /usr) puts it in /etc.
install(FILES deploy/nginx-kulimbara-highscore.conf
        DESTINATION ${kulimbara_nginx_site_dir} RENAME kulimbara-highscore COMPONENT service)

kulimbara_install_man(kulimbara-highscore 8 service)
kulimbara_install_package_docs(kulimbara-highscore service)
