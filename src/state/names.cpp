#include "state/names.h"

#include <cstring>

std::atomic<int32_t> NamesCollection::m_name_gen{0};
NamesCollection g_name_coll;

int NamesCollection::put(const char* text, char** stored) {
    if (text == nullptr) text = "";
    NameEntry* entry = find(text);
    if (entry == nullptr && count() >= NAMES_MAX) {
        static char l_none[1] = {'\0'};
        m_refused++;
        if (stored != nullptr) *stored = l_none;
        return 0;
    }
    if (entry == nullptr) {
        size_t length = strlen(text);
        entry = new NameEntry;
        entry->m_text = new char[length + 1];
        memcpy(entry->m_text, text, length + 1);
        entry->m_id = m_name_gen.fetch_add(1, std::memory_order_relaxed) + 1;
        Node* node = new Node{entry, {nullptr}};
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
    for (Node* node = m_head.load(std::memory_order_acquire); node != nullptr;
         node = node->m_next.load(std::memory_order_acquire)) {
        if (strcmp(node->m_entry->m_text, text) == 0) return node->m_entry;
    }
    return nullptr;
}

NameEntry* NamesCollection::find(int id) const {
    if (id == 0) return nullptr;
    for (Node* node = m_head.load(std::memory_order_acquire); node != nullptr;
         node = node->m_next.load(std::memory_order_acquire)) {
        if (node->m_entry->m_id == id) return node->m_entry;
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
        delete[] node->m_entry->m_text;
        delete node->m_entry;
        delete node;
        node = next;
    }
}
