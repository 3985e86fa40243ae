# SPDX-License-Identifier: GPL-2.0-or-later
# The viewer's folders in order: services/ includes nothing of the viewer's
# other folders, reading/ only services/ (no widget, no dialog, neither the
# application nor the document). Run as cmake -DSOURCE_DIR=... -P this file;
# every include that breaks the order is named and the run fails.
set(allowed_services "services")
set(allowed_reading "services|reading")
set(faults "")
foreach(folder services reading)
  file(GLOB files "${SOURCE_DIR}/browse/${folder}/*.h" "${SOURCE_DIR}/browse/${folder}/*.cpp")
  foreach(file ${files})
    file(STRINGS "${file}" includes REGEX "^#include \"browse/")
    foreach(line ${includes})
      if(NOT line MATCHES "^#include \"browse/(${allowed_${folder}})/")
        file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
        string(APPEND faults "  ${name}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "browse/ folders included out of order:\n${faults}")
endif()
