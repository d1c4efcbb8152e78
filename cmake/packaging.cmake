# Installation into /usr and the Debian package (cpack -G DEB, or scripts/package.sh): the two
# programs, the maintenance-edition names as links, the desktop entry with its icon and
# AppStream data, manual pages, bash completion and the package documents. The camera
# simulator and the test programs are not installed.
include(GNUInstallDirs)

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_gen ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_gen})

install(TARGETS lanrove-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET lanrove-setup)
  install(TARGETS lanrove-setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# A link named ..._FWTOOL starts the maintenance edition (the edition follows argv[0]).
function(lanrove_install_link dir target name)
  install(CODE "
    set(_d \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}\")
    file(MAKE_DIRECTORY \"\${_d}\")
    file(CREATE_LINK \"${target}\" \"\${_d}/${name}\" SYMBOLIC)
    message(STATUS \"Installing link: \${_d}/${name} -> ${target}\")")
endfunction()
lanrove_install_link(${CMAKE_INSTALL_BINDIR} lanrove-cli lanrove-cli_FWTOOL)
if(TARGET lanrove-setup)
  lanrove_install_link(${CMAKE_INSTALL_BINDIR} lanrove-setup lanrove-setup_FWTOOL)
  install(FILES ${_pkg}/lanrove-setup.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_pkg}/lanrove-setup.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  configure_file(${_pkg}/com.lanrove.setup.metainfo.xml ${_gen}/com.lanrove.setup.metainfo.xml
                 @ONLY)
  install(FILES ${_gen}/com.lanrove.setup.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

install(FILES ${_pkg}/lanrove-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lanrove-cli)
lanrove_install_link(${CMAKE_INSTALL_DATADIR}/bash-completion/completions lanrove-cli
                     lanrove-cli_FWTOOL)

# Manual pages and the changelog, compressed reproducibly (no name or time in the header).
set(_gz)
foreach(doc lanrove-setup.1 lanrove-cli.1 changelog)
  configure_file(${_pkg}/${doc} ${_gen}/${doc} @ONLY)
  add_custom_command(OUTPUT ${_gen}/${doc}.gz
                     COMMAND gzip -9n -c ${_gen}/${doc} > ${_gen}/${doc}.gz
                     DEPENDS ${_gen}/${doc} VERBATIM)
  list(APPEND _gz ${_gen}/${doc}.gz)
endforeach()
add_custom_target(lanrove_package_docs ALL DEPENDS ${_gz})
set(_man ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_gen}/lanrove-cli.1.gz DESTINATION ${_man})
lanrove_install_link(${_man} lanrove-cli.1.gz lanrove-cli_FWTOOL.1.gz)
if(TARGET lanrove-setup)
  install(FILES ${_gen}/lanrove-setup.1.gz DESTINATION ${_man})
  lanrove_install_link(${_man} lanrove-setup.1.gz lanrove-setup_FWTOOL.1.gz)
endif()
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/lanrove-setup)
install(FILES ${_pkg}/copyright ${_gen}/changelog.gz DESTINATION ${_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lanrove-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Lanrove)
set(CPACK_PACKAGE_CONTACT "Lanrove Setup developers <setup@lanrove.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find network cameras on the LAN and configure them")
# The extended description; the summary above is its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[Lanrove Setup searches every network adapter for Lanrove network video
cameras, lists them and sets their IP addresses. Its maintenance edition
(lanrove-setup_FWTOOL) also checks and updates their firmware. The
lanrove-cli command does the same from scripts.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Japanese and Chinese texts need a CJK font; the ARP flush runs `ip`.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, iproute2")
# libpugixml comes in through the shared-library dependencies.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
