#include "host/config.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "host/host.h"

ConfigManager g_cfg;
int g_limitchat = 0;

namespace {

char* copyText(const char* text) {
    size_t n = strlen(text);
    char* copy = new char[n + 1];
    memcpy(copy, text, n + 1);
    return copy;
}

bool equalsNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char ca = (*a >= 'A' && *a <= 'Z') ? char(*a + 32) : *a;
        if (ca != *b) return false;
    }
    return *a == *b;
}

// Bytes 0x80 and above are never white space, whatever the C library's locale says.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skipSpace(const char* p, const char* end) {
    while (p < end && isSpace(*p)) ++p;
    return p;
}

// Reads one value token at p into out (at most CONFIG_VALUE_MAX bytes kept, the rest consumed).
const char* readValue(const char* p, const char* end, char* out) {
    int n = 0;
    auto put = [&](char c) {
        if (n < CONFIG_VALUE_MAX) out[n++] = c;
    };
    bool quoted = (*p == '"');
    if (quoted) ++p;
    while (p < end) {
        char c = *p;
        if (c == '"') { ++p; break; }
        if (!quoted && isSpace(c)) break;
        if (c == '\\') {
            if (++p >= end) break;  // a backslash at the very end ends the value
            if (*p == 'n') {
                put('\n');
                if (++p >= end) break;
            }
            put(*p++);
            continue;
        }
        put(c);
        ++p;
    }
    out[n] = '\0';
    return p;
}

}  // namespace

int configNumber(const char* text) {
    const char* p = text;
    while (isSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    // Accumulate in the negative range and saturate, so huge numbers cannot overflow.
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > 2147483648LL) n = 2147483648LL;
    }
    if (!negative && n > 2147483647LL) n = 2147483647LL;
    return int(negative ? -n : n);
}

ConfigManager::~ConfigManager() { clear(); }

ConfigManager::Entry* ConfigManager::find(const char* key) const {
    for (Entry* e = head(); e; e = e->m_next.load(std::memory_order_acquire))
        if (strcmp(e->m_key, key) == 0) return e;
    return nullptr;
}

int ConfigManager::getInt(const char* key) const {
    Entry* e = find(key);
    return e ? e->m_number.load(std::memory_order_relaxed) : 0;
}

const char* ConfigManager::getString(const char* key) const {
    Entry* e = find(key);
    // seq_cst, as the writer's store and its look at m_readers: a reader that began before a
    // text was replaced is seen by the writer (retire), one that began after reads the new text.
    return e ? e->m_value.load(std::memory_order_seq_cst) : nullptr;
}

ConfigManager::Entry* ConfigManager::findOrAppend(const char* key) {
    if (Entry* e = find(key)) return e;
    Entry* e = new Entry;
    e->m_key = copyText(key);
    int length = int(strlen(key));
    if (length > m_longest_key) m_longest_key = length;
    // Published fully built: a reader walking the list sees the key before the link.
    if (m_tail)
        m_tail->m_next.store(e, std::memory_order_release);
    else
        m_head.store(e, std::memory_order_release);
    m_tail = e;
    ++m_count;
    return e;
}

void ConfigManager::store(Entry* entry, const char* text, int number) {
    char* old = entry->m_value.load(std::memory_order_relaxed);
    if (old) {
        retire(entry->m_previous);
        entry->m_previous = old;
        m_text_size -= entry->m_length.load(std::memory_order_relaxed) + 1;
    }
    char* copy = copyText(text);
    int length = int(strlen(copy));
    entry->m_length.store(length, std::memory_order_relaxed);
    entry->m_number.store(number, std::memory_order_relaxed);
    entry->m_value.store(copy, std::memory_order_seq_cst);
    m_text_size += length + 1;
}

void ConfigManager::retire(char* text) {
    if (text != nullptr) m_retired.push_back(text);
    if (m_readers.load(std::memory_order_seq_cst) != 0) return;
    for (char* retired : m_retired) delete[] retired;
    m_retired.clear();
}

void ConfigManager::set(const char* key, const char* text) {
    if (equalsNoCase(text, "on"))
        text = "1";
    else if (equalsNoCase(text, "off"))
        text = "0";
    store(findOrAppend(key), text, configNumber(text));
}

void ConfigManager::set(const char* key, int n) {
    char text[16];
    snprintf(text, sizeof(text), "%d", n);
    store(findOrAppend(key), text, n);
}

void ConfigManager::clear() {
    Entry* e = m_head.exchange(nullptr, std::memory_order_acq_rel);
    while (e) {
        Entry* next = e->m_next.load(std::memory_order_relaxed);
        delete[] e->m_key;
        delete[] e->m_value.load(std::memory_order_relaxed);
        delete[] e->m_previous;
        delete e;
        e = next;
    }
    // Only while no other thread reads (attach, reload with the visitors stopped, unload).
    for (char* retired : m_retired) delete[] retired;
    m_retired.clear();
    m_tail = nullptr;
    m_count = 0;
    m_longest_key = 0;
    m_text_size = 0;
}

bool ConfigManager::readFile(const char* path, Visit visit, void* context) {
    BinFile file(fopen(path, "rb"));
    if (!file.opened()) return false;
    int size = 0;
    char* text = file.load(&size);
    if (!text) return false;

    const char* p = text;
    // The text ends at its first zero byte, as every reader of the file would see it.
    const char* end = text + strnlen(text, size_t(size));
    char key[CONFIG_KEY_MAX + 1];
    char value[CONFIG_VALUE_MAX + 1];
    // Lines are counted only up to where the reader has got, so the file is walked once.
    int line = 1;
    const char* counted = text;
    auto lineAt = [&](const char* at) {
        for (; counted < at; ++counted)
            if (*counted == '\n') ++line;
        return line;
    };
    while ((p = skipSpace(p, end)) < end) {
        if (*p == '#') {
            while (p < end && *p != '\n') ++p;
            continue;
        }
        int key_line = lineAt(p);
        int n = 0;
        for (; p < end && !isSpace(*p); ++p)
            if (n < CONFIG_KEY_MAX) key[n++] = *p;
        key[n] = '\0';
        p = skipSpace(p, end);
        if (p >= end) {  // a key without a value at the end is dropped
            if (visit) visit(key, nullptr, key_line, 0, context);
            break;
        }
        int value_line = lineAt(p);
        p = readValue(p, end, value);
        if (visit) visit(key, value, key_line, value_line, context);
        set(key, value);
    }
    delete[] text;
    return true;
}

void BinFile::close() {
    if (m_file) fclose(m_file);
    m_file = nullptr;
}

char* BinFile::load(int* size) {
    *size = 0;
    if (!m_file || fseek(m_file, 0, SEEK_END) != 0) return nullptr;
    long length = ftell(m_file);
    if (length < 0 || length > 0x7ffffffeL) return nullptr;
    rewind(m_file);
    char* buffer = new (std::nothrow) char[size_t(length) + 1];
    if (!buffer) return nullptr;
    if (length > 0 && fread(buffer, 1, size_t(length), m_file) != size_t(length)) {
        delete[] buffer;
        return nullptr;
    }
    buffer[length] = '\0';
    *size = int(length);
    return buffer;
}
