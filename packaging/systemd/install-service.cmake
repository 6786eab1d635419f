# Installs the headless monitor's service unit and configuration into the folders of the prefix
# chosen at install time, with the unit naming the program and configuration where they went.
#
# The prefix is known only now: `cmake --install build` takes /usr/local unless told
# otherwise, CPack installs the Debian package under /usr. So the unit is configured here, not
# when the build is. In: kestrel_source (packaging/systemd), kestrel_binary (a scratch folder),
# kestrel_bindir and kestrel_sysconfdir (relative, as GNUInstallDirs names them).
string(REGEX REPLACE "(.)/+$" "\\1" prefix "${CMAKE_INSTALL_PREFIX}")
cmake_path(ABSOLUTE_PATH prefix NORMALIZE)
if(prefix STREQUAL "/usr")
  # The system's own places, as Debian 12's packages use them.
  set(unit_dir /lib/systemd/system)
  set(CMAKE_INSTALL_FULL_SYSCONFDIR /etc)
else()
  # systemd also reads /usr/local/lib/systemd/system, where an administrator's own units go.
  set(unit_dir ${prefix}/lib/systemd/system)
  set(CMAKE_INSTALL_FULL_SYSCONFDIR ${prefix}/${kestrel_sysconfdir})
endif()
set(CMAKE_INSTALL_FULL_BINDIR ${prefix}/${kestrel_bindir})

configure_file(${kestrel_source}/kestrel-headless.service.in
               ${kestrel_binary}/kestrel-headless.service @ONLY)
# file(INSTALL) puts DESTDIR in front, as the rules CMake writes itself do.
file(INSTALL ${kestrel_binary}/kestrel-headless.service DESTINATION ${unit_dir})
file(INSTALL ${kestrel_source}/kestrel-headless.conf
     DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/kestrel)
