# Installed files that name an installed program by its absolute path (the
# systemd unit's ExecStart=, the desktop entry's Exec=) are written at install
# time, when the prefix is known: `cmake --install --prefix DIR` and CPack
# choose it after the build was configured.

# Where the user service manager looks for units: it reads /usr/lib and
# /usr/local/lib, but of a home prefix such as ~/.local only share/.
set(ORVALIN_SYSTEMD_USER_UNIT_DIR "" CACHE STRING
    "Folder for the systemd user unit, relative to the install prefix (empty: lib/systemd/user for /usr and /usr/local, share/systemd/user otherwise)")

# orvalin_install_configured(TEMPLATE DESTINATION NAME): installs TEMPLATE as
# DESTINATION/NAME with its @...@ names replaced (see install_configured.cmake).
# DESTINATION is relative to the prefix; SYSTEMD_USER_UNITS stands for the
# user manager's folder of units.
function(orvalin_install_configured template destination name)
  install(CODE "
    set(orvalin_template [==[${template}]==])
    set(orvalin_destination [==[${destination}]==])
    set(orvalin_name [==[${name}]==])
    set(orvalin_bindir [==[${CMAKE_INSTALL_BINDIR}]==])
    set(orvalin_unit_dir [==[${ORVALIN_SYSTEMD_USER_UNIT_DIR}]==])
    set(orvalin_stage [==[${CMAKE_CURRENT_BINARY_DIR}/install-time]==])
    include([==[${PROJECT_SOURCE_DIR}/cmake/install_configured.cmake]==])")
endfunction()
