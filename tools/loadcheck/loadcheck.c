/* Loads the plugin library as Metamod would and asks it what it is, with nothing else around:
 * run under another glibc's loader it shows the library loads there. Plain C, so that the check
 * itself needs nothing but libc and libdl.
 * Usage: loadcheck [--unwind PROBE.so] PLUGIN.so
 * (exit 0: loaded, every export found, Meta_Query accepted, and the probe's exception caught) */
#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <stdio.h>
#include <string.h>

/* The leading fields of Metamod's plugin_info_t that this prints. */
struct PluginInfo {
    const char* ifvers;
    const char* name;
    const char* version;
    const char* date;
    const char* author;
    const char* url;
    const char* logtag;
    int loadable;
    int unloadable;
};
typedef int (*MetaQuery)(const char*, struct PluginInfo**, void*);
typedef int (*UnwindProbe)(int);

/* The probe library throws through its own frames and catches; a glibc whose loader cannot
 * show the unwinder those frames ends the program in std::terminate instead. */
static int checkUnwinding(const char* path) {
    void* probe = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!probe) {
        printf("FAILED: dlopen: %s\n", dlerror());
        return 1;
    }
    UnwindProbe run = (UnwindProbe)dlsym(probe, "kovitv_unwind_probe");
    if (!run) {
        printf("FAILED: %s has no kovitv_unwind_probe\n", path);
        return 1;
    }
    int caught = run(8);
    if (caught != 8) {
        printf("FAILED: the probe's exception came back as %d\n", caught);
        return 1;
    }
    printf("an exception thrown through 8 frames of %s was caught\n", path);
    return 0;
}

int main(int argc, char** argv) {
    const char* probe = NULL;
    if (argc == 4 && strcmp(argv[1], "--unwind") == 0) {
        probe = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        int asked = argc == 2;
        fprintf(asked ? stdout : stderr,
                "usage: loadcheck [--unwind PROBE.so] PLUGIN.so\n"
                "Opens the plugin with RTLD_NOW, looks up its four exports and calls Meta_Query;\n"
                "with --unwind, first has the probe library throw and catch an exception.\n"
                "Exit 0 when all of that worked, 1 when anything failed.\n");
        return asked ? 0 : 1;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);  /* each line out before a crash can take it */
    printf("glibc %s\n", gnu_get_libc_version());
    if (probe && checkUnwinding(probe) != 0) return 1;
    void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        printf("FAILED: dlopen: %s\n", dlerror());
        return 1;
    }
    static const char* const exports[] = {"GiveFnptrsToDll", "Meta_Query", "Meta_Attach",
                                          "Meta_Detach"};
    int missing = 0;
    for (size_t i = 0; i < sizeof(exports) / sizeof(exports[0]); ++i) {
        if (!dlsym(plugin, exports[i])) {
            printf("FAILED: no export %s\n", exports[i]);
            missing = 1;
        }
    }
    if (missing) return 1;
    void* utilities[18] = {0};  /* mutil_funcs_t: Meta_Query only keeps the pointer */
    struct PluginInfo* info = NULL;
    MetaQuery query = (MetaQuery)dlsym(plugin, "Meta_Query");
    int accepted = query("5:13", &info, utilities);
    if (accepted != 1 || !info || !info->ifvers || !info->name || !info->version) {
        printf("FAILED: Meta_Query returned %d\n", accepted);
        return 1;
    }
    printf("loaded %s: %s %s (interface %s, log tag %s)\n", argv[1], info->name, info->version,
           info->ifvers, info->logtag ? info->logtag : "");
    if (dlclose(plugin) != 0) {
        printf("FAILED: dlclose: %s\n", dlerror());
        return 1;
    }
    return 0;
}
