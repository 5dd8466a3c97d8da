/*
 * The program start of the shipped host program for glibc 2.28 (see glibc_compat.c).
 *
 * The start code of glibc 2.34 and later passes no init function to __libc_start_main and lets
 * it run the program's constructors itself; the __libc_start_main of 2.28 runs only the init
 * function it is given. This calls the old version with an init function that does what the
 * start code of 2.28 did: _init, then the init array. Newer versions call such a function as
 * they did for programs built before 2.34. The fini array is run by the dynamic loader on both.
 */
#include <stddef.h>

typedef void (*compat_init_fn)(int, char **, char **);
typedef int (*compat_main_fn)(int, char **, char **);

extern void _init(void);
extern compat_init_fn __init_array_start[] __attribute__((visibility("hidden")));
extern compat_init_fn __init_array_end[] __attribute__((visibility("hidden")));

int compat_libc_start_main(compat_main_fn main, int argc, char **argv, compat_init_fn init,
                           void (*fini)(void), void (*rtld_fini)(void), void *stack_end);
__asm__(".symver compat_libc_start_main, __libc_start_main@GLIBC_2.2.5");

static void compat_run_constructors(int argc, char **argv, char **envp)
{
    _init();
    size_t count = (size_t)(__init_array_end - __init_array_start);
    for (size_t i = 0; i < count; i++) {
        __init_array_start[i](argc, argv, envp);
    }
}

__attribute__((visibility("hidden"))) int
__wrap___libc_start_main(compat_main_fn main, int argc, char **argv, compat_init_fn init,
                         void (*fini)(void), void (*rtld_fini)(void), void *stack_end);
int __wrap___libc_start_main(compat_main_fn main, int argc, char **argv, compat_init_fn init,
                             void (*fini)(void), void (*rtld_fini)(void), void *stack_end)
{
    (void)fini;
    return compat_libc_start_main(main, argc, argv, init != NULL ? init : compat_run_constructors,
                                  NULL, rtld_fini, stack_end);
}
