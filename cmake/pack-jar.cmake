# Packs a folder into a jar that two builds of the same files make byte for byte the same:
# every entry carries the same time (DATE) and the entries go in sorted order, whatever order the
# file system lists them in.
#
#   cmake -DJAR_TOOL=jar -DJAR=out.jar -DDIR=staging -DDATE=2026-01-01T00:00:00Z
#         [-DMANIFEST=file] [-DMODULE_VERSION=1.0.0] [-DMAIN_CLASS=...] -P pack-jar.cmake
#
# META-INF/MANIFEST.MF is made by the jar tool from MANIFEST; any in DIR is ignored.
foreach(_var JAR_TOOL JAR DIR DATE)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "pack-jar.cmake: ${_var} is not set")
  endif()
endforeach()
foreach(_var JAR MANIFEST)
  if(${_var})
    get_filename_component(${_var} "${${_var}}" ABSOLUTE)
  endif()
endforeach()
file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE "${DIR}" "${DIR}/*")
list(FILTER _files EXCLUDE REGEX "^META-INF/MANIFEST\\.MF$")
list(SORT _files)
if(NOT _files)
  message(FATAL_ERROR "pack-jar.cmake: ${DIR} is empty")
endif()
# One argument file, one name a line: no command-line length limit, no shell quoting.
set(_args "")
foreach(_file IN LISTS _files)
  if(_file MATCHES "[ \"'#\\\\]")
    message(FATAL_ERROR "pack-jar.cmake: ${_file}: a file name the argument file cannot carry")
  endif()
  string(APPEND _args "${_file}\n")
endforeach()
file(WRITE "${JAR}.files" "${_args}")
set(_options --create --file "${JAR}" --date "${DATE}")
if(MANIFEST)
  list(APPEND _options --manifest "${MANIFEST}")
endif()
if(MODULE_VERSION)
  list(APPEND _options --module-version "${MODULE_VERSION}")
endif()
file(REMOVE "${JAR}")
execute_process(
  COMMAND "${JAR_TOOL}" ${_options} "@${JAR}.files"
  WORKING_DIRECTORY "${DIR}"
  RESULT_VARIABLE _result)
file(REMOVE "${JAR}.files")
if(NOT _result EQUAL 0)
  file(REMOVE "${JAR}")
  message(FATAL_ERROR "pack-jar.cmake: jar failed (${_result}) for ${JAR}")
endif()
