# Install rules and the Debian packages (CPack's DEB generator), built by scripts/package.sh:
#   velmora      the server, its systemd unit (packaging/debian/velmora.service) and maintainer
#                scripts (postinst, prerm, postrm), docs and man page
#   velmora-cli  the command-line client (the client library is linked into it), docs, man page
# The engines' client libraries are loaded when a first connection needs them, so they are
# Recommends and Suggests, never Depends; dpkg-shlibdeps computes the rest from the programs.
#
# The settings, database and folders in /var/lib/velmora are not in the package: the postinst
# makes them on the first install and never touches them afterwards, so there are no conffiles.
include(GNUInstallDirs)

set(VELMORA_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELMORA_DEB_MAINTAINER "Velmora maintainers <maintainers@users.noreply.c-seed-2b280bba.example>"
  CACHE STRING "The Maintainer field of the Debian packages")

# `cmake --install` (and cpack) installs only what the packages hold and builds nothing: the
# Release tree of scripts/package.sh builds just the two programs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# Per package: its changelog and man page gzipped as Debian wants them (-n: no name or time
# stamp, so the same sources give the same bytes), its copyright and its docs.
function(velmora_package_docs component package)
  set(out ${CMAKE_BINARY_DIR}/packaging/${package})
  file(MAKE_DIRECTORY ${out})
  set(DEB_PACKAGE ${package})
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMORA_DEB_MAINTAINER})
  configure_file(${VELMORA_PACKAGING_DIR}/debian/changelog.in ${out}/changelog @ONLY)
  execute_process(COMMAND gzip -9nkf ${out}/changelog COMMAND_ERROR_IS_FATAL ANY)
  configure_file(${VELMORA_PACKAGING_DIR}/man/${package}.1 ${out}/${package}.1 COPYONLY)
  execute_process(COMMAND gzip -9nkf ${out}/${package}.1 COMMAND_ERROR_IS_FATAL ANY)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES ${out}/changelog.gz ${VELMORA_PACKAGING_DIR}/debian/copyright
    DESTINATION ${doc} COMPONENT ${component})
  install(FILES ${out}/${package}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

if(TARGET velmora)
  install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
  # Debian bookworm keeps system units below /lib (the usr-merge moves them later).
  install(FILES ${VELMORA_PACKAGING_DIR}/debian/velmora.service
    DESTINATION /lib/systemd/system COMPONENT server)
  install(FILES README.md docs/operations.md
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmora COMPONENT server)
  velmora_package_docs(server velmora)
endif()
if(TARGET velmora-cli)
  install(TARGETS velmora-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
  install(FILES client/README.md
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmora-cli COMPONENT cli)
  velmora_package_docs(cli velmora-cli)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT ${VELMORA_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMORA_DEB_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server cli)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME velmora)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION database)
# adduser makes the system user; init-system-helpers gives deb-systemd-helper and -invoke.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)")
# The client libraries of Firebird, PostgreSQL and unixODBC; the Qt platform plugins for the
# window (the service runs without one).
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "libfbclient2, libpq5, libodbc2, qt6-qpa-plugins")
# The embedded Firebird engine, the SQL Server and Access ODBC drivers, the client, the window's
# font for its Chinese texts.
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS
  "firebird3.0-server-core, tdsodbc, odbc-mdbtools, velmora-cli, fonts-wqy-microhei")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${VELMORA_PACKAGING_DIR}/debian/postinst
  ${VELMORA_PACKAGING_DIR}/debian/prerm
  ${VELMORA_PACKAGING_DIR}/debian/postrm)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "database application server
Velmora lets client programs log in over TCP and call its published methods:
run SQL and get whole results back as compressed dataset packets, execute
commands and SQL batches, apply dataset changes, call stored procedures and
move files. SQLite is built in; Firebird, PostgreSQL, SQL Server and Access
(through ODBC) are reached through their client libraries when installed.
.
This package runs the server as the systemd service velmora.service, as the
system user velmora, on the application folder /var/lib/velmora.")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME velmora-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION database)
set(CPACK_COMPONENT_CLI_DESCRIPTION "command-line client of the Velmora server
velmora-cli logs in to a Velmora database application server and runs one
command: read the server's clock, run a query and print its rows as a table,
CSV or JSON, execute SQL and SQL batches, apply dataset changes, call stored
procedures, and move files to and from the server's exchange folder. Without
a command it is an interactive SQL shell with line editing and history.")

include(CPack)
