#include "state/names.h"

#include <cstring>
#include <new>

std::atomic<int32_t> NamesCollection::m_name_gen{0};
NamesCollection g_name_coll;

namespace {
uint32_t hashOf(const char* text) {  // FNV-1a
    uint32_t hash = 2166136261u;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c)
        hash = (hash ^ *c) * 16777619u;
    return hash;
}
}  // namespace

int NamesCollection::put(const char* text, char** stored) {
    if (text == nullptr) text = "";
    uint32_t hash = hashOf(text);
    NameEntry* entry = find(text, hash);
    if (entry == nullptr && count() >= NAMES_MAX) {
        static char l_none[1] = {'\0'};  // writable, as *stored is
        m_refused++;
        if (stored != nullptr) *stored = l_none;
        return 0;
    }
    if (entry == nullptr) {
        size_t length = strlen(text);
        Node* node = spareFor(length + 1);
        if (node == nullptr) {  // no memory: read back as "" like a refused one
            static char l_nothing[1] = {'\0'};
            if (stored != nullptr) *stored = l_nothing;
            return 0;
        }
        entry = &node->m_entry;
        int index = count();
        m_hashes[index] = hash;
        m_entries[index] = entry;
        memcpy(entry->m_text, text, length + 1);
        entry->m_id = m_name_gen.fetch_add(1, std::memory_order_relaxed) + 1;
        node->m_next.store(nullptr, std::memory_order_relaxed);
        // The release store is what lets the reader see a complete entry through the link.
        if (m_tail == nullptr)
            m_head.store(node, std::memory_order_release);
        else
            m_tail->m_next.store(node, std::memory_order_release);
        m_tail = node;
        m_count.fetch_add(1, std::memory_order_release);
    }
    if (stored != nullptr) *stored = entry->m_text;
    return entry->m_id;
}

const char* NamesCollection::get(int id) const {
    NameEntry* entry = find(id);
    return entry != nullptr ? entry->m_text : "";
}

NameEntry* NamesCollection::find(const char* text) const {
    if (text == nullptr) text = "";
    return find(text, hashOf(text));
}

NameEntry* NamesCollection::find(const char* text, uint32_t hash) const {
    int count = m_count.load(std::memory_order_relaxed);
    for (int i = 0; i < count; i++) {
        if (m_hashes[i] == hash && strcmp(m_entries[i]->m_text, text) == 0) return m_entries[i];
    }
    return nullptr;
}

NameEntry* NamesCollection::find(int id) const {
    if (id == 0) return nullptr;
    for (Node* node = m_head.load(std::memory_order_acquire); node != nullptr;
         node = node->m_next.load(std::memory_order_acquire)) {
        if (node->m_entry.m_id == id) return &node->m_entry;
    }
    return nullptr;
}

void NamesCollection::clear() {
    Node* node = m_head.exchange(nullptr, std::memory_order_acq_rel);
    m_tail = nullptr;
    m_count.store(0, std::memory_order_release);
    m_refused = 0;
    while (node != nullptr) {
        Node* next = node->m_next.load(std::memory_order_relaxed);
        node->m_next.store(m_spare, std::memory_order_relaxed);
        m_spare = node;
        node = next;
    }
}

void NamesCollection::release() {
    clear();
    while (m_spare != nullptr) {
        Node* next = m_spare->m_next.load(std::memory_order_relaxed);
        delete[] m_spare->m_entry.m_text;
        delete m_spare;
        m_spare = next;
    }
}

NamesCollection::Node* NamesCollection::newNode(size_t capacity) {
    Node* node = new (std::nothrow) Node{{nullptr, 0, int32_t(capacity)}, {nullptr}};
    if (node != nullptr) node->m_entry.m_text = new (std::nothrow) char[capacity];
    if (node != nullptr && node->m_entry.m_text == nullptr) {
        delete node;
        return nullptr;
    }
    return node;
}

bool NamesCollection::reserve(int count, int capacity) {
    for (Node* node = m_spare; node != nullptr; node = node->m_next.load(std::memory_order_relaxed))
        count--;
    for (int i = 0; i < count; i++) {
        Node* node = newNode(size_t(capacity));
        if (node == nullptr) return false;
        node->m_next.store(m_spare, std::memory_order_relaxed);
        m_spare = node;
    }
    return true;
}

NamesCollection::Node* NamesCollection::spareFor(size_t bytes) {
    Node* before = nullptr;
    for (Node* node = m_spare; node != nullptr;
         before = node, node = node->m_next.load(std::memory_order_relaxed)) {
        if (size_t(node->m_entry.m_capacity) < bytes) continue;
        Node* after = node->m_next.load(std::memory_order_relaxed);
        if (before == nullptr)
            m_spare = after;
        else
            before->m_next.store(after, std::memory_order_relaxed);
        return node;
    }
    // Names are short: a kept entry of 32 bytes fits nearly every later one. A longer text takes
    // the first kept entry with a bigger buffer, so that the kept entries never outnumber the
    // names of the busiest map.
    size_t capacity = bytes < 32 ? 32 : bytes;
    if (m_spare == nullptr) return newNode(capacity);
    char* text = new (std::nothrow) char[capacity];
    if (text == nullptr) return nullptr;
    Node* node = m_spare;
    m_spare = node->m_next.load(std::memory_order_relaxed);
    delete[] node->m_entry.m_text;
    node->m_entry.m_text = text;
    node->m_entry.m_capacity = int32_t(capacity);
    return node;
}
