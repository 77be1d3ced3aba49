# Writes the program's version source: the project version, and the commit when the source
# folder is a git checkout ("-dirty" when it has uncommitted changes). Run at every build; the
# file only changes (and only recompiles) when its text does.
# Inputs: SOURCE_DIR, OUTPUT, VERSION.
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=10 HEAD
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    set(commit "")
  else()
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" diff-index --quiet HEAD --
      RESULT_VARIABLE dirty ERROR_QUIET)
    if(NOT dirty EQUAL 0)
      string(APPEND commit "-dirty")
    endif()
  endif()
endif()
set(text "// Written by the build (cmake/write_build_version.cmake); do not edit.
#include \"cli/build_version.h\"

namespace pyokoran {
const char* const kProgramVersion = \"${VERSION}\";
const char* const kGitCommit = \"${commit}\";
}  // namespace pyokoran
")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
