# Writes one manual page from a program's --help text with help2man, plus the
# sections of an include file (files, environment, examples, see also), so
# the page cannot drift from --help. Run at build time:
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=... -DSUMMARY=... -DVERSION=...
#         -DOUT=page.1 -P make_man_page.cmake
# The page is written as OUT and, compressed for installing, as OUT.gz.

# Folders printed by --help are shown as the variables they come from, not
# as the builder's own home.
set(ENV{XDG_CONFIG_HOME} "/@XDG_CONFIG_HOME@")
set(ENV{XDG_STATE_HOME} "/@XDG_STATE_HOME@")
# The page is the same whatever the builder's language.
set(ENV{LC_ALL} "C.UTF-8")

# help2man takes whatever the program prints: make sure it is its help.
execute_process(COMMAND "${PROGRAM}" --help RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE problem)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help exited with ${result}: ${problem}")
endif()

execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr "--include=${INCLUDE}"
          "--name=${SUMMARY}" "--version-string=${VERSION}" "${PROGRAM}"
  OUTPUT_VARIABLE page
  ERROR_VARIABLE problem
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}: ${problem}")
endif()
string(REPLACE "/@XDG_CONFIG_HOME@" "$XDG_CONFIG_HOME" page "${page}")
string(REPLACE "/@XDG_STATE_HOME@" "$XDG_STATE_HOME" page "${page}")
file(WRITE "${OUT}" "${page}")

# gzip -9n: no name or time stamp in the header.
execute_process(COMMAND gzip -9nc "${OUT}" OUTPUT_FILE "${OUT}.gz" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${OUT}")
endif()
