// A singly linked list of owned objects: appended at the tail, deleted when removed.
#pragma once

#include <new>

template <typename T>
class List {
public:
    struct Entry {
        T* m_object;
        Entry* m_next;
    };

    List() = default;
    ~List() { clear(); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    // Takes the object; false (the object not taken) when no entry can be allocated.
    bool append(T* object) {
        Entry* entry = new (std::nothrow) Entry{object, nullptr};
        if (!entry) return false;
        if (m_tail)
            m_tail->m_next = entry;
        else
            m_head = entry;
        m_tail = entry;
        ++m_count;
        return true;
    }

    // Removes and deletes, from the head on, every object for which done(object) is true.
    template <typename Done>
    void removeIf(Done done) {
        Entry* previous = nullptr;
        for (Entry* e = m_head; e;) {
            Entry* next = e->m_next;
            if (!done(e->m_object)) {
                previous = e;
                e = next;
                continue;
            }
            (previous ? previous->m_next : m_head) = next;
            if (m_tail == e) m_tail = previous;
            --m_count;
            delete e->m_object;
            delete e;
            e = next;
        }
    }

    void clear() {
        removeIf([](T*) { return true; });
    }

    Entry* head() const { return m_head; }
    int count() const { return m_count; }

private:
    Entry* m_head = nullptr;
    Entry* m_tail = nullptr;
    int m_count = 0;
};
