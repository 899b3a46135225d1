// Filling the start page: BinFile::loadWithValues, and fillTemplate for a page kept in memory.
#include <climits>
#include <cstring>
#include <new>

#include "host/config.h"
#include "web/template.h"

namespace {

constexpr int MIN_NAME_LENGTH = 4;  // "demo" is always recognised

bool isNameChar(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isDemo(const char* name, int length) {
    static const char DEMO[] = "demo";
    if (length != 4) return false;
    for (int i = 0; i < 4; ++i) {
        char c = (name[i] >= 'A' && name[i] <= 'Z') ? char(name[i] + 32) : name[i];
        if (c != DEMO[i]) return false;
    }
    return true;
}

// A collected name may hold any byte (a backslash takes one), so it is compared by length.
const char* valueOf(const ConfigManager* store, const char* name, int length) {
    for (ConfigManager::Entry* e = store->head(); e; e = e->m_next.load(std::memory_order_acquire)) {
        if (strlen(e->m_key) != size_t(length) || memcmp(e->m_key, name, size_t(length)) != 0)
            continue;
        const char* value = e->m_value.load(std::memory_order_acquire);
        return value ? value : "";  // an entry is published a moment before its first value
    }
    return nullptr;
}

// The store's sizes, walked here rather than read from its counters: the main thread updates
// those without synchronisation, while key texts and value lengths are safe to read.
void measureStore(const ConfigManager* store, int* longest_key, long long* text_size) {
    *longest_key = 0;
    *text_size = 0;
    for (ConfigManager::Entry* e = store->head(); e; e = e->m_next.load(std::memory_order_acquire)) {
        int key_length = int(strlen(e->m_key));
        if (key_length > *longest_key) *longest_key = key_length;
        *text_size += e->m_length.load(std::memory_order_relaxed) + 1;
    }
}

// Output with a fixed capacity; what does not fit is dropped.
struct Output {
    char* m_data;
    int m_capacity;
    int m_size = 0;

    bool full() const { return m_size >= m_capacity; }
    void put(char c) {
        if (!full()) m_data[m_size++] = c;
    }
    void put(const char* text, int length) {
        int room = m_capacity - m_size;
        int n = length < room ? length : room;
        if (n > 0) memcpy(m_data + m_size, text, size_t(n));
        if (n > 0) m_size += n;
    }
};

// The page read a block at a time (getc takes the stream's lock for every character, which was a
// fifth of a visitor's time on the start page), or a page in memory as one block.
struct Input {
    explicit Input(FILE* file) : m_file(file), m_block(m_buffer) {}
    Input(const char* text, int length) : m_block(text), m_length(length) {}
    FILE* m_file = nullptr;
    const char* m_block;
    int m_at = 0;
    int m_length = 0;
    char m_buffer[512];

    int get() {
        if (m_at == m_length) {
            if (!m_file) return EOF;
            m_length = int(fread(m_buffer, 1, sizeof(m_buffer), m_file));
            m_at = 0;
            if (m_length <= 0) {
                m_length = 0;
                return EOF;
            }
        }
        return static_cast<unsigned char>(m_block[m_at++]);
    }
    // Moves the text up to the next '$' (or the block's end) that is already read into out.
    void takeText(Output* out) {
        const char* from = m_block + m_at;
        const void* dollar = memchr(from, '$', size_t(m_length - m_at));
        int n = dollar ? int(static_cast<const char*>(dollar) - from) : m_length - m_at;
        out->put(from, n);
        m_at += n;
    }
};

// Fills from in into out; the name buffer holds name_max + 1 characters.
void fill(Input& in, const char* query, const ConfigManager* store, char* name, int name_max,
          Output& out) {
    const char* demo = query ? query : "";
    int pending = EOF;  // the character that ended a name, still to be handled as text
    bool at_end = false;
    while (!at_end && !out.full()) {
        int c = pending != EOF ? pending : in.get();
        pending = EOF;
        if (c == EOF) break;
        if (c != '$') {
            out.put(char(c));
            in.takeText(&out);
            continue;
        }
        int length = 0;
        while (length < name_max) {
            int d = in.get();
            if (d == '\\') d = in.get();  // takes the next character, whatever it is
            else if (d != EOF && !isNameChar(d)) pending = d;
            if (d == EOF) at_end = true;
            if (d == EOF || pending != EOF) break;
            name[length++] = char(d);
        }
        if (isDemo(name, length)) {
            out.put(demo, int(strlen(demo)));
        } else if (const char* value = valueOf(store, name, length)) {
            out.put(value, int(strlen(value)));
        } else {
            out.put('$');
            out.put(name, length);
        }
    }
    out.m_data[out.m_size] = '\0';
}

}  // namespace

long long templateCapacity(int length, const ConfigManager* store) {
    int name_max;
    long long text_size;
    measureStore(store, &name_max, &text_size);
    return static_cast<long long>(length) + 4 * text_size;
}

int fillTemplate(const char* text, int length, const char* query, const ConfigManager* store,
                 char* out, int capacity) {
    int name_max;
    long long text_size;
    measureStore(store, &name_max, &text_size);
    if (name_max < MIN_NAME_LENGTH) name_max = MIN_NAME_LENGTH;
    char local[CONFIG_KEY_MAX + 2];  // keys are cut to fit; a store filled otherwise may not be
    char* name = name_max + 2 <= int(sizeof(local)) ? local
                                                   : new (std::nothrow) char[size_t(name_max) + 2];
    if (!name) return -1;
    Input in(text, length);
    Output output{out, capacity};
    fill(in, query, store, name, name_max, output);
    if (name != local) delete[] name;
    return output.m_size;
}

char* BinFile::loadWithValues(int* size, char* query, ConfigManager* store) {
    *size = 0;
    if (!m_file || !store || fseek(m_file, 0, SEEK_END) != 0) return nullptr;
    long file_size = ftell(m_file);
    rewind(m_file);
    if (file_size < 0) return nullptr;

    int name_max;
    long long text_size;
    measureStore(store, &name_max, &text_size);
    if (name_max < MIN_NAME_LENGTH) name_max = MIN_NAME_LENGTH;
    long long capacity = static_cast<long long>(file_size) + 4 * text_size;
    if (capacity > INT_MAX - 1) return nullptr;  // the length goes out as a decimal int

    Output out{new (std::nothrow) char[size_t(capacity) + 1], int(capacity)};
    char* name = new (std::nothrow) char[size_t(name_max) + 2];
    if (!out.m_data || !name) {
        delete[] out.m_data;
        delete[] name;
        return nullptr;
    }

    Input in(m_file);
    fill(in, query, store, name, name_max, out);
    *size = out.m_size;
    delete[] name;
    return out.m_data;
}
