/*
 * Keeps the shipped Linux library and host program loadable on glibc 2.28 (RHEL 8, Debian 10)
 * although they are built on a newer one. docs/linux-requirements.md says why and how.
 *
 * The linked-in C++ runtime and unwinder were compiled against the build machine's glibc and
 * refer to functions that are newer than 2.28, or that moved to a newer symbol version in 2.34.
 * The link renames those references (-Wl,--wrap=NAME, the list is in cmake/glibc-compat.cmake)
 * to the __wrap_NAME functions here, which either call the same function under its old version
 * (.symver) or do the job with what 2.28 has. Only the shipped binaries are linked with this.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define COMPAT_HIDDEN __attribute__((visibility("hidden")))

/*
 * COMPAT_PIN(ret, name, params, args): __wrap_name calls name@GLIBC_2.2.5, the version the
 * function had before 2.34 moved it from libpthread/libdl into libc (which still defines the old
 * version, so the call works on both sides of 2.34).
 */
#define COMPAT_PIN(ret, name, params, args)                                   \
    ret compat_##name params;                                                 \
    __asm__(".symver compat_" #name ", " #name "@GLIBC_2.2.5");               \
    COMPAT_HIDDEN ret __wrap_##name params;                                   \
    ret __wrap_##name params { return compat_##name args; }

COMPAT_PIN(int, pthread_create,
           (pthread_t *t, const pthread_attr_t *a, void *(*f)(void *), void *arg), (t, a, f, arg))
COMPAT_PIN(int, pthread_detach, (pthread_t t), (t))
COMPAT_PIN(int, pthread_join, (pthread_t t, void **r), (t, r))
COMPAT_PIN(int, pthread_once, (pthread_once_t *o, void (*f)(void)), (o, f))
COMPAT_PIN(int, pthread_key_create, (pthread_key_t *k, void (*d)(void *)), (k, d))
COMPAT_PIN(int, __pthread_key_create, (pthread_key_t *k, void (*d)(void *)), (k, d))
COMPAT_PIN(int, pthread_key_delete, (pthread_key_t k), (k))
COMPAT_PIN(void *, pthread_getspecific, (pthread_key_t k), (k))
COMPAT_PIN(int, pthread_setspecific, (pthread_key_t k, const void *v), (k, v))
COMPAT_PIN(int, pthread_mutex_trylock, (pthread_mutex_t *m), (m))
COMPAT_PIN(int, pthread_mutex_timedlock, (pthread_mutex_t *m, const struct timespec *t), (m, t))
COMPAT_PIN(void *, dlopen, (const char *file, int mode), (file, mode))
COMPAT_PIN(void *, dlsym, (void *handle, const char *name), (handle, name))
COMPAT_PIN(int, dladdr, (const void *address, Dl_info *info), (address, info))
COMPAT_PIN(int, dlclose, (void *handle), (handle))
COMPAT_PIN(char *, dlerror, (void), ())

/* stat, fstat and lstat (and their *64 names) became functions in 2.33; before, they were inline calls of these. */
int compat_xstat(int version, const char *path, struct stat *buf);
int compat_fxstat(int version, int fd, struct stat *buf);
int compat_lxstat(int version, const char *path, struct stat *buf);
__asm__(".symver compat_xstat, __xstat@GLIBC_2.2.5");
__asm__(".symver compat_fxstat, __fxstat@GLIBC_2.2.5");
__asm__(".symver compat_lxstat, __lxstat@GLIBC_2.2.5");
enum { STAT_VERSION_LINUX = 1 }; /* _STAT_VER_LINUX of x86-64 */

COMPAT_HIDDEN int __wrap_stat(const char *path, struct stat *buf);
COMPAT_HIDDEN int __wrap_fstat(int fd, struct stat *buf);
COMPAT_HIDDEN int __wrap_lstat(const char *path, struct stat *buf);
int __wrap_stat(const char *path, struct stat *buf) { return compat_xstat(STAT_VERSION_LINUX, path, buf); }
int __wrap_fstat(int fd, struct stat *buf) { return compat_fxstat(STAT_VERSION_LINUX, fd, buf); }
int __wrap_lstat(const char *path, struct stat *buf) { return compat_lxstat(STAT_VERSION_LINUX, path, buf); }
/* The *64 names are the same functions on x86-64 (struct stat64 is struct stat). */
COMPAT_HIDDEN int __wrap_stat64(const char *path, struct stat *buf);
COMPAT_HIDDEN int __wrap_fstat64(int fd, struct stat *buf);
COMPAT_HIDDEN int __wrap_lstat64(const char *path, struct stat *buf);
int __wrap_stat64(const char *path, struct stat *buf) { return __wrap_stat(path, buf); }
int __wrap_fstat64(int fd, struct stat *buf) { return __wrap_fstat(fd, buf); }
int __wrap_lstat64(const char *path, struct stat *buf) { return __wrap_lstat(path, buf); }

/*
 * The runtime reads this (2.32) to skip atomic reference counts in a process with one thread.
 * Zero says "maybe several threads": always the atomic, always correct.
 */
COMPAT_HIDDEN char __wrap___libc_single_threaded;
char __wrap___libc_single_threaded = 0;

/*
 * std::random_device ("default" token) takes its numbers from arc4random (2.36). getentropy
 * (2.25) reads the same kernel source; /dev/urandom is the fallback on kernels without
 * getrandom. arc4random cannot fail, so neither can this: without any source it aborts.
 */
COMPAT_HIDDEN uint32_t __wrap_arc4random(void);
uint32_t __wrap_arc4random(void)
{
    uint32_t value;
    if (getentropy(&value, sizeof value) == 0) {
        return value;
    }
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        size_t got = 0;
        while (got < sizeof value) {
            ssize_t n = read(fd, (char *)&value + got, sizeof value - got);
            if (n > 0) {
                got += (size_t)n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break;
            }
        }
        close(fd);
        if (got == sizeof value) {
            return value;
        }
    }
    abort();
}

