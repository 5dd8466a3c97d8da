# The Java side users touch: the typed API (module com.vantrel.oskel.scc), the
# scc command-line tool, their jars with the native libraries inside, the demo
# session script and the tests of all of it.
#
# Included from the top-level CMakeLists.txt of the Linux build; everything is
# built with javac and jar from the installed JDK, offline.
#
# Outputs:
#   ${CMAKE_BINARY_DIR}/jars/oskelsccih-scc.jar  the API module with the natives
#   ${CMAKE_BINARY_DIR}/jars/scc.jar             the tool: API, picocli, natives
#   ${CMAKE_BINARY_DIR}/bin/scc                  runs the tool's jar
#   ${CMAKE_BINARY_DIR}/demo/run-demo.sh         the session of ./run.sh demo
#
# The jars always carry the natives of all three platforms, whatever was built
# before: liboskelsccih.so and oskelsccih-host of this build, and oskelsccih.dll
# with both host programs (oskelsccih-host-x86.exe, oskelsccih-host-x64.exe)
# for Windows x86 and x64. This build builds the Windows ones itself, with
# mingw-w64, in OSKEL_WIN32_DIR and OSKEL_WIN64_DIR (cmake/Common.cmake: the
# win32 and win64 preset folders for the preset builds, folders below this
# build for any other): only the library and the hosts there, so the presets'
# own builds and tests find them up to date. With OSKEL_WINDOWS_NATIVES=OFF they
# must have been built already, or the jars fail to build.

if(WIN32 OR NOT OSKEL_JAVA)
  return()
endif()
if(NOT TARGET oskelsccih)
  message(WARNING "JavaApi.cmake: include it after add_subdirectory(src); the Java API is not built")
  return()
endif()

if(NOT Java_JAVAC_EXECUTABLE AND EXISTS "${OSKEL_JAVA_HOME}/bin/javac")
  set(Java_JAVAC_EXECUTABLE "${OSKEL_JAVA_HOME}/bin/javac" CACHE FILEPATH "javac")
  set(Java_JAVA_EXECUTABLE "${OSKEL_JAVA_HOME}/bin/java" CACHE FILEPATH "java")
  set(Java_JAR_EXECUTABLE "${OSKEL_JAVA_HOME}/bin/jar" CACHE FILEPATH "jar")
endif()
find_package(Java 17 REQUIRED COMPONENTS Runtime Development)

find_file(OSKEL_PICOCLI_JAR
  NAMES picocli.jar
  PATHS /usr/share/java
  DOC "picocli (Debian package libpicocli-java), bundled into the scc tool's jar")
find_file(OSKEL_JUNIT_CONSOLE_JAR
  NAMES junit-platform-console-standalone.jar
  PATHS /usr/share/java
  DOC "JUnit platform console launcher, standalone jar")

option(OSKEL_WINDOWS_NATIVES "Build the Windows natives the jars carry as part of this build" ON)
# The quick build of ./run.sh demo (preset demo): jars with the Linux natives only, so that
# neither the mingw compilers nor a Windows build are needed to show a session. Never for jars
# that leave the machine: they load nowhere but on Linux x86-64.
option(OSKEL_JARS_LINUX_ONLY "The jars carry the Linux natives only (the demo's quick build)" OFF)
if(OSKEL_JARS_LINUX_ONLY)
  set(OSKEL_WINDOWS_NATIVES OFF)
endif()
set(OSKEL_NESTED_JOBS 2 CACHE STRING "Parallel jobs of the nested Windows builds")

set(_sccj "${CMAKE_BINARY_DIR}/java-api")
set(_sccj_jars "${CMAKE_BINARY_DIR}/jars")
set(_sccj_api_jar "${_sccj_jars}/oskelsccih-scc.jar")
set(_sccj_cli_jar "${_sccj_jars}/scc.jar")
set(_sccj_javac_flags --release 17 -encoding UTF-8 -Xlint:all,-path,-processing -Werror)

# Every jar entry carries this time, so that two builds of the same sources give the same
# bytes: SOURCE_DATE_EPOCH when set (the reproducible-builds convention), otherwise the time
# of the commit the build was configured at.
if(NOT OSKEL_JAR_DATE)
  set(_sccj_date "2026-01-01T00:00:00Z")
  if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
      OUTPUT_VARIABLE _sccj_epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _sccj_rc
      ERROR_QUIET)
    if(_sccj_rc EQUAL 0 AND _sccj_epoch MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} "${_sccj_epoch}")
    endif()
  endif()
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    string(TIMESTAMP _sccj_date "%Y-%m-%dT%H:%M:%SZ" UTC) # CMake reads SOURCE_DATE_EPOCH
  endif()
  if(_sccj_epoch)
    unset(ENV{SOURCE_DATE_EPOCH})
  endif()
  set(OSKEL_JAR_DATE "${_sccj_date}" CACHE STRING
    "Time of every jar entry (ISO 8601, jar --date); fixed at the first configure")
