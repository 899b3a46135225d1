// Texts (player, weapon and map names) to small integer ids and back.
//
// One writer appends while one other thread reads: an entry is fully built before the link that
// makes it reachable is stored (release), and readers follow links with acquire loads. Entries
// are only removed by clear(), which the owner calls when no reader can be running.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct NameEntry {
    char* m_text;  // owned, NUL-terminated
    int32_t m_id;
    int32_t m_capacity;  // bytes m_text can hold, kept for the entry's next text
};

// Distinct texts one collection holds: player names are the only ones without a natural limit
// (each rename adds one).
enum { NAMES_MAX = 2048 };
// Entries the capture's collection keeps from attach on: 32 players and their renames, the
// weapons, the map.
enum { NAMES_RESERVED = 96 };

class NamesCollection {
public:
    NamesCollection() = default;
    ~NamesCollection() { release(); }
    NamesCollection(const NamesCollection&) = delete;
    NamesCollection& operator=(const NamesCollection&) = delete;

    // The id of text (null counts as ""), adding it when new. *stored, when asked for, gets the
    // collection's own copy, valid until clear(). A new text beyond NAMES_MAX gets id 0 (read
    // back as "") and *stored an empty text; m_refused counts those.
    int put(const char* text, char** stored = nullptr);
    const char* get(int id) const;  // "" for an unknown id
    NameEntry* find(const char* text) const;  // the writer's: it reads the writer's index
    NameEntry* find(int id) const;
    // Forgets every text; the entries are kept for the next ones, so that the game thread's
    // puts allocate nothing once a map has held as many names.
    void clear();
    void release();  // clear() and free the kept entries
    // Keeps at least count entries (capacity bytes each when new) ahead of use; false without
    // memory.
    bool reserve(int count, int capacity);
    int count() const { return m_count.load(std::memory_order_acquire); }
    int refused() const { return m_refused; }  // since the last clear(); the writer's thread

    // Last id handed out by any collection of the process; never reset, so ids never repeat.
    static std::atomic<int32_t> m_name_gen;

private:
    struct Node {
        NameEntry m_entry;
        std::atomic<Node*> m_next;
    };

    NameEntry* find(const char* text, uint32_t hash) const;
    Node* spareFor(size_t bytes);  // a kept entry for a text of bytes, or a new one
    static Node* newNode(size_t capacity);  // unlinked, with a buffer; null without memory

    std::atomic<Node*> m_head{nullptr};
    Node* m_spare = nullptr;  // the writer's: entries cleared and waiting
    Node* m_tail = nullptr;  // the writer's own shortcut to the end of the list
    std::atomic<int32_t> m_count{0};
    int m_refused = 0;
    // The writer's index of the list, in its order: a lookup by text reads these two arrays
    // and compares only the texts whose hash matches, rather than visiting every entry and its
    // text, which cost the game thread a cache miss each on a busy server.
    uint32_t m_hashes[NAMES_MAX];
    NameEntry* m_entries[NAMES_MAX];
};

extern NamesCollection g_name_coll;  // capture side: game thread writes, encoder reads
