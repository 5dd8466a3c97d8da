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