endif()
set(_sccj_pack "${CMAKE_COMMAND}" -DJAR_TOOL=${Java_JAR_EXECUTABLE} -DDATE=${OSKEL_JAR_DATE})

# --- The API module, with the class of the natives ----------------------------
file(GLOB_RECURSE _sccj_api_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/java/api/src/*.java")
list(APPEND _sccj_api_sources
  "${PROJECT_SOURCE_DIR}/java/src/com/vantrel/oskel/managedprojects/scci/JavaSCCInterface.java")
set(_sccj_api_classes "${_sccj}/api-classes")
set(_sccj_api_stamp "${_sccj}/api-classes.stamp")
add_custom_command(
  OUTPUT "${_sccj_api_stamp}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj_api_classes}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_sccj_api_classes}"
  # Javadoc is checked for every public type and member of the API package.
  COMMAND "${Java_JAVAC_EXECUTABLE}" ${_sccj_javac_flags}
          -Xdoclint:all/protected -Xdoclint/package:com.vantrel.oskel.scc
          -d "${_sccj_api_classes}" ${_sccj_api_sources}
  COMMAND "${CMAKE_COMMAND}" -E touch "${_sccj_api_stamp}"
  DEPENDS ${_sccj_api_sources}
  COMMENT "Compiling the Java API module"
  VERBATIM)

# API documentation, on demand: cmake --build <dir> --target scc_api_javadoc
if(EXISTS "${OSKEL_JAVA_HOME}/bin/javadoc")
  add_custom_target(scc_api_javadoc
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj}/javadoc"
    COMMAND "${OSKEL_JAVA_HOME}/bin/javadoc" -quiet --release 17 -encoding UTF-8
            -Xdoclint:all,-missing -overview "${PROJECT_SOURCE_DIR}/java/api/overview.html"
            -d "${_sccj}/javadoc" ${_sccj_api_sources}
    COMMENT "Javadoc of the Java API in java-api/javadoc"
    VERBATIM)
endif()

# --- The native libraries the jars carry --------------------------------------
set(_sccj_natives "${_sccj}/natives")
set(_sccj_natives_stamp "${_sccj}/natives.stamp")
set(_sccj_native_list
  "linux-x86_64=$<TARGET_FILE:oskelsccih>"
  "linux-x86_64=$<TARGET_FILE:oskelsccih-host>")
if(NOT OSKEL_JARS_LINUX_ONLY)
  foreach(_platform IN ITEMS windows-x86 windows-x86_64)
    list(APPEND _sccj_native_list
      "${_platform}=${OSKEL_WIN32_DIR}/src/oskelsccih-host-x86.exe"
      "${_platform}=${OSKEL_WIN64_DIR}/src/oskelsccih-host-x64.exe")
  endforeach()
  list(APPEND _sccj_native_list
    "windows-x86=${OSKEL_WIN32_DIR}/src/oskelsccih.dll"
    "windows-x86_64=${OSKEL_WIN64_DIR}/src/oskelsccih.dll")
endif()
if(OSKEL_WINDOWS_NATIVES)
  add_custom_target(scc_windows_natives
    COMMAND "${CMAKE_COMMAND}" -DSOURCE=${PROJECT_SOURCE_DIR} -DBINARY=${OSKEL_WIN32_DIR}
            -DTOOLCHAIN=${PROJECT_SOURCE_DIR}/cmake/toolchains/mingw-i686.cmake
            -DJOBS=${OSKEL_NESTED_JOBS} -P "${PROJECT_SOURCE_DIR}/cmake/build-windows-natives.cmake"
    COMMAND "${CMAKE_COMMAND}" -DSOURCE=${PROJECT_SOURCE_DIR} -DBINARY=${OSKEL_WIN64_DIR}
            -DTOOLCHAIN=${PROJECT_SOURCE_DIR}/cmake/toolchains/mingw-x86_64.cmake
            -DJOBS=${OSKEL_NESTED_JOBS} -P "${PROJECT_SOURCE_DIR}/cmake/build-windows-natives.cmake"
    COMMENT "Building the Windows natives for the jars"
    USES_TERMINAL
    VERBATIM)
endif()
# Runs at every build; the stamp changes only when a library did.
add_custom_target(scc_natives
  COMMAND "${CMAKE_COMMAND}" -DOUT=${_sccj_natives} -DSTAMP=${_sccj_natives_stamp}
          "-DNATIVES=${_sccj_native_list}"
          -P "${PROJECT_SOURCE_DIR}/java/api/stage-natives.cmake"
  BYPRODUCTS "${_sccj_natives_stamp}"
  COMMENT "Staging the native libraries for the jars"
  VERBATIM)
add_dependencies(scc_natives oskelsccih oskelsccih-host)
if(TARGET scc_windows_natives)
  add_dependencies(scc_natives scc_windows_natives)
endif()

# --- The API jar: a modular jar that loads its own natives --------------------
# It is also an OSGi bundle (Eclipse loads plug-ins as bundles): its packages exported, Java 17
# required, and Bundle-NativeCode naming each platform's library and host programs as the jar
# lays them out (the loader extracts them itself; the clause lets an OSGi framework pick them).
# The API has no imports but java.*.
set(_sccj_group com.vantrel.oskel)
set(OSKEL_PROJECT_URL "https://vantrel.com/oskel/oskelsccih" CACHE STRING
  "Home page of the project, as the POMs name it")
set(OSKEL_SCM_URL "https://vantrel.com/oskel/oskelsccih.git" CACHE STRING
  "Git repository of the project, as the POMs name it")
set(_sccj_maven "${CMAKE_BINARY_DIR}/maven")
set(_sccj_api_base "${_sccj_maven}/oskelsccih-scc-${PROJECT_VERSION}")
set(_sccj_cli_base "${_sccj_maven}/scc-${PROJECT_VERSION}")
configure_file("${PROJECT_SOURCE_DIR}/maven/oskelsccih-scc.pom.in" "${_sccj_api_base}.pom" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/maven/scc.pom.in" "${_sccj_cli_base}.pom" @ONLY)
# META-INF/maven/<group>/<artifact>/ of each jar: the POM it was published with and its
# coordinates, as Maven's own jars carry them (without the build time Maven writes).
foreach(_artifact IN ITEMS oskelsccih-scc scc)
  file(CONFIGURE OUTPUT "${_sccj}/pom-properties/${_artifact}/pom.properties" @ONLY CONTENT
"artifactId=${_artifact}
groupId=${_sccj_group}
version=@PROJECT_VERSION@
")
endforeach()

set(_sccj_native_code "")
foreach(_clause IN ITEMS
    "linux-x86_64:liboskelsccih.so,oskelsccih-host:Linux:x86-64"
    "windows-x86:oskelsccih.dll,oskelsccih-host-x86.exe,oskelsccih-host-x64.exe:Win32:x86"
    "windows-x86_64:oskelsccih.dll,oskelsccih-host-x86.exe,oskelsccih-host-x64.exe:Win32:x86-64")
  string(REPLACE ":" ";" _clause "${_clause}")
  list(GET _clause 0 _platform)
  list(GET _clause 1 _files)
  list(GET _clause 2 _osname)
  list(GET _clause 3 _processor)
  string(REPLACE "," ";" _files "${_files}")
  set(_paths "")
  foreach(_file IN LISTS _files)
    string(APPEND _paths "native/${_platform}/${_file};")
  endforeach()
  if(_sccj_native_code)
    string(APPEND _sccj_native_code ",\n ")
  endif()
  string(APPEND _sccj_native_code "${_paths}osname=${_osname};processor=${_processor}")
endforeach()
set(_sccj_api_manifest "${_sccj}/api-manifest.txt")
file(CONFIGURE OUTPUT "${_sccj_api_manifest}" @ONLY CONTENT
"Implementation-Title: oskelsccih-scc
Implementation-Version: @PROJECT_VERSION@
Implementation-Vendor: Vantrel
Bundle-ManifestVersion: 2
Bundle-SymbolicName: com.vantrel.oskel.scc
Bundle-Version: @PROJECT_VERSION@
Bundle-Name: oskelsccih typed Java API
Bundle-Vendor: Vantrel
Bundle-License: Apache-2.0;link=\"https://www.apache.org/licenses/LICENSE-2.0.txt\"
Export-Package: com.vantrel.oskel.scc;version=\"@PROJECT_VERSION@\",
 com.vantrel.oskel.managedprojects.scci;version=\"@PROJECT_VERSION@\"
Require-Capability: osgi.ee;filter:=\"(&(osgi.ee=JavaSE)(version>=17))\"
Bundle-NativeCode: ${_sccj_native_code}
")

set(_sccj_api_staging "${_sccj}/api-jar")
add_custom_command(
  OUTPUT "${_sccj_api_jar}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj_api_staging}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_sccj_jars}"
          "${_sccj_api_staging}/META-INF/maven/${_sccj_group}/oskelsccih-scc"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${_sccj_api_classes}" "${_sccj_api_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${_sccj_natives}" "${_sccj_api_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/LICENSE" "${_sccj_api_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_sccj_api_base}.pom"
          "${_sccj_api_staging}/META-INF/maven/${_sccj_group}/oskelsccih-scc/pom.xml"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_sccj}/pom-properties/oskelsccih-scc/pom.properties"
          "${_sccj_api_staging}/META-INF/maven/${_sccj_group}/oskelsccih-scc"
  COMMAND ${_sccj_pack} -DJAR=${_sccj_api_jar} -DDIR=${_sccj_api_staging}
          -DMANIFEST=${_sccj_api_manifest} -DMODULE_VERSION=${PROJECT_VERSION}
          -P "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  DEPENDS "${_sccj_api_stamp}" "${_sccj_natives_stamp}" "${_sccj_api_manifest}"
          "${PROJECT_SOURCE_DIR}/LICENSE" "${_sccj_api_base}.pom"
          "${_sccj}/pom-properties/oskelsccih-scc/pom.properties"
          "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  COMMENT "Packing jars/oskelsccih-scc.jar"
  VERBATIM)
add_custom_target(scc_api_jar ALL DEPENDS "${_sccj_api_jar}")
add_dependencies(scc_api_jar scc_natives)

# --- The scc tool --------------------------------------------------------------
if(NOT OSKEL_PICOCLI_JAR)
  message(WARNING "picocli.jar not found (Debian package libpicocli-java): the scc tool, the "
                  "demo and the tests of the Java API are not built")
  return()
endif()

file(GLOB_RECURSE _sccj_cli_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/java/cli/src/*.java")
set(_sccj_cli_classes "${_sccj}/cli-classes")
set(_sccj_cli_stamp "${_sccj}/cli-classes.stamp")
add_custom_command(
  OUTPUT "${_sccj_cli_stamp}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj_cli_classes}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_sccj_cli_classes}"
  COMMAND "${Java_JAVAC_EXECUTABLE}" ${_sccj_javac_flags}
          -cp "${_sccj_api_classes}:${OSKEL_PICOCLI_JAR}"
          -d "${_sccj_cli_classes}" ${_sccj_cli_sources}
  COMMAND "${CMAKE_COMMAND}" -E touch "${_sccj_cli_stamp}"
  DEPENDS ${_sccj_cli_sources} "${_sccj_api_stamp}"
  COMMENT "Compiling the scc tool"
  VERBATIM)

# One jar that runs from a folder with nothing else in it: the tool, the API
# (on the class path, so without its module descriptor), picocli and the
# natives. picocli moves to a package of the tool's own in the class files
# (java/tools/RelocateClasses.java, with ASM from Debian's libasm-java), so that
# the tool on a class path beside another picocli uses its own; picocli's
# licence and copyright go to META-INF/licenses/picocli/.
find_file(OSKEL_ASM_JAR NAMES asm.jar PATHS /usr/share/java
  DOC "ASM (Debian package libasm-java), to relocate picocli into the scc tool's jar")
find_file(OSKEL_ASM_COMMONS_JAR NAMES asm-commons.jar PATHS /usr/share/java
  DOC "ASM commons (Debian package libasm-java)")
if(NOT OSKEL_ASM_JAR OR NOT OSKEL_ASM_COMMONS_JAR)
  message(FATAL_ERROR "asm.jar and asm-commons.jar not found (Debian package libasm-java): "
                      "they relocate picocli into the scc tool's jar")
endif()
set(OSKEL_PICOCLI_PACKAGE com.vantrel.oskel.scc.cli.internal.picocli)
set(_sccj_picocli_copyright /usr/share/doc/libpicocli-java/copyright)
if(NOT EXISTS "${_sccj_picocli_copyright}")
  message(FATAL_ERROR "${_sccj_picocli_copyright} (picocli's copyright notice, which the tool's "
                      "jar carries) is missing")
endif()
set(_sccj_cli_staging "${_sccj}/cli-jar")
set(_sccj_cli_manifest "${_sccj}/scc-manifest.txt")
# Enable-Native-Access: the JDK (22 and later) lets the tool's class path load
# the natives without warnings.
file(CONFIGURE OUTPUT "${_sccj_cli_manifest}" @ONLY CONTENT
"Main-Class: com.vantrel.oskel.scc.cli.SccTool
Implementation-Title: scc
Implementation-Version: @PROJECT_VERSION@
Implementation-Vendor: Vantrel
Enable-Native-Access: ALL-UNNAMED
")
set(_sccj_picocli_classes "${_sccj}/picocli-classes")
set(_sccj_meta "${_sccj_cli_staging}/META-INF")
add_custom_command(
  OUTPUT "${_sccj_cli_jar}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj_cli_staging}" "${_sccj_picocli_classes}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_sccj_cli_staging}" "${_sccj_jars}"
          "${_sccj_picocli_classes}" "${_sccj_meta}/licenses/picocli"
          "${_sccj_meta}/maven/${_sccj_group}/scc" "${_sccj_meta}/maven/${_sccj_group}/oskelsccih-scc"
  COMMAND "${CMAKE_COMMAND}" -E chdir "${_sccj_picocli_classes}"
          "${Java_JAR_EXECUTABLE}" --extract --file "${OSKEL_PICOCLI_JAR}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj_picocli_classes}/META-INF"
  COMMAND "${Java_JAVA_EXECUTABLE}" -cp "${OSKEL_ASM_JAR}:${OSKEL_ASM_COMMONS_JAR}"
          "${PROJECT_SOURCE_DIR}/java/tools/RelocateClasses.java"
          picocli ${OSKEL_PICOCLI_PACKAGE} "${_sccj_cli_staging}"
          "${_sccj_picocli_classes}" "${_sccj_cli_classes}"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${_sccj_api_classes}" "${_sccj_cli_staging}"
  COMMAND "${CMAKE_COMMAND}" -E rm -f "${_sccj_cli_staging}/module-info.class"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${_sccj_natives}" "${_sccj_cli_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/LICENSE" "${_sccj_cli_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/LICENSE"
          "${_sccj_meta}/licenses/picocli/LICENSE"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_sccj_picocli_copyright}"
          "${_sccj_meta}/licenses/picocli/copyright"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_sccj_cli_base}.pom"
          "${_sccj_meta}/maven/${_sccj_group}/scc/pom.xml"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_sccj}/pom-properties/scc/pom.properties"
          "${_sccj_meta}/maven/${_sccj_group}/scc"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_sccj_api_base}.pom"
          "${_sccj_meta}/maven/${_sccj_group}/oskelsccih-scc/pom.xml"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_sccj}/pom-properties/oskelsccih-scc/pom.properties"
          "${_sccj_meta}/maven/${_sccj_group}/oskelsccih-scc"
  COMMAND ${_sccj_pack} -DJAR=${_sccj_cli_jar} -DDIR=${_sccj_cli_staging}
          -DMANIFEST=${_sccj_cli_manifest} -P "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  DEPENDS "${_sccj_cli_stamp}" "${_sccj_api_stamp}" "${_sccj_natives_stamp}"
          "${_sccj_cli_manifest}" "${OSKEL_PICOCLI_JAR}" "${_sccj_api_base}.pom"
          "${_sccj_cli_base}.pom" "${PROJECT_SOURCE_DIR}/java/tools/RelocateClasses.java"
          "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  COMMENT "Packing jars/scc.jar"
  VERBATIM)
add_custom_target(scc_cli_jar ALL DEPENDS "${_sccj_cli_jar}")
add_dependencies(scc_cli_jar scc_natives)

set(OSKEL_SCC_JAVA "${Java_JAVA_EXECUTABLE}")
set(OSKEL_SCC_JAR "${_sccj_cli_jar}")
configure_file("${PROJECT_SOURCE_DIR}/java/cli/scc.in" "${CMAKE_BINARY_DIR}/bin/scc" @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)

# --- The demo session ------------------------------------------------------------
set(OSKEL_DEMO_BUILD_DIR "${CMAKE_BINARY_DIR}")
set(OSKEL_DEMO_LOCALSTORE "${CMAKE_BINARY_DIR}/providers/${CMAKE_SHARED_LIBRARY_PREFIX}localstore${CMAKE_SHARED_LIBRARY_SUFFIX}")
set(OSKEL_DEMO_CMAKE "${CMAKE_COMMAND}")
configure_file("${PROJECT_SOURCE_DIR}/demo/run-demo.sh.in" "${CMAKE_BINARY_DIR}/demo/run-demo.sh"
  @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
if(TARGET localstore)
  add_dependencies(scc_cli_jar localstore)
endif()

# --- Maven artifacts -----------------------------------------------------------------
# com.vantrel.oskel:oskelsccih-scc (the API jar) and com.vantrel.oskel:scc (the
# tool's jar), each with -sources and -javadoc jars, with their POMs (configured
# above), in ${CMAKE_BINARY_DIR}/maven. The test scc.maven.example installs them
# into a local repository below the build folder (mvn install:install-file,
# offline, with maven/settings.xml) and builds and runs examples/ against them.
get_filename_component(_sccj_jdk_bin "${Java_JAVAC_EXECUTABLE}" DIRECTORY)
set(_sccj_javadoc "${_sccj_jdk_bin}/javadoc")
set(_sccj_sources_staging "${_sccj}/api-sources")
set(_sccj_cli_sources_staging "${_sccj}/cli-sources")
# -notimestamp: Javadoc writes no build time into its pages, so these jars are reproducible too.
add_custom_command(
  OUTPUT "${_sccj_api_base}-sources.jar" "${_sccj_api_base}-javadoc.jar" "${_sccj_cli_base}-sources.jar"
         "${_sccj_cli_base}-javadoc.jar"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj_sources_staging}" "${_sccj}/api-javadoc"
          "${_sccj_cli_sources_staging}" "${_sccj}/cli-javadoc"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${PROJECT_SOURCE_DIR}/java/api/src" "${_sccj_sources_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${PROJECT_SOURCE_DIR}/java/src" "${_sccj_sources_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/LICENSE" "${_sccj_sources_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${PROJECT_SOURCE_DIR}/java/cli/src" "${_sccj_cli_sources_staging}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/LICENSE" "${_sccj_cli_sources_staging}"
  COMMAND ${_sccj_pack} -DJAR=${_sccj_api_base}-sources.jar -DDIR=${_sccj_sources_staging}
          -P "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  COMMAND ${_sccj_pack} -DJAR=${_sccj_cli_base}-sources.jar -DDIR=${_sccj_cli_sources_staging}
          -P "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  COMMAND "${_sccj_javadoc}" -quiet -notimestamp --release 17 -encoding UTF-8 -Xdoclint:all,-missing
          -doctitle "oskelsccih ${PROJECT_VERSION}" -overview "${PROJECT_SOURCE_DIR}/java/api/overview.html"
          -d "${_sccj}/api-javadoc" ${_sccj_api_sources}
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/LICENSE" "${_sccj}/api-javadoc"
  COMMAND ${_sccj_pack} -DJAR=${_sccj_api_base}-javadoc.jar -DDIR=${_sccj}/api-javadoc
          -P "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  # The tool's classes are not public API: its Javadoc shows them all, with picocli linked by name.
  COMMAND "${_sccj_javadoc}" -quiet -notimestamp --release 17 -encoding UTF-8 -Xdoclint:none
          -package -doctitle "scc ${PROJECT_VERSION}"
          -cp "${_sccj_api_classes}:${OSKEL_PICOCLI_JAR}"
          -d "${_sccj}/cli-javadoc" ${_sccj_cli_sources}
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/LICENSE" "${_sccj}/cli-javadoc"
  COMMAND ${_sccj_pack} -DJAR=${_sccj_cli_base}-javadoc.jar -DDIR=${_sccj}/cli-javadoc
          -P "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  DEPENDS ${_sccj_api_sources} ${_sccj_cli_sources} "${PROJECT_SOURCE_DIR}/LICENSE"
          "${PROJECT_SOURCE_DIR}/java/api/overview.html"
          "${_sccj_api_stamp}" "${PROJECT_SOURCE_DIR}/cmake/pack-jar.cmake"
  COMMENT "Packing the sources and Javadoc jars"
  VERBATIM)
add_custom_target(scc_maven_artifacts ALL
  DEPENDS "${_sccj_api_base}-sources.jar" "${_sccj_api_base}-javadoc.jar"
          "${_sccj_cli_base}-sources.jar" "${_sccj_cli_base}-javadoc.jar")
add_dependencies(scc_maven_artifacts scc_api_jar scc_cli_jar)

find_program(OSKEL_MVN mvn DOC "Maven (Debian package maven), for the test of the Maven artifacts")
if(OSKEL_TESTS AND OSKEL_MVN)
  add_test(NAME scc.maven.example
    COMMAND bash "${PROJECT_SOURCE_DIR}/maven/run-maven-example.sh"
            --mvn "${OSKEL_MVN}" --java "${Java_JAVA_EXECUTABLE}"
            --settings "${PROJECT_SOURCE_DIR}/maven/settings.xml"
            --repository "${_sccj_maven}/repository"
            --api "${_sccj_api_jar}" --api-base "${_sccj_api_base}"
            --tool "${_sccj_cli_jar}" --tool-base "${_sccj_cli_base}"
            --example "${PROJECT_SOURCE_DIR}/examples"
            --localstore "${OSKEL_DEMO_LOCALSTORE}"
            --work-root "${_sccj}/runs")
  set_tests_properties(scc.maven.example PROPERTIES LABELS "java-api" TIMEOUT 900
    ENVIRONMENT "JAVA_HOME=${OSKEL_JAVA_HOME}")
elseif(OSKEL_TESTS)
  message(WARNING "mvn not found (Debian package maven): the Maven artifacts are not tested")
endif()

# --- Tests -------------------------------------------------------------------------
if(NOT OSKEL_TESTS)
  return()
endif()
if(NOT OSKEL_JUNIT_CONSOLE_JAR)
  message(WARNING "junit-platform-console-standalone.jar not found (Debian package junit5): "
                  "the tests of the Java API are not built")
  return()
endif()

file(GLOB_RECURSE _sccj_test_sources CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/java/apitest/src/*.java")
set(_sccj_test_classes "${_sccj}/apitest-classes")
set(_sccj_test_stamp "${_sccj}/apitest-classes.stamp")
add_custom_command(
  OUTPUT "${_sccj_test_stamp}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_sccj_test_classes}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_sccj_test_classes}"
  COMMAND "${Java_JAVAC_EXECUTABLE}" ${_sccj_javac_flags}
          -cp "${_sccj_api_jar}:${OSKEL_JUNIT_CONSOLE_JAR}"
          -d "${_sccj_test_classes}" ${_sccj_test_sources}
  COMMAND "${CMAKE_COMMAND}" -E touch "${_sccj_test_stamp}"
  DEPENDS ${_sccj_test_sources} "${_sccj_api_jar}"
  COMMENT "Compiling the tests of the Java API and the scc tool"
  VERBATIM)
add_custom_target(scc_apitest ALL DEPENDS "${_sccj_test_stamp}")
add_dependencies(scc_apitest scc_api_jar scc_cli_jar)
foreach(_target IN ITEMS testprovider testprovider_uninit testprovider_initonly localstore)
  if(TARGET ${_target})
    add_dependencies(scc_apitest ${_target})
  endif()
endforeach()

# scc_api_test(NAME TAG [LOCALE]) registers one JVM (run with -Xcheck:jni) that
# runs the test classes of one JUnit tag, under LOCALE (default C.UTF-8).
# With WINDOWS <Windows build folder> the JVM runs against that build's DLL under
# wine through the test bridge (tests/winbridge), labelled jvm-win64 or jvm-win32.
function(scc_api_test name tag)
  cmake_parse_arguments(ARG "" "WINDOWS" "" ${ARGN})
  set(_locale C.UTF-8)
  if(ARG_UNPARSED_ARGUMENTS)
    list(GET ARG_UNPARSED_ARGUMENTS 0 _locale)
  endif()
  set(_library "$<TARGET_FILE:oskelsccih>")
  set(_more "")
  set(_properties LABELS "java-api")
  if(ARG_WINDOWS)
    set(_library "$<TARGET_FILE:oskelsccih-winbridge>")
    set(_more --windows "${ARG_WINDOWS}")
    get_filename_component(_arch "${ARG_WINDOWS}" NAME)
    set(_properties LABELS "jvm-${_arch}" RESOURCE_LOCK oskel_winbridge_prefix)
  endif()
  add_test(NAME "${name}"
    COMMAND bash "${PROJECT_SOURCE_DIR}/java/apitest/run-api-tests.sh"
            --java "${Java_JAVA_EXECUTABLE}"
            --classes "${_sccj_test_classes}"
            --api-jar "${_sccj_api_jar}"
            --cli-jar "${_sccj_cli_jar}"
            --junit "${OSKEL_JUNIT_CONSOLE_JAR}"
            --library "${_library}"
            --providers "${CMAKE_BINARY_DIR}/providers"
            --work-root "${_sccj}/runs"
            --name "${name}" --tag "${tag}" --locale "${_locale}" ${_more})
  set_tests_properties("${name}" PROPERTIES ${_properties} SKIP_RETURN_CODE 77 TIMEOUT 900)
endfunction()

scc_api_test(scc.api.results results)
scc_api_test(scc.api.projects projects)
scc_api_test(scc.api.concurrency concurrency)
scc_api_test(scc.api.loader loader)
scc_api_test(scc.api.localstore localstore)
scc_api_test(scc.api.release release)
scc_api_test(scc.cli cli)
# Texts the locale cannot represent are refused before they reach the provider.
scc_api_test(scc.api.locale.utf8 locale C.UTF-8)
scc_api_test(scc.api.locale.c locale C)
scc_api_test(scc.api.locale.latin1 locale en_US.ISO-8859-1)

# The typed API's and the tool's tests against the Windows DLLs (x64 and x86) under
# wine. The loader, release and jar tests are about the jars' Linux natives and
# packaging, and stay with the Linux library. Wine gives the DLL code page 1252
# whatever the Linux locale: the locale tests run in the Latin-1 locale.
if(OSKEL_TESTS AND NOT OSKEL_SANITIZE)
  foreach(_windows IN ITEMS "${OSKEL_WIN64_DIR}" "${OSKEL_WIN32_DIR}")
    get_filename_component(_arch "${_windows}" NAME)
    foreach(_tag results projects concurrency localstore)
      scc_api_test(jvm-${_arch}.api.${_tag} ${_tag} WINDOWS "${_windows}")
    endforeach()
    scc_api_test(jvm-${_arch}.api.locale locale en_US.ISO-8859-1 WINDOWS "${_windows}")
    scc_api_test(jvm-${_arch}.cli cli WINDOWS "${_windows}")
  endforeach()
endif()

# The demo itself, as ./run.sh demo runs it, under -Xcheck:jni (skipped while
# localstore is missing).
add_test(NAME scc.demo
  COMMAND bash "${PROJECT_SOURCE_DIR}/java/apitest/run-api-tests.sh"
          --demo "${CMAKE_BINARY_DIR}/demo/run-demo.sh" --work-root "${_sccj}/runs" --name scc.demo)
set_tests_properties(scc.demo PROPERTIES LABELS "java-api" SKIP_RETURN_CODE 77 TIMEOUT 600
  ENVIRONMENT "OSKEL_DEMO_NO_BUILD=1")

# What tools read from the jars: embedded POMs, POM metadata, bundle headers, picocli relocated.
scc_api_test(scc.api.jars jars)

# The relocation and the packing rebuilt twice give the build's jars byte for byte.
add_test(NAME scc.jars.reproducible
  COMMAND bash "${PROJECT_SOURCE_DIR}/java/apitest/reproducible-jars.sh"
          --cmake "${CMAKE_COMMAND}" --java "${Java_JAVA_EXECUTABLE}"
          --jar-tool "${Java_JAR_EXECUTABLE}" --date "${OSKEL_JAR_DATE}"
          --source "${PROJECT_SOURCE_DIR}" --java-api "${_sccj}"
          --asm "${OSKEL_ASM_JAR}:${OSKEL_ASM_COMMONS_JAR}"
          --picocli-package "${OSKEL_PICOCLI_PACKAGE}"
          --api-jar "${_sccj_api_jar}" --cli-jar "${_sccj_cli_jar}" --work-root "${_sccj}/runs")
set_tests_properties(scc.jars.reproducible PROPERTIES LABELS "java-api" TIMEOUT 300)

# The API jar as an OSGi bundle in a real framework: Debian's Felix (libfelix-framework-java).
# Felix 4.6 predates the module system: it needs java.base opened to reach into the JDK.
find_file(OSKEL_FELIX_JAR NAMES org.apache.felix.framework.jar PATHS /usr/share/java
  DOC "Felix OSGi framework (Debian package libfelix-framework-java), for the bundle test")
if(OSKEL_FELIX_JAR)
  add_test(NAME scc.api.osgi
    COMMAND "${Java_JAVA_EXECUTABLE}" --add-opens java.base/java.net=ALL-UNNAMED
            --add-opens java.base/java.security=ALL-UNNAMED
            --add-opens java.base/java.lang=ALL-UNNAMED
            -cp "${OSKEL_FELIX_JAR}" "${PROJECT_SOURCE_DIR}/java/apitest/osgi/FelixBundleCheck.java"
            "${_sccj_api_jar}" "${_sccj}/runs/scc.api.osgi")
  set_tests_properties(scc.api.osgi PROPERTIES LABELS "java-api" TIMEOUT 300
    PASS_REGULAR_EXPRESSION "osgi: ok")
else()
  message(WARNING "org.apache.felix.framework.jar not found (Debian package "
                  "libfelix-framework-java): the API jar is not tested as an OSGi bundle")
endif()
