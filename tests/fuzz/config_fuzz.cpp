// libFuzzer target: reading a configuration file of any bytes. Every key and value stored must
// fit its limit, hold no white space (keys) and read back as its number; reading the same file
// twice must change nothing (a reload of an unchanged file). The lines the reader reports for each
// pair must be the lines the key and value stand on, in order, and a key without a value only
// comes last.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/config.h"

namespace {

const char* scratch() {
    static char path[64] = {};
    if (!path[0]) {
        // The reader takes a path: memory-backed when the system has it, as this runs often.
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        snprintf(path, sizeof(path), "%s/kovitv-config-fuzz-%d", dir, int(getpid()));
        atexit([] { unlink(path); });
    }
    return path;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Lines {
    int newlines = 0;    // in the text the reader sees (up to its first zero byte)
    int last = 1;        // line of the previous pair's value
    bool ended = false;  // a key without a value was reported
};

void visit(const char* key, const char* value, int key_line, int value_line, void* context) {
    Lines& lines = *static_cast<Lines*>(context);
    if (lines.ended || key == nullptr || key_line < lines.last) abort();
    if (key_line > lines.newlines + 1) abort();
    if (value == nullptr) {
        if (value_line != 0) abort();
        lines.ended = true;
        return;
    }
    if (value_line < key_line || value_line > lines.newlines + 1) abort();
    lines.last = value_line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* out = fopen(scratch(), "wb");
    if (!out) return 0;
    if (size > 0 && fwrite(data, 1, size, out) != size) abort();
    fclose(out);

    ConfigManager store;
    Lines lines;
    for (size_t i = 0; i < size && data[i] != 0; i++) lines.newlines += data[i] == '\n';
    if (!store.readFile(scratch(), visit, &lines)) abort();
    int count = store.count();
    int text_size = 0;
    for (ConfigManager::Entry* e = store.head(); e != nullptr; e = e->m_next.load()) {
        size_t key = strlen(e->m_key);
        if (key > size_t(CONFIG_KEY_MAX) || key > size_t(store.longestKey())) abort();
        for (size_t i = 0; i < key; i++)
            if (isSpace(e->m_key[i])) abort();
        const char* value = e->m_value.load();
        if (!value || strlen(value) > size_t(CONFIG_VALUE_MAX)) abort();
        if (int(strlen(value)) != e->m_length.load()) abort();
        if (e->m_number.load() != configNumber(value)) abort();
        if (store.find(e->m_key) != e || store.getString(e->m_key) != value) abort();
        text_size += int(strlen(value)) + 1;
    }
    if (text_size != store.textSize()) abort();
    if (!store.readFile(scratch()) || store.count() != count) abort();
    return 0;
}
