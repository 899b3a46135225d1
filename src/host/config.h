// The configuration store: every setting of the plugin, by key, read from built-in defaults, the
// engine's net_address and the configuration file. Written only on the main thread; read on the
// main thread and by web visitor threads (page placeholders), without a lock.
#pragma once

#include <atomic>
#include <cstdio>
#include <vector>

constexpr int CONFIG_KEY_MAX = 63;     // longer keys in the file are cut
constexpr int CONFIG_VALUE_MAX = 511;  // longer values in the file are cut
constexpr const char* CONFIG_DEFAULT_FILE = "addons/kovitv/config.ini";

class ConfigManager {
public:
    struct Entry {
        char* m_key = nullptr;
        // A reader may hold the current text while the main thread replaces it: the replaced text
        // lives on as m_previous until the key changes once more, and beyond that while any
        // read (beginRead to endRead) is still in progress.
        std::atomic<char*> m_value{nullptr};
        char* m_previous = nullptr;
        std::atomic<int> m_length{0};
        std::atomic<int> m_number{0};
        std::atomic<Entry*> m_next{nullptr};
    };

    ConfigManager() = default;
    ~ConfigManager();
    ConfigManager(const ConfigManager&) = delete;
    ConfigManager& operator=(const ConfigManager&) = delete;

    Entry* find(const char* key) const;        // exact, case-sensitive; null when absent
    int getInt(const char* key) const;         // 0 when absent
    const char* getString(const char* key) const;  // null when absent
    void set(const char* key, const char* text);   // "on"/"off" in any case become "1"/"0"
    void set(const char* key, int n);
    // Threads other than the main one hold texts only between these (ConfigReadScope): a text
    // two changes old is freed once no read is in progress, however long a reader was held up.
    void beginRead() const { m_readers.fetch_add(1, std::memory_order_seq_cst); }
    void endRead() const { m_readers.fetch_sub(1, std::memory_order_seq_cst); }
    // Told of each pair of the file before it is stored, with the lines (from 1) of its key and
    // its value; and of a key at the end without a value (value null, value_line 0).
    using Visit = void (*)(const char* key, const char* value, int key_line, int value_line,
                           void* context);
    // False when the file cannot be opened or read.
    bool readFile(const char* path, Visit visit = nullptr, void* context = nullptr);
    void clear();

    // Walk the entries in insertion order (page templates substitute every key).
    Entry* head() const { return m_head.load(std::memory_order_acquire); }
    int count() const { return m_count; }
    int longestKey() const { return m_longest_key; }
    int textSize() const { return m_text_size; }

private:
    Entry* findOrAppend(const char* key);
    void store(Entry* entry, const char* text, int number);
    void retire(char* text);  // frees it, or keeps it while a read is in progress

    std::atomic<Entry*> m_head{nullptr};
    Entry* m_tail = nullptr;
    int m_count = 0;
    int m_longest_key = 0;  // greatest key length ever added; sizes page expansion
    int m_text_size = 0;    // sum of (value length + 1) over all entries
    mutable std::atomic<int> m_readers{0};
    std::vector<char*> m_retired;  // texts out of every entry, kept for a read in progress
};

// A read of the store's texts on a thread other than the main one, for as long as it lasts.
class ConfigReadScope {
public:
    explicit ConfigReadScope(const ConfigManager& store) : m_store(store) { store.beginRead(); }
    ~ConfigReadScope() { m_store.endRead(); }
    ConfigReadScope(const ConfigReadScope&) = delete;
    ConfigReadScope& operator=(const ConfigReadScope&) = delete;

private:
    const ConfigManager& m_store;
};

// A whole-file reader over a stream the caller opened ("rb"); closes it on destruction.
class BinFile {
public:
    explicit BinFile(FILE* file) : m_file(file) {}
    ~BinFile() { close(); }
    BinFile(const BinFile&) = delete;
    BinFile& operator=(const BinFile&) = delete;

    bool opened() const { return m_file != nullptr; }
    void close();
    // The whole file in a new[] buffer of size + 1 bytes, zero-terminated; null when it cannot be
    // sized, allocated or read. The caller delete[]s it.
    char* load(int* size);
    // The whole file with its $name placeholders filled from store ($demo, any case, from query)
    // in a new[] buffer, zero-terminated and cut at the size the file and the store allow; *size
    // is the bytes filled in. Null and *size 0 when it cannot be allocated. Caller delete[]s it.
    char* loadWithValues(int* size, char* query, ConfigManager* store);

    FILE* m_file;
};

// Number of a text the way the store reads it: leading white space, optional sign, digits.
int configNumber(const char* text);

extern ConfigManager g_cfg;
extern int g_limitchat;  // copy of allow_teamsay, read by the chat handler
