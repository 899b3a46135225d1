#include "web/missing_page.h"

#include <atomic>
#include <cstdio>

#include "host/host.h"
#include "web/response.h"

namespace {

// armed -> writing (one visitor took it) -> noted (name complete) -> logged (until the next map).
enum : int { ARMED, WRITING, NOTED, LOGGED };
std::atomic<int> s_state{ARMED};
char s_name[FILE_NAME_MAX + 1];

}  // namespace

void noteMissingStartPage(const char* name) {
    if (s_state.load(std::memory_order_relaxed) != ARMED) return;
    int expected = ARMED;
    if (!s_state.compare_exchange_strong(expected, WRITING, std::memory_order_acquire)) return;
    snprintf(s_name, sizeof(s_name), "%s", name);
    s_state.store(NOTED, std::memory_order_release);
}

void reportMissingStartPage() {
    if (s_state.load(std::memory_order_acquire) != NOTED) return;
    LOG_ERROR("AppletSender :: Start page \"%s\" cannot be opened: web visitors get 404 Not Found",
              s_name);
    s_state.store(LOGGED, std::memory_order_relaxed);
}

void rearmMissingStartPage() {
    // A name noted but not yet logged is still logged; one being written is left to its writer.
    int expected = LOGGED;
    s_state.compare_exchange_strong(expected, ARMED, std::memory_order_relaxed);
}
