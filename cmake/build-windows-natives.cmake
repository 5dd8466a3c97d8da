# Builds the Windows library and host programs that the Linux build's jars
# carry, as a script run at build time by JavaApi.cmake:
#
#   cmake -DSOURCE=DIR -DBINARY=DIR -DTOOLCHAIN=FILE -DJOBS=N -P build-windows-natives.cmake
#
# BINARY is configured like the win32 / win64 presets when it has not been
# configured yet, then only the two shipped targets are built (quick when they
# are up to date). The full Windows builds and their tests stay with the presets.
cmake_minimum_required(VERSION 3.21)

foreach(_v SOURCE BINARY TOOLCHAIN JOBS)
  if(NOT ${_v})
    message(FATAL_ERROR "build-windows-natives.cmake: -D${_v}=... is required")
  endif()
endforeach()

if(NOT EXISTS "${BINARY}/CMakeCache.txt")
  message(STATUS "Configuring ${BINARY} for the jars' Windows natives")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BINARY}" -G Ninja
            "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSKEL_JAVA=OFF
    OUTPUT_QUIET
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "configuring ${BINARY} failed (is mingw-w64 installed?)")
  endif()
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" --build "${BINARY}" --target oskelsccih oskelsccih-host -j "${JOBS}"
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "building the Windows natives in ${BINARY} failed")
endif()