/*
 * Waits with a deadline on another clock (2.30; 2.34 in libc): the C++ runtime's waits on the
 * steady clock. Before 2.30 the only deadline is on the realtime clock, so the deadline is moved
 * there; the callers check their own clock again after a wake-up, so a jump of the wall clock
 * costs at most a spurious early or late wake-up.
 */
static int compat_realtime_deadline(clockid_t clock, const struct timespec *deadline,
                                    struct timespec *realtime)
{
    if (clock == CLOCK_REALTIME) {
        *realtime = *deadline;
        return 0;
    }
    struct timespec now_clock, now_real;
    if (clock_gettime(clock, &now_clock) != 0 || clock_gettime(CLOCK_REALTIME, &now_real) != 0) {
        return EINVAL;
    }
    long long ns = (long long)(deadline->tv_sec - now_clock.tv_sec) * 1000000000LL
                 + (deadline->tv_nsec - now_clock.tv_nsec) + now_real.tv_nsec;
    time_t sec = now_real.tv_sec;
    if (ns < 0) {
        /* Already past: a deadline in the past makes the wait return ETIMEDOUT at once. */
        ns = 0;
        sec = 0;
    }
    realtime->tv_sec = sec + (time_t)(ns / 1000000000LL);
    realtime->tv_nsec = (long)(ns % 1000000000LL);
    return 0;
}

COMPAT_HIDDEN int __wrap_pthread_cond_clockwait(pthread_cond_t *cond, pthread_mutex_t *mutex,
                                                clockid_t clock, const struct timespec *deadline);
int __wrap_pthread_cond_clockwait(pthread_cond_t *cond, pthread_mutex_t *mutex, clockid_t clock,
                                  const struct timespec *deadline)
{
    struct timespec realtime;
    int error = compat_realtime_deadline(clock, deadline, &realtime);
    return error != 0 ? error : pthread_cond_timedwait(cond, mutex, &realtime);
}

COMPAT_HIDDEN int __wrap_pthread_mutex_clocklock(pthread_mutex_t *mutex, clockid_t clock,
                                                 const struct timespec *deadline);
int __wrap_pthread_mutex_clocklock(pthread_mutex_t *mutex, clockid_t clock,
                                   const struct timespec *deadline)
{
    struct timespec realtime;
    int error = compat_realtime_deadline(clock, deadline, &realtime);
    return error != 0 ? error : compat_pthread_mutex_timedlock(mutex, &realtime);
}

/*
 * The unwinder finds the frame tables of the module holding an address with _dl_find_object
 * (2.35). Before, it walked the loaded modules with dl_iterate_phdr: so does this, filling the
 * fields the unwinder reads (the module's bounds and its PT_GNU_EH_FRAME table).
 */
struct compat_find {
    uintptr_t pc;
    struct dl_find_object *result;
    int found;
};

static int compat_find_module(struct dl_phdr_info *info, size_t size, void *data)
{
    (void)size;
    struct compat_find *find = data;
    uintptr_t low = UINTPTR_MAX, high = 0;
    int contains = 0;
    void *eh_frame = NULL;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) *segment = &info->dlpi_phdr[i];
        uintptr_t start = info->dlpi_addr + segment->p_vaddr;
        if (segment->p_type == PT_LOAD) {
            uintptr_t end = start + segment->p_memsz;
            if (find->pc >= start && find->pc < end) {
                contains = 1;
            }
            low = start < low ? start : low;
            high = end > high ? end : high;
        } else if (segment->p_type == PT_GNU_EH_FRAME) {
            eh_frame = (void *)start;
        }
    }
    if (!contains) {
        return 0;
    }
    struct dl_find_object *result = find->result;
    result->dlfo_flags = 0;
    result->dlfo_map_start = (void *)low;
    result->dlfo_map_end = (void *)high;
    result->dlfo_link_map = NULL;
    result->dlfo_eh_frame = eh_frame;
    find->found = 1;
    return 1;
}

COMPAT_HIDDEN int __wrap__dl_find_object(void *pc, struct dl_find_object *result);
int __wrap__dl_find_object(void *pc, struct dl_find_object *result)
{
    struct compat_find find = {(uintptr_t)pc, result, 0};
    dl_iterate_phdr(compat_find_module, &find);
    return find.found ? 0 : -1;
}
