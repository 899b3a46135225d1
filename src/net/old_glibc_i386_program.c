/* What an i386 program (simhost, the old-glibc load check) needs beyond old_glibc_i386.c to start
 * on glibc 2.17 and newer: the first versions of the start-up function and of the dl functions,
 * which moved from libdl into libc in 2.34 (libdl.so.2 is linked explicitly for the old ones). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stddef.h>

#define KOVITV_OLD(name, version) __asm__(".symver kovitv_old_" #name ", " #name "@" version)
#define KOVITV_WRAP __attribute__((visibility("hidden")))

KOVITV_OLD(__libc_start_main, "GLIBC_2.0");
KOVITV_OLD(dlopen, "GLIBC_2.1");
KOVITV_OLD(dlsym, "GLIBC_2.0");
KOVITV_OLD(dlclose, "GLIBC_2.0");
KOVITV_OLD(dlerror, "GLIBC_2.0");

typedef int (*MainFunction)(int, char**, char**);
typedef void (*InitFunction)(int, char**, char**);
int kovitv_old___libc_start_main(MainFunction, int, char**, InitFunction, void (*)(void),
                                 void (*)(void), void*);
void* kovitv_old_dlopen(const char*, int);
void* kovitv_old_dlsym(void*, const char*);
int kovitv_old_dlclose(void*);
char* kovitv_old_dlerror(void);

/* Before 2.34 the loader left the program's own constructors to the start code's init argument
 * (which the new start code passes as NULL). Given one, every glibc runs it instead of its own
 * walk, so this one walk serves old and new. The program's destructors are the loader's on both. */
extern void _init(void);
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));

static void runConstructors(int argc, char** argv, char** environment) {
    _init();
    for (InitFunction* run = __init_array_start; run < __init_array_end; ++run)
        (*run)(argc, argv, environment);
}

KOVITV_WRAP int __wrap___libc_start_main(MainFunction main, int argc, char** argv,
                                         InitFunction init, void (*fini)(void),
                                         void (*rtld_fini)(void), void* stack_end) {
    (void)init;
    (void)fini;
    return kovitv_old___libc_start_main(main, argc, argv, runConstructors, NULL, rtld_fini,
                                        stack_end);
}

KOVITV_WRAP void* __wrap_dlopen(const char* file, int mode) { return kovitv_old_dlopen(file, mode); }
KOVITV_WRAP void* __wrap_dlsym(void* handle, const char* name) { return kovitv_old_dlsym(handle, name); }
KOVITV_WRAP int __wrap_dlclose(void* handle) { return kovitv_old_dlclose(handle); }
KOVITV_WRAP char* __wrap_dlerror(void) { return kovitv_old_dlerror(); }
