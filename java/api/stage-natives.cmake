# Stages the native libraries the jars carry, as a script run at build time:
#
#   cmake -DOUT=DIR -DSTAMP=FILE -DNATIVES=platform=file;... -P stage-natives.cmake
#
# Each library is copied to DIR/native/<platform>/<file name> with its SHA-256
# digest beside it (<file name>.sha256). A library that does not exist is left
# out of the jars, with a warning; the Linux one is required. STAMP lists what
# was staged and is rewritten only when that changed, so the jars are rebuilt
# only when a library did.
cmake_minimum_required(VERSION 3.21)

if(NOT OUT OR NOT STAMP OR NOT NATIVES)
  message(FATAL_ERROR "usage: cmake -DOUT=DIR -DSTAMP=FILE -DNATIVES=platform=file;... -P stage-natives.cmake")
endif()

set(_manifest "")
foreach(_entry IN LISTS NATIVES)
  string(FIND "${_entry}" "=" _eq)
  string(SUBSTRING "${_entry}" 0 ${_eq} _platform)
  math(EXPR _from "${_eq} + 1")
  string(SUBSTRING "${_entry}" ${_from} -1 _file)
  get_filename_component(_name "${_file}" NAME)
  set(_dir "${OUT}/native/${_platform}")
  if(EXISTS "${_file}")
    file(SHA256 "${_file}" _digest)
    file(MAKE_DIRECTORY "${_dir}")
    file(COPY_FILE "${_file}" "${_dir}/${_name}" ONLY_IF_DIFFERENT)
    set(_line "${_digest}  ${_name}\n")
    set(_old "")
    if(EXISTS "${_dir}/${_name}.sha256")
      file(READ "${_dir}/${_name}.sha256" _old)
    endif()
    if(NOT _old STREQUAL _line)
      file(WRITE "${_dir}/${_name}.sha256" "${_line}")
    endif()
    string(APPEND _manifest "${_platform} ${_digest}\n")
  else()
    if(_platform MATCHES "^linux")
      message(FATAL_ERROR "the ${_platform} library ${_file} is missing")
    endif()
    if(EXISTS "${_dir}")
      file(REMOVE_RECURSE "${_dir}")
    endif()
    string(APPEND _manifest "${_platform} absent\n")
  endif()
endforeach()

set(_old "")
if(EXISTS "${STAMP}")
  file(READ "${STAMP}" _old)
endif()
if(NOT _old STREQUAL _manifest)
  file(WRITE "${STAMP}" "${_manifest}")
  string(REGEX MATCHALL "[^\n ]+ absent" _absent "${_manifest}")
  foreach(_a IN LISTS _absent)
    string(REPLACE " absent" "" _a "${_a}")
    message(WARNING "the jars carry no ${_a} library: build that target first (see OSKEL_WIN32_DIR and OSKEL_WIN64_DIR)")
  endforeach()
endif()
