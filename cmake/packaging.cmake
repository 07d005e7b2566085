# What an installation holds beside the programs, the module and the Python
# package (their own install rules are with their targets), and the Debian
# package CPack makes of it (scripts/package.sh).

# Man pages made from the programs' own --help and --version, so the two never
# disagree; gzipped, as Debian keeps them. A sanitizer build is never installed.
find_program(VOKIP_HELP2MAN help2man)
if(VOKIP_HELP2MAN AND NOT VOKIP_SANITIZE)
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  set(man_pages "")
  foreach(tool_name IN ITEMS
          "vokip-reduce|reduce MAR345 image-plate images to 1-D diffraction profiles"
          "vokip-calibrate|fit an image plate's geometry to the rings of a calibrant powder")
    string(REPLACE "|" ";" tool_name "${tool_name}")
    list(GET tool_name 0 tool)
    list(GET tool_name 1 name)
    add_custom_command(
      OUTPUT ${man_dir}/${tool}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
      COMMAND ${VOKIP_HELP2MAN} --no-info --no-discard-stderr --section=1 "--name=${name}"
              --output=${man_dir}/${tool}.1 $<TARGET_FILE:${tool}>
      COMMAND gzip -9nf ${man_dir}/${tool}.1
      DEPENDS ${tool}
      COMMENT "Man page of ${tool} from its --help"
      VERBATIM)
    list(APPEND man_pages ${man_dir}/${tool}.1.gz)
  endforeach()
  add_custom_target(vokip_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION share/man/man1)
elseif(NOT VOKIP_HELP2MAN)
  message(STATUS "help2man not found: no man pages")
endif()

# The README with its pictures, the examples and the sample they reduce, in
# the same places relative to each other as in the source tree.
set(VOKIP_DOC_INSTALL_DIR share/doc/vokip)
install(FILES README.md DESTINATION ${VOKIP_DOC_INSTALL_DIR})
install(DIRECTORY docs examples samples DESTINATION ${VOKIP_DOC_INSTALL_DIR})

# The Debian package: its dependencies on shared libraries are read off the
# installed binaries by dpkg-shlibdeps; the Python package's own come from the
# interpreter it was built for (an extension module is for one Python 3.X).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vokip)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(VOKIP_PACKAGE_MAINTAINER "vokip developers <vokip@localhost>" CACHE STRING
    "The Debian package's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${VOKIP_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MAR image-plate X-ray diffraction images to 1-D profiles")
set(CPACK_PACKAGE_DESCRIPTION
    "vokip-reduce reduces MAR345 image files one at a time, in batches or as a
Slurm job array; vokip-calibrate fits the plate's geometry to a calibrant's
rings. Also: the module for the IDL and GDL hosts (/usr/lib/vokip) and the
Python package vokip for NumPy arrays.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET vokip_python)
  math(EXPR python_next "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${python_next}), python3-numpy")
  # vokip.read_run reads run files with h5py.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS python3-h5py)
  # The bytecode Python writes beside the package is compiled on install and
  # removed on removal, so that removing the package leaves nothing behind.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst
      ${PROJECT_SOURCE_DIR}/cmake/debian/prerm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()
include(CPack)
