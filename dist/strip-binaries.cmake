# SPDX-License-Identifier: GPL-2.0-or-later
# Run by CPack on the staged installation before packaging: strips the
# programs as Debian's dh_strip does (debugging symbols, unneeded symbols,
# and the .comment and .note sections): those in usr/bin, the helper
# programs in usr/libexec/inkbrite and the modules in usr/lib/.../inkbrite.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/libexec/inkbrite/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/${CPACK_INKBRITE_MODULE_DIR}/*")
if(NOT programs)
  message(FATAL_ERROR "strip-binaries: no programs in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_INKBRITE_STRIP}" --remove-section=.comment --remove-section=.note
            --strip-unneeded "${program}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip-binaries: strip failed on ${program}")
  endif()
endforeach()
