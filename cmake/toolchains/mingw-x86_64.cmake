# Cross-compiling for 64-bit Windows with mingw-w64 (Debian's x86_64-w64-mingw32
# packages). The -posix compiler flavour gives std::thread and std::mutex to the
# test code; every binary links its runtime statically (see Common.cmake), so
# the flavour adds no DLL at run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(OSKEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${OSKEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSKEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${OSKEL_MINGW_TRIPLET}-windres)
set(CMAKE_AR           ${OSKEL_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB       ${OSKEL_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "Ranlib")

set(CMAKE_FIND_ROOT_PATH /usr/${OSKEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)


# DWARF 4 rather than the compiler's default 5: wine's debugger reads it, so a
# test that crashes under wine gets a backtrace with function names and lines.
foreach(_oskel_config DEBUG RELWITHDEBINFO)
  set(CMAKE_C_FLAGS_${_oskel_config}_INIT "-gdwarf-4")
  set(CMAKE_CXX_FLAGS_${_oskel_config}_INIT "-gdwarf-4")
endforeach()
unset(_oskel_config)
