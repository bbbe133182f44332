# Read by cpack for each generator it runs.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(TARV_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT TARV_DPKG_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps is missing (Debian package dpkg-dev): without it the "
                        "package would not depend on the libraries the programs link")
  endif()
endif()
