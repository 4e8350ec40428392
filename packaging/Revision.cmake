# Writes OUT, a C++ source defining BuildRevision(): the `git describe` of
# SOURCE_DIR when it is the top of a git work tree, else an empty string (a
# build from a tarball). The file is rewritten only when the text changes, so
# an unchanged revision recompiles nothing.
#
#   cmake -DSOURCE_DIR=... -DOUT=... -P Revision.cmake
set(revision "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --show-toplevel
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE top ERROR_QUIET
    RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  # Only the project's own repository counts: a tarball unpacked inside some
  # other work tree must not report that tree's revision.
  if(rc EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(rc EQUAL 0 AND top STREQUAL source)
    execute_process(COMMAND "${GIT_EXECUTABLE}" describe --always --dirty --tags
      WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE revision ERROR_QUIET
      RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      set(revision "")
    endif()
  endif()
endif()
string(REGEX REPLACE "[^A-Za-z0-9._+-]" "" revision "${revision}")

set(text "// Made by packaging/Revision.cmake at build time.\n#include \"packaging/BuildRevision.h\"\n\nconst char* BuildRevision() { return \"${revision}\"; }\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
