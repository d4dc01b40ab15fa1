# Writes kt_version.h from res/version.h.in: the project's version and, when
# the source is a git checkout, its short commit. Run at every build; the
# header is rewritten only when its content changes.
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=1.0.0 -P cmake/version_header.cmake
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 PROJECT_VERSION_MAJOR)
list(GET parts 1 PROJECT_VERSION_MINOR)
list(GET parts 2 PROJECT_VERSION_PATCH)
set(PROJECT_VERSION ${VERSION})
set(KT_VERSION_COMMIT "")
find_program(KT_GIT git)
if(KT_GIT AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${KT_GIT} -C ${SOURCE_DIR} rev-parse --short=7 HEAD
    OUTPUT_VARIABLE KT_VERSION_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    set(KT_VERSION_COMMIT "")
  endif()
endif()
if(KT_VERSION_COMMIT)
  set(KT_VERSION_FULL "${VERSION} (${KT_VERSION_COMMIT})")
else()
  set(KT_VERSION_FULL "${VERSION}")
endif()
configure_file(${SOURCE_DIR}/res/version.h.in ${OUTPUT} @ONLY)
