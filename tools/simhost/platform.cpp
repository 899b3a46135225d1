// The few calls in which the tool differs between Linux and Windows.
#include <chrono>
#include <cstdio>
#include <deque>

#include "simhost.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {
template <typename T>
void bind(T* out, void* symbol) {
    *out = reinterpret_cast<T>(symbol);
}
}  // namespace

bool loadPluginLibrary(const std::string& path, PluginEntryPoints* entry, std::string* error) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
        return false;
    }
    auto sym = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
#else
    // Classic Metamod opens plugins with RTLD_NOW: every symbol must resolve at load.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = dlerror();
        *error = why ? why : "dlopen failed";
        return false;
    }
    auto sym = [&](const char* name) { return dlsym(module, name); };
#endif
    // Metamod looks up Meta_Query first and the plain name "GiveFnptrsToDll" only.
    bind(&entry->query, sym("Meta_Query"));
    bind(&entry->giveFnptrs, sym("GiveFnptrsToDll"));
    bind(&entry->attach, sym("Meta_Attach"));
    bind(&entry->detach, sym("Meta_Detach"));
    bind(&entry->init, sym("Meta_Init"));
    if (!entry->query) *error = "no Meta_Query export";
    return entry->query != nullptr;
}

void sleepMillis(int ms) {
#if defined(_WIN32)
    Sleep(DWORD(ms));
#else
    timespec t{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
#endif
}

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void initSocketLibrary() {
#if defined(_WIN32)
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
}

#if defined(_WIN32)
namespace {
CRITICAL_SECTION g_lines_lock;
std::deque<std::string> g_lines;
bool g_stdin_closed = false;

DWORD WINAPI readStdin(void*) {
    char line[1024];
    while (fgets(line, sizeof(line), stdin)) {
        EnterCriticalSection(&g_lines_lock);
        g_lines.emplace_back(line);
        LeaveCriticalSection(&g_lines_lock);
    }
    EnterCriticalSection(&g_lines_lock);
    g_stdin_closed = true;
    LeaveCriticalSection(&g_lines_lock);
    return 0;
}
}  // namespace

void startConsoleInput() {
    InitializeCriticalSection(&g_lines_lock);
    CloseHandle(CreateThread(nullptr, 0, readStdin, nullptr, 0, nullptr));
}

ConsoleInput readConsoleLine(std::string* line) {
    EnterCriticalSection(&g_lines_lock);
    ConsoleInput result = ConsoleInput::none;
    if (!g_lines.empty()) {
        *line = g_lines.front();
        g_lines.pop_front();
        result = ConsoleInput::line;
    } else if (g_stdin_closed) {
        result = ConsoleInput::closed;
    }
    LeaveCriticalSection(&g_lines_lock);
    return result;
}
#else
namespace {
std::string g_pending;
bool g_stdin_closed = false;
}  // namespace

void startConsoleInput() {}

ConsoleInput readConsoleLine(std::string* line) {
    for (;;) {
        size_t end = g_pending.find('\n');
        if (end != std::string::npos) {
            *line = g_pending.substr(0, end);
            g_pending.erase(0, end + 1);
            return ConsoleInput::line;
        }
        if (g_stdin_closed) {
            if (g_pending.empty()) return ConsoleInput::closed;
            *line = g_pending;
            g_pending.clear();
            return ConsoleInput::line;
        }
        pollfd p{0, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return ConsoleInput::none;
        char buffer[512];
        ssize_t n = read(0, buffer, sizeof(buffer));
        if (n <= 0)
            g_stdin_closed = true;
        else
            g_pending.append(buffer, size_t(n));
    }
}
#endif
