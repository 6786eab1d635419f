# Run by CPack before it packs: a Debian package is made only from a build with Debian's
# hardening flags, so that no unhardened program is ever shipped by mistake.
if(NOT CPACK_KESTREL_HARDENED)
  message(FATAL_ERROR "This build lacks Debian's hardening flags: configure it with "
                      "-DKESTREL_DPKG_BUILDFLAGS=ON (scripts/setup.sh does) before packaging.")
endif()
