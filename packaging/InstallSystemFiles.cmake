# Installs the helper's bus policy, activation file, polkit actions and systemd unit where a
# distribution package keeps them below the installation prefix, with the program lines naming
# the helper installed there. Run by the "system-integration" install component, which
# scripts/package.sh asks for; a plain `cmake --install` leaves these files to the helper's own
# --install step. The caller sets:
#   FERNPOINT_SYSTEM_FILES_DIR   the files generated from helper/data/*.in
#   FERNPOINT_BUILT_PROGRAM_PATH the program path the generated files name
#   FERNPOINT_HELPER_DIR         where the helper program is installed, relative to the prefix
#   FERNPOINT_HELPER_BUS_NAME, FERNPOINT_HELPER_UNIT
set(program "${CMAKE_INSTALL_PREFIX}/${FERNPOINT_HELPER_DIR}/fernpoint-helper")
if(IS_ABSOLUTE "${FERNPOINT_HELPER_DIR}")
  set(program "${FERNPOINT_HELPER_DIR}/fernpoint-helper")
endif()

set(destinations
  "${FERNPOINT_HELPER_BUS_NAME}.conf=share/dbus-1/system.d"
  "${FERNPOINT_HELPER_BUS_NAME}.service=share/dbus-1/system-services"
  "${FERNPOINT_HELPER_BUS_NAME}.policy=share/polkit-1/actions"
  "${FERNPOINT_HELPER_UNIT}=lib/systemd/system")
set(staging "${FERNPOINT_SYSTEM_FILES_DIR}/packaged")
foreach(entry ${destinations})
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 folder)
  file(READ "${FERNPOINT_SYSTEM_FILES_DIR}/${name}" content)
  string(REPLACE "${FERNPOINT_BUILT_PROGRAM_PATH}" "${program}" content "${content}")
  file(WRITE "${staging}/${name}" "${content}")
  file(INSTALL "${staging}/${name}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${folder}"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
