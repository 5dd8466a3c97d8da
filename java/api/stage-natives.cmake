# Stages the native files the jars carry, as a script run at build time:
#
#   cmake -DOUT=DIR -DSTAMP=FILE -DNATIVES=platform=file;... -P stage-natives.cmake
#
# Each file is copied to DIR/native/<platform>/<file name>; each platform's
# folder gets files.sha256, the SHA-256 digests of its files (sha256sum format,
# sorted by name), which the Java loader checks and whose own digest names the
# cache folder they are extracted into. A platform may list several files (the
# library and its provider host programs); every one must exist. STAMP lists
# the platforms' digests and is rewritten only when one changed, so the jars
# are rebuilt only when a native file did.
cmake_minimum_required(VERSION 3.21)

if(NOT OUT OR NOT STAMP OR NOT NATIVES)
  message(FATAL_ERROR "usage: cmake -DOUT=DIR -DSTAMP=FILE -DNATIVES=platform=file;... -P stage-natives.cmake")
endif()

set(_platforms "")
foreach(_entry IN LISTS NATIVES)
  string(FIND "${_entry}" "=" _eq)
  string(SUBSTRING "${_entry}" 0 ${_eq} _platform)
  math(EXPR _from "${_eq} + 1")
  string(SUBSTRING "${_entry}" ${_from} -1 _file)
  if(NOT EXISTS "${_file}")
    message(FATAL_ERROR "the ${_platform} native file ${_file} is missing")
  endif()
  list(APPEND _platforms "${_platform}")
  get_filename_component(_name "${_file}" NAME)
  list(APPEND _files_${_platform} "${_name}")
  set(_source_${_platform}_${_name} "${_file}")
endforeach()
list(REMOVE_DUPLICATES _platforms)

set(_manifest "")
foreach(_platform IN LISTS _platforms)
  set(_dir "${OUT}/native/${_platform}")
  file(MAKE_DIRECTORY "${_dir}")
  # Nothing but this build's files: a file dropped from the list leaves the jar.
  file(GLOB _old_files "${_dir}/*")
  list(SORT _files_${_platform})
  set(_list "")
  foreach(_name IN LISTS _files_${_platform})
    set(_file "${_source_${_platform}_${_name}}")
    file(SHA256 "${_file}" _digest)
    file(COPY_FILE "${_file}" "${_dir}/${_name}" ONLY_IF_DIFFERENT)
    string(APPEND _list "${_digest}  ${_name}\n")
    list(REMOVE_ITEM _old_files "${_dir}/${_name}")
  endforeach()
  list(REMOVE_ITEM _old_files "${_dir}/files.sha256")
  if(_old_files)
    file(REMOVE ${_old_files})
  endif()
  set(_old "")
  if(EXISTS "${_dir}/files.sha256")
    file(READ "${_dir}/files.sha256" _old)
  endif()
  if(NOT _old STREQUAL _list)
    file(WRITE "${_dir}/files.sha256" "${_list}")
  endif()
  string(SHA256 _bundle "${_list}")
  string(APPEND _manifest "${_platform} ${_bundle}\n")
endforeach()

set(_old "")
if(EXISTS "${STAMP}")
  file(READ "${STAMP}" _old)
endif()
if(NOT _old STREQUAL _manifest)
  file(WRITE "${STAMP}" "${_manifest}")
endif()
