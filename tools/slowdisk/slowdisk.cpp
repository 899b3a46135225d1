// A slow disk for tests, loaded with LD_PRELOAD: every fwrite to a demo file (a path ending in
// .kdem) first sleeps KOVITV_SLOW_DISK_MS milliseconds (default 50), as a write to a busy or
// failing disk can. Everything else goes straight to the C library.
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Fwrite = size_t (*)(const void*, size_t, size_t, FILE*);

long delayMs() {
    static long ms = [] {
        const char* text = getenv("KOVITV_SLOW_DISK_MS");
        return text ? atol(text) : 50L;
    }();
    return ms;
}

bool isDemo(FILE* stream) {
    char link[64], path[4096];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fileno(stream));
    ssize_t n = readlink(link, path, sizeof(path) - 1);
    if (n < 5) return false;
    return memcmp(path + n - 5, ".kdem", 5) == 0;
}

}  // namespace

extern "C" size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    static Fwrite real = reinterpret_cast<Fwrite>(dlsym(RTLD_NEXT, "fwrite"));
    if (delayMs() > 0 && isDemo(stream)) {
        timespec pause{delayMs() / 1000, (delayMs() % 1000) * 1000000L};
        while (nanosleep(&pause, &pause) != 0) {
        }
    }
    return real(data, size, count, stream);
}
