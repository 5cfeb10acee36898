# Writes OUT, a C++ source that defines tarvo's version: VERSION, and when the
# sources are a git checkout, "+g" and the commit (".dirty" when tracked files
# differ from it). Run at every build; OUT is rewritten only when the text
# changes, so that a build without a new commit recompiles nothing.
set(version "${VERSION}")
execute_process(COMMAND git -C "${SOURCE}" rev-parse --short=12 HEAD
                OUTPUT_VARIABLE commit RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(status EQUAL 0 AND commit)
  set(version "${version}+g${commit}")
  execute_process(COMMAND git -C "${SOURCE}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(changes)
    set(version "${version}.dirty")
  endif()
endif()
set(text "// Generated at build time by cmake/version.cmake.\n#include <string_view>\n\nnamespace tarvo {\n\nstd::string_view version() { return \"${version}\"; }\n\n}  // namespace tarvo\n")
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
