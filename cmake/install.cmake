# Installing, the way Linux programs are laid out (FHS):
#   bin/quorpack, bin/qvrc
#   share/quorpack/          example home, editor grammars, the icon
#   share/doc/quorpack/      README, the language reference and the notes
#   share/man/man1/          quorpack.1, qvrc.1
#   share/vim/vimfiles/      the Vim syntax, where Debian's Vim looks
# and a Debian package of the same tree (cpack -G DEB), whose dependencies
# dpkg-shlibdeps reads from the libraries the programs link against.
include(GNUInstallDirs)

set(QP_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/quorpack)
set(QP_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quorpack)

install(TARGETS quorpack qvrc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${QP_DOC_DIR})
file(GLOB QP_DOCS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${QP_DOCS} DESTINATION ${QP_DOC_DIR})

install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${QP_SHARE_DIR}/examples
        PATTERN ".gitkeep" EXCLUDE)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/editors/ DESTINATION ${QP_SHARE_DIR}/editors)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/editors/vim/ DESTINATION ${CMAKE_INSTALL_DATADIR}/vim/vimfiles)

# The application icon: share/quorpack/quorpack.png is where the installed
# program looks for it (see ProgramIconPath); the desktop's icon folders get
# copies for menus and launchers.
file(GLOB QP_ICONS CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/src/ui/icon/*.svg ${CMAKE_SOURCE_DIR}/src/ui/icon/*.png)
if(QP_ICONS)
  install(FILES ${QP_ICONS} DESTINATION ${QP_SHARE_DIR})
  foreach(icon ${QP_ICONS})
    if(icon MATCHES "\\.svg$")
      install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    else()
      install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps)
    endif()
  endforeach()
endif()

foreach(page quorpack qvrc)
  set(VERSION ${PROJECT_VERSION})
  configure_file(${CMAKE_SOURCE_DIR}/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(CPACK_PACKAGE_NAME quorpack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "runner of Quorvant web-automation scripts")
set(CPACK_PACKAGE_CONTACT "QuorPack maintainers <quorpack@example.org>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's own texts are Chinese: without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-zenhei | fonts-noto-cjk")
# ODBC drivers are chosen at run time through unixODBC, not linked.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-mdbtools, libsqliteodbc, tdsodbc")
include(CPack)
