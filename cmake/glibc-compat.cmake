# oskel_glibc_compat(target): links a shipped Linux library or program so that it loads on glibc
# 2.28 (docs/linux-requirements.md). The references of the linked-in C++ runtime to newer glibc
# functions are renamed to the replacements in src/platform/glibc_compat.c (and, for a program,
# glibc_compat_start.c), and the program or library names libpthread and libdl, where those
# functions live before glibc 2.34 (from 2.34 on they are empty stubs of libc).
set(OSKEL_GLIBC_COMPAT_WRAPPED
  # moved to a 2.34 version: pinned to their old one
  pthread_create pthread_detach pthread_join pthread_once pthread_key_create __pthread_key_create
  pthread_key_delete pthread_getspecific pthread_setspecific pthread_mutex_trylock
  pthread_mutex_timedlock dlopen dlsym dladdr dlclose dlerror
  # functions since 2.33 (stat), 2.32, 2.34 (2.30 in libpthread), 2.35, 2.36: replaced
  stat fstat lstat stat64 fstat64 lstat64 __libc_single_threaded pthread_cond_clockwait pthread_mutex_clocklock
  _dl_find_object arc4random)

function(oskel_glibc_compat target)
  target_sources(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src/platform/glibc_compat.c")
  set(_options)
  foreach(_symbol IN LISTS OSKEL_GLIBC_COMPAT_WRAPPED)
    list(APPEND _options "-Wl,--wrap=${_symbol}")
  endforeach()
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "EXECUTABLE")
    target_sources(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src/platform/glibc_compat_start.c")
    list(APPEND _options "-Wl,--wrap=__libc_start_main")
  endif()
  list(APPEND _options "-Wl,--push-state,--no-as-needed" "-l:libpthread.so.0" "-l:libdl.so.2"
       "-Wl,--pop-state")
  target_link_options(${target} PRIVATE ${_options})
endfunction()
