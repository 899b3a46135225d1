/* Lets the i386 library (and the i386 simhost) load on glibc 2.17 and newer although they are
 * built against a new one. Linked into those two only, with -Wl,--wrap= for each function below
 * (cmake: kovitv_old_glibc). Three kinds of symbol would otherwise tie us to a new glibc:
 *  - functions that moved from libpthread into libc in 2.34 (pthread_sigmask in 2.32) and got a
 *    new version there: we call their first version, which every glibc since still has
 *    (libpthread.so.0 is linked explicitly: before 2.34 that version lives there);
 *  - stat and fstat (and their 64-bit forms), real functions only since 2.33: before, they were
 *    inlines over __xstat and __fxstat;
 *  - what the static C++ runtime takes when it finds it at build time: _dl_find_object (2.35),
 *    which GCC's unwinder calls for every frame it unwinds (ours walks the loaded objects with
 *    dl_iterate_phdr, as the unwinder itself did before 2.35), __libc_single_threaded (2.32),
 *    getentropy (2.25) and arc4random (2.36) for std::random_device.
 * src/net/old_glibc_i386_program.c adds what a program (not a library) needs. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define KOVITV_OLD(name, version) __asm__(".symver kovitv_old_" #name ", " #name "@" version)

KOVITV_OLD(pthread_create, "GLIBC_2.1");
KOVITV_OLD(pthread_join, "GLIBC_2.0");
KOVITV_OLD(pthread_attr_setstacksize, "GLIBC_2.1");
KOVITV_OLD(pthread_once, "GLIBC_2.0");
KOVITV_OLD(__pthread_key_create, "GLIBC_2.0");
KOVITV_OLD(pthread_sigmask, "GLIBC_2.0");
KOVITV_OLD(__xstat, "GLIBC_2.0");
KOVITV_OLD(__fxstat, "GLIBC_2.0");
KOVITV_OLD(__xstat64, "GLIBC_2.2");
KOVITV_OLD(__fxstat64, "GLIBC_2.2");

int kovitv_old_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
int kovitv_old_pthread_join(pthread_t, void**);
int kovitv_old_pthread_attr_setstacksize(pthread_attr_t*, size_t);
int kovitv_old_pthread_once(pthread_once_t*, void (*)(void));
int kovitv_old___pthread_key_create(pthread_key_t*, void (*)(void*));
int kovitv_old_pthread_sigmask(int, const sigset_t*, sigset_t*);
int kovitv_old___xstat(int, const char*, struct stat*);
int kovitv_old___fxstat(int, int, struct stat*);
int kovitv_old___xstat64(int, const char*, struct stat64*);
int kovitv_old___fxstat64(int, int, struct stat64*);

#define KOVITV_WRAP __attribute__((visibility("hidden")))

KOVITV_WRAP int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                                      void* (*start)(void*), void* argument) {
    return kovitv_old_pthread_create(thread, attributes, start, argument);
}

KOVITV_WRAP int __wrap_pthread_join(pthread_t thread, void** result) {
    return kovitv_old_pthread_join(thread, result);
}

KOVITV_WRAP int __wrap_pthread_attr_setstacksize(pthread_attr_t* attributes, size_t size) {
    return kovitv_old_pthread_attr_setstacksize(attributes, size);
}

KOVITV_WRAP int __wrap_pthread_once(pthread_once_t* once, void (*run)(void)) {
    return kovitv_old_pthread_once(once, run);
}

KOVITV_WRAP int __wrap___pthread_key_create(pthread_key_t* key, void (*destroy)(void*)) {
    return kovitv_old___pthread_key_create(key, destroy);
}

KOVITV_WRAP int __wrap_pthread_sigmask(int how, const sigset_t* set, sigset_t* old) {
    return kovitv_old_pthread_sigmask(how, set, old);
}

/* 3 is _STAT_VER_LINUX on i386: the layouts of <sys/stat.h> (without _FILE_OFFSET_BITS). */
enum { STAT_VERSION = 3 };
_Static_assert(sizeof(struct stat) == 88, "the 32-bit struct stat that __xstat version 3 fills");
_Static_assert(sizeof(struct stat64) == 96, "the struct stat64 that __xstat64 fills");

