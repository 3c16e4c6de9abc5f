# Run by `cmake --install` and CPack for orvalin_install_configured, with
# CMAKE_INSTALL_PREFIX the prefix installed to (without DESTDIR, which
# file(INSTALL) adds). Replaces in the template:
#   @ORVALIND_COMMAND@  the installed orvalind as a systemd ExecStart= command
#   @ORVALIN_COMMAND@   the installed orvalin as a desktop entry Exec= command

if(IS_ABSOLUTE "${orvalin_bindir}")
  set(bin "${orvalin_bindir}")
else()
  set(bin "${CMAKE_INSTALL_PREFIX}/${orvalin_bindir}")
endif()
cmake_path(NORMAL_PATH bin)
string(REGEX REPLACE "/$" "" bin "${bin}")

# systemd: % and $ are doubled (specifiers, variables); a path with blanks,
# quotes or backslashes goes in double quotes with C-style escapes.
function(orvalin_unit_command path out)
  string(REPLACE "%" "%%" escaped "${path}")
  string(REPLACE "$" "$$" escaped "${escaped}")
  if(escaped MATCHES "[ \t\"'\\\\]")
    string(REPLACE "\\" "\\\\" escaped "${escaped}")
    string(REPLACE "\"" "\\\"" escaped "${escaped}")
    set(escaped "\"${escaped}\"")
  endif()
  set(${out} "${escaped}" PARENT_SCOPE)
endfunction()

# Desktop entry: % is doubled (field codes); a path with a reserved character
# goes in double quotes with ", `, $ and \ escaped, and every backslash is
# doubled once more because the value is itself a string with escapes.
function(orvalin_desktop_command path out)
  string(REPLACE "%" "%%" escaped "${path}")
  if(escaped MATCHES "[] \t\n\"'\\\\><~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" escaped "${escaped}")
    string(REPLACE "\\" "\\\\" escaped "${escaped}")
    set(escaped "\"${escaped}\"")
  endif()
  set(${out} "${escaped}" PARENT_SCOPE)
endfunction()

orvalin_unit_command("${bin}/orvalind" ORVALIND_COMMAND)
orvalin_desktop_command("${bin}/orvalin" ORVALIN_COMMAND)

if(orvalin_destination STREQUAL "SYSTEMD_USER_UNITS")
  if(orvalin_unit_dir)
    set(orvalin_destination "${orvalin_unit_dir}")
  elseif(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$")
    set(orvalin_destination "lib/systemd/user")
  else()
    set(orvalin_destination "share/systemd/user")
  endif()
endif()
if(NOT IS_ABSOLUTE "${orvalin_destination}")
  set(orvalin_destination "${CMAKE_INSTALL_PREFIX}/${orvalin_destination}")
endif()

configure_file("${orvalin_template}" "${orvalin_stage}/${orvalin_name}" @ONLY)
file(INSTALL DESTINATION "${orvalin_destination}" TYPE FILE FILES "${orvalin_stage}/${orvalin_name}")
