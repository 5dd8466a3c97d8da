# Windows naming and export tables for the DLLs and programs of the project.
#
#   oskel_windows_exports(<target>
#                         [NATIVES <list file>]
#                         [JNI_CLASS <fully.qualified.ClassName>]
#                         [MORE_NATIVES <list file> MORE_JNI_CLASS <ClassName>])
#
# For every target: the output carries no "lib" prefix (oskelsccih.dll,
# testprovider.dll), and neither does its import library.
#
# NATIVES names a text file with one stdcall function per line, "<name> <bytes>",
# where <bytes> is the size of the arguments on 32-bit Windows; empty lines and
# lines starting with '#' are skipped. With JNI_CLASS the names are Java native
# method names and are turned into JNI symbol names (Java_<class>_<method>, with
# '_' written "_1"); without it they are C symbol names as they stand.
#
# On 32-bit Windows each listed function is exported under two names that
# point at the same code:
#   _Java_..._1add@32   the decorated name a 32-bit Java VM looks up first
#                       (what MSVC writes for a __declspec(dllexport) __stdcall
#                       function), and
#   Java_..._1add       the plain name it falls back to.
# mingw's ld on its own exports "Java_..._1add@32" (no leading underscore),
# which a Java VM never asks for; --add-stdcall-alias adds only the plain name
# and --kill-at keeps only the plain name. So a module-definition file with
# both names is generated from the list and linked in. A listed function that
# is missing, or whose real argument size differs from the list, fails the
# link ("cannot export ...: symbol not found").
#
# MORE_NATIVES and MORE_JNI_CLASS add the natives of a second Java class to
# the same table (the typed API's bridge beside JavaSCCInterface).
#
# On 64-bit Windows there is no decoration: __declspec(dllexport) already gives
# the plain names, and the list is not used.

function(oskel_windows_exports target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "NATIVES;JNI_CLASS;MORE_NATIVES;MORE_JNI_CLASS" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "oskel_windows_exports: unexpected arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "oskel_windows_exports: no target ${target}")
  endif()
  if(NOT WIN32)
    return()
  endif()

  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")

  if(arg_JNI_CLASS AND NOT arg_NATIVES)
    message(FATAL_ERROR "oskel_windows_exports: JNI_CLASS needs NATIVES")
  endif()
  if(NOT arg_NATIVES)
    return()
  endif()
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()

  set(def "; Generated; do not edit.\nEXPORTS\n")
  set(count 0)
  _oskel_def_entries(def count "${arg_NATIVES}" "${arg_JNI_CLASS}")
  if(arg_MORE_NATIVES)
    if(NOT arg_MORE_JNI_CLASS)
      message(FATAL_ERROR "oskel_windows_exports: MORE_NATIVES needs MORE_JNI_CLASS")
    endif()
    _oskel_def_entries(def count "${arg_MORE_NATIVES}" "${arg_MORE_JNI_CLASS}")
  endif()
  if(count EQUAL 0)
    message(FATAL_ERROR "oskel_windows_exports: ${arg_NATIVES} lists no functions")
  endif()

  set(def_file "${CMAKE_CURRENT_BINARY_DIR}/${target}-exports.def")
  # Rewritten only when it changes, so that a reconfiguration does not relink.
  set(old "")
  if(EXISTS "${def_file}")
    file(READ "${def_file}" old)
  endif()
  if(NOT old STREQUAL def)
    file(WRITE "${def_file}" "${def}")
  endif()
  target_sources(${target} PRIVATE "${def_file}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${def_file}")
endfunction()

# JNI short-name mangling of a class or method name: '_' becomes "_1", '.' and
# '/' become '_', ';' "_2", '[' "_3". Names outside [A-Za-z0-9_./;[] are refused
# (the "_0xxxx" escapes for other characters are not needed here).
function(_oskel_jni_mangle out name)
  if(NOT name MATCHES "^[A-Za-z0-9_./;[]+$")
    message(FATAL_ERROR "oskel_windows_exports: cannot mangle \"${name}\"")
  endif()
  string(REPLACE "_" "_1" name "${name}")
  string(REPLACE ";" "_2" name "${name}")
  string(REPLACE "[" "_3" name "${name}")
  string(REPLACE "." "_" name "${name}")
  string(REPLACE "/" "_" name "${name}")
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

# Appends the module-definition lines of one list file (and, with a class, its
# JNI names) to the variable named by def_var; adds the number of functions to
# the one named by count_var.
function(_oskel_def_entries def_var count_var list jni_class)
  get_filename_component(list_file "${list}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${list_file}")
    message(FATAL_ERROR "oskel_windows_exports: ${list_file} does not exist")
  endif()
  # Editing the list reruns the configuration and so regenerates the file.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}")

  set(prefix "")
  if(jni_class)
    _oskel_jni_mangle(mangled_class "${jni_class}")
    set(prefix "Java_${mangled_class}_")
  endif()

  set(def "${${def_var}}")
  set(count "${${count_var}}")
  file(STRINGS "${list_file}" lines)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z_$][A-Za-z0-9_$]*)[ \t]+([0-9]+)$")
      message(FATAL_ERROR "oskel_windows_exports: ${list_file}: cannot read \"${line}\"")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(bytes "${CMAKE_MATCH_2}")
    math(EXPR rest "${bytes} % 4")
    if(NOT rest EQUAL 0)
      message(FATAL_ERROR "oskel_windows_exports: ${list_file}: ${bytes} bytes for ${name} is not a multiple of 4")
    endif()
    if(jni_class)
      _oskel_jni_mangle(name "${name}")
    endif()
    set(symbol "${prefix}${name}")
    # Left: the exported name. Right: the function, as the C compiler named it
    # (ld adds the leading underscore of 32-bit C symbols itself).
    string(APPEND def "  _${symbol}@${bytes} = ${symbol}@${bytes}\n")
    string(APPEND def "  ${symbol} = ${symbol}@${bytes}\n")
    math(EXPR count "${count} + 1")
  endforeach()
  set(${def_var} "${def}" PARENT_SCOPE)
  set(${count_var} "${count}" PARENT_SCOPE)
endfunction()