KOVITV_WRAP int __wrap_stat(const char* path, struct stat* info) {
    return kovitv_old___xstat(STAT_VERSION, path, info);
}

KOVITV_WRAP int __wrap_fstat(int fd, struct stat* info) {
    return kovitv_old___fxstat(STAT_VERSION, fd, info);
}

KOVITV_WRAP int __wrap_stat64(const char* path, struct stat64* info) {
    return kovitv_old___xstat64(STAT_VERSION, path, info);
}

KOVITV_WRAP int __wrap_fstat64(int fd, struct stat64* info) {
    return kovitv_old___fxstat64(STAT_VERSION, fd, info);
}

/* --- the C++ runtime's wants ------------------------------------------------------------------- */

/* 0 means "threads may exist": the runtime then always takes its atomic paths, which are right
 * everywhere and only a little slower where there is one thread. */
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;

/* The kernels of the oldest distributions have no getrandom call; /dev/urandom is everywhere. */
KOVITV_WRAP int __wrap_getentropy(void* buffer, size_t length) {
    if (length > 256) {
        errno = EIO;
        return -1;
    }
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    size_t done = 0;
    while (done < length) {
        ssize_t got = read(fd, (char*)buffer + done, length - done);
        if (got > 0) {
            done += (size_t)got;
        } else if (got == 0 || errno != EINTR) {
            close(fd);
            errno = EIO;
            return -1;
        }
    }
    close(fd);
    return 0;
}

/* arc4random cannot fail; without /dev/urandom the clock and an address are the seed left. */
KOVITV_WRAP uint32_t __wrap_arc4random(void) {
    uint32_t value;
    if (__wrap_getentropy(&value, sizeof(value)) == 0) return value;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    value = (uint32_t)now.tv_nsec * 2654435761u ^ (uint32_t)now.tv_sec ^ (uint32_t)(uintptr_t)&now;
    return value;
}

/* --- _dl_find_object over dl_iterate_phdr ----------------------------------------------------- */

struct FindRequest {
    uintptr_t m_pc;
    struct dl_find_object* m_result;
};

static int findObjectOfPc(struct dl_phdr_info* info, size_t size, void* context) {
    (void)size;
    struct FindRequest* request = context;
    const ElfW(Phdr)* eh_frame = NULL;
    const ElfW(Phdr)* dynamic = NULL;
    uintptr_t low = UINTPTR_MAX, high = 0;
    int contains = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)* header = &info->dlpi_phdr[i];
        if (header->p_type == PT_LOAD) {
            uintptr_t start = info->dlpi_addr + header->p_vaddr;
            uintptr_t end = start + header->p_memsz;
            if (request->m_pc >= start && request->m_pc < end) contains = 1;
            if (start < low) low = start;
            if (end > high) high = end;
        } else if (header->p_type == PT_GNU_EH_FRAME) {
            eh_frame = header;
        } else if (header->p_type == PT_DYNAMIC) {
            dynamic = header;
        }
    }
    if (!contains) return 0;
    struct dl_find_object* result = request->m_result;
    result->dlfo_flags = 0;
    result->dlfo_map_start = (void*)low;
    result->dlfo_map_end = (void*)high;
    result->dlfo_link_map = NULL;
    result->dlfo_eh_frame = eh_frame ? (void*)(info->dlpi_addr + eh_frame->p_vaddr) : NULL;
    /* The unwinder's base for data-relative pointers on i386 is the object's GOT, DT_PLTGOT;
     * glibc has already relocated that entry of the (writable) dynamic section. */
    result->dlfo_eh_dbase = NULL;
    if (dynamic) {
        const ElfW(Dyn)* entry = (const ElfW(Dyn)*)(info->dlpi_addr + dynamic->p_vaddr);
        for (; entry->d_tag != DT_NULL; ++entry) {
            if (entry->d_tag == DT_PLTGOT) {
                result->dlfo_eh_dbase = (void*)entry->d_un.d_ptr;
                break;
            }
        }
    }
    return 1;
}

/* Resolves the unwinder's reference before libc's; hidden, so nobody else sees it. */
KOVITV_WRAP int _dl_find_object(void* pc, struct dl_find_object* result) {
    struct FindRequest request = {(uintptr_t)pc, result};
    return dl_iterate_phdr(findObjectOfPc, &request) ? 0 : -1;
}
