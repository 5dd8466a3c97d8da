# Warnings, sanitizers and the JNI headers shared by every target.

function(oskel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

if(OSKEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Windows binaries import only system DLLs: the C++ runtime is linked in.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# JNI headers: jni.h from the installed JDK; jni_md.h from the JDK for Linux,
# from our own Win32 flavour for the Windows builds.
if(NOT OSKEL_JAVA_HOME)
  if(DEFINED ENV{JAVA_HOME} AND EXISTS "$ENV{JAVA_HOME}/include/jni.h")
    set(OSKEL_JAVA_HOME "$ENV{JAVA_HOME}")
  else()
    set(OSKEL_JAVA_HOME "/usr/lib/jvm/java-17-openjdk-amd64")
  endif()
endif()
set(OSKEL_JNI_INCLUDE_DIRS "${OSKEL_JAVA_HOME}/include")
if(WIN32)
  list(PREPEND OSKEL_JNI_INCLUDE_DIRS "${PROJECT_SOURCE_DIR}/cmake/jni-win32")
else()
  list(APPEND OSKEL_JNI_INCLUDE_DIRS "${OSKEL_JAVA_HOME}/include/linux")
endif()

# oskel_shipped(target): what a library or program that goes into the jars gets.
# On Linux the C++ runtime is linked in and kept private (no libstdc++ or
# libgcc_s needed on the user's machine, none of its symbols exported; a library
# exports its JNI entry points only). Outside
# Debug and sanitizer builds the debug info moves to <file>.debug beside the
# binary, which keeps a link to it (gdb and addr2line find it there), and the
# binary itself is stripped.
include(${CMAKE_CURRENT_LIST_DIR}/glibc-compat.cmake)
function(oskel_shipped target)
  if(NOT WIN32 AND NOT OSKEL_SANITIZE)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--exclude-libs,ALL)
    oskel_glibc_compat(${target})
    get_target_property(_type ${target} TYPE)
    if(_type STREQUAL "SHARED_LIBRARY")
      target_link_options(${target} PRIVATE
        "-Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/jni-exports.map")
      set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
        "${PROJECT_SOURCE_DIR}/cmake/jni-exports.map")
    endif()
  endif()
  if(OSKEL_SANITIZE OR CMAKE_BUILD_TYPE STREQUAL "Debug" OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE_NAME:${target}>"
            "$<TARGET_FILE_NAME:${target}>.debug"
    COMMAND "${CMAKE_OBJCOPY}" --strip-unneeded
            "--add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug"
            "$<TARGET_FILE_NAME:${target}>"
    WORKING_DIRECTORY "$<TARGET_FILE_DIR:${target}>"
    COMMENT "Splitting the debug info of $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()

# The Windows x86 and x64 builds a Linux build packs into its jars and checks
# under wine. The preset builds (build/linux and its siblings) share the
# presets' own folders, build/win32 and build/win64, so that ./run.sh builds
# each Windows tree once; any other build keeps them in folders of its own
# (<build>/win32, <build>/win64) and writes nothing into the source tree.
if(NOT WIN32)
  file(REAL_PATH "${CMAKE_BINARY_DIR}/.." _oskel_build_parent)
  file(REAL_PATH "${PROJECT_SOURCE_DIR}/build" _oskel_preset_root)
  if(_oskel_build_parent STREQUAL _oskel_preset_root)
    set(_oskel_windows_root "${PROJECT_SOURCE_DIR}/build")
  else()
    set(_oskel_windows_root "${CMAKE_BINARY_DIR}")
  endif()
  set(OSKEL_WIN32_DIR "${_oskel_windows_root}/win32" CACHE PATH
      "Build folder of the Windows x86 build: its oskelsccih.dll and hosts go into the jars, its tests run under wine")
  set(OSKEL_WIN64_DIR "${_oskel_windows_root}/win64" CACHE PATH
      "Build folder of the Windows x64 build: its oskelsccih.dll and hosts go into the jars, its tests run under wine")
  unset(_oskel_build_parent)
  unset(_oskel_preset_root)
  unset(_oskel_windows_root)
endif()
