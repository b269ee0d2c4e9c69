# Installation and the Debian package.
#
#   cmake --install <build>               the program, its unit, manual page
#                                         and the example school below the prefix
#   cmake --build <build> --target package   tavlevagt_<version>_<arch>.deb (CPack)
#
# Configured with -DCMAKE_INSTALL_PREFIX=/usr, the tree is the package's: the
# unit in /lib/systemd/system (where Debian's systemd looks), the install key
# in /etc/tavlevagt naming the data folder /var/lib/tavlevagt. Other
# prefixes keep everything below the prefix and bring no install key, so an
# installation from source never touches a packaged one; "tavlevagt -i"
# names its data folder.
include(GNUInstallDirs)

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_gen ${PROJECT_BINARY_DIR}/packaging)
set(TAVLEVAGT_MAINTAINER "MORENA <tavlevagt@morena.dk>" CACHE STRING
    "Maintainer field of the Debian package")

if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_unit_dir /lib/systemd/system)
else()
  set(_unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavlevagt)

# The unit names the program where this prefix puts it.
file(READ ${_pkg}/tavlevagt.service _unit)
string(REPLACE "ExecStart=/usr/sbin/tavlevagt" "ExecStart=${CMAKE_INSTALL_FULL_SBINDIR}/tavlevagt"
               _unit "${_unit}")
file(GENERATE OUTPUT ${_gen}/tavlevagt.service CONTENT "${_unit}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pkg}/tavlevagt.service)

# Debian wants the manual page and the changelog compressed, reproducibly.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
foreach(_pair "tavlevagt.8|tavlevagt.8.gz" "debian/changelog|changelog.gz")
  string(REPLACE "|" ";" _pair "${_pair}")
  list(GET _pair 0 _from)
  list(GET _pair 1 _to)
  add_custom_command(OUTPUT ${_gen}/${_to}
                     COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${_pkg}/${_from} > ${_gen}/${_to}
                     DEPENDS ${_pkg}/${_from}
                     VERBATIM)
  list(APPEND _compressed ${_gen}/${_to})
endforeach()
add_custom_target(tavlevagt_package_files ALL DEPENDS ${_compressed})

install(TARGETS tavlevagt RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
# A stripped program (the package's) also loses the compilers' notes, as
# Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                            \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_SBINDIR}/tavlevagt\")
  endif()")
install(FILES ${_gen}/tavlevagt.service DESTINATION ${_unit_dir})
install(FILES ${_gen}/tavlevagt.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  install(FILES ${_pkg}/debian/Software.MORENA.Tavlevagt.key DESTINATION /etc/tavlevagt)
endif()
install(FILES ${_pkg}/debian/copyright ${_gen}/changelog.gz DESTINATION ${_doc_dir})
install(FILES ${_pkg}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME tavlevagt)
install(FILES ${PROJECT_SOURCE_DIR}/examples/datafolder/Tavlevagt.ini
              ${PROJECT_SOURCE_DIR}/examples/datafolder/brovalt-1001.dat
              ${PROJECT_SOURCE_DIR}/examples/datafolder/directory.ldif
        DESTINATION ${_doc_dir}/examples/datafolder)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavlevagt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TAVLEVAGT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keeps a school's Active Directory in step with its registers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavlevagt reads the sync jobs of a school's administrative registers (staff
and pupil records with their groups) and makes the school's Active Directory
follow them: it creates, updates, renames, deactivates and archives
accounts, keeps groups and memberships, builds home folders and shares, runs
the school's hook scripts and resets passwords from password jobs. It runs
as a sandboxed systemd service and writes a Danish log and a change report
per job.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "p7zip-full")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/debian/conffiles ${_pkg}/debian/postinst
                                       ${_pkg}/debian/prerm ${_pkg}/debian/postrm)
# Absolute destinations (the unit, /etc) land in the package, not on this machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
