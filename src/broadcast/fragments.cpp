#include "broadcast/fragments.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "broadcast/mirror.h"
#include "host/config.h"
#include "host/host.h"

FragmentStore g_fragments;

namespace {

void release(Fragment* fragment) {
    if (fragment == nullptr) return;
    if (fragment->m_references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    delete[] fragment->m_bytes;
    delete fragment;
}

void copyText(char* out, int size, const char* text) {
    snprintf(out, size_t(size), "%s", text != nullptr ? text : "");
}

}  // namespace

FragmentRef::FragmentRef(const FragmentRef& other) : m_fragment(other.m_fragment) {
    if (m_fragment) m_fragment->m_references.fetch_add(1, std::memory_order_relaxed);
}

FragmentRef& FragmentRef::operator=(const FragmentRef& other) {
    if (other.m_fragment) other.m_fragment->m_references.fetch_add(1, std::memory_order_relaxed);
    release(m_fragment);
    m_fragment = other.m_fragment;
    return *this;
}

void FragmentRef::reset() {
    release(m_fragment);
    m_fragment = nullptr;
}

bool FragmentBytes::append(const char* bytes, int length) {
    if (length <= 0) return true;
    if (m_length + length > m_capacity) {
        int capacity = m_capacity > 0 ? m_capacity : 4096;
        while (capacity < m_length + length) capacity *= 2;
        char* grown = new (std::nothrow) char[size_t(capacity)];
        if (grown == nullptr) return false;
        if (m_length > 0) memcpy(grown, m_data, size_t(m_length));
        delete[] m_data;
        m_data = grown;
        m_capacity = capacity;
    }
    memcpy(m_data + m_length, bytes, size_t(length));
    m_length += length;
    return true;
}

bool encodeFragmentElement(FragmentBytes& out, const PacketManager& packets, int flags) {
    if (packets.count() > FRAGMENT_ELEMENT_PACKETS) return false;
    char head[2] = {char(flags), char(packets.count())};
    if (!out.append(head, 2)) return false;
    for (Packet* p = packets.first(); p != nullptr; p = p->m_next) {
        char length[2] = {char(p->m_length >> 8), char(p->m_length & 0xff)};
        if (!out.append(length, 2) || !out.append(p->m_ptr, p->m_length)) return false;
    }
    return true;
}

void findOverviewImage(const char* map, char* out, int size) {
    static const char* const EXTENSIONS[] = {"png", "jpg", "gif", "bmp"};
    if (size > 0) out[0] = '\0';
    ConfigReadScope reading(g_cfg);  // the sender's thread
    const char* dir = g_cfg.getString("dir");
    if (map == nullptr || map[0] == '\0' || strchr(map, '/') || strchr(map, '\\')) return;
    for (const char* extension : EXTENSIONS) {
        char relative[FRAGMENT_OVERVIEW_MAX + 1];
        char path[1024];
        int n = snprintf(relative, sizeof(relative), "overviews/%s.%s", map, extension);
        if (n <= 0 || n >= int(sizeof(relative))) return;
        n = snprintf(path, sizeof(path), "%s/%s/%s", g_gamedir, dir ? dir : "", relative);
        if (n <= 0 || n >= int(sizeof(path))) return;
        if (FILE* file = fopen(path, "rb")) {
            fclose(file);
            copyText(out, size, relative);
            return;
        }
    }
}

FragmentStore::FragmentStore() { m_ready = m_mutex.init(); }

FragmentStore::~FragmentStore() {
    for (Fragment*& kept : m_kept) {
        release(kept);
        kept = nullptr;
    }
    m_mutex.destroy();
}

void FragmentStore::beginElement(StateManager::States& mirror, NamesCollection& names,
                                 int max_clients) {
    if (m_elements > 0 || !m_ready) return;
    reset();
    buildFullState(m_full, mirror, names, max_clients);
    m_broken = !encodeFragmentElement(m_start, m_full, 0);
    m_full.clear();
}

void FragmentStore::endElement(const PacketBuffer::BufferElement& element,
                               const StateManager::States& mirror, const NamesCollection& names) {
    if (!m_ready) return;
    int flags = element.m_reset ? FRAGMENT_RESET : 0;
    if (flags) m_body_resets = true;
    if (!m_broken && !encodeFragmentElement(m_body, element.m_packets, flags)) m_broken = true;
    if (++m_elements < FRAGMENT_ELEMENTS) return;
    publish(mirror, names);
    m_elements = 0;
}

void FragmentStore::abandon() {
    m_elements = 0;
    reset();
}

void FragmentStore::reset() {
    m_start.m_length = 0;  // capacity kept for the next fragment
    m_body.m_length = 0;
    m_broken = false;
    m_body_resets = false;
}

namespace {
int footprint(const Fragment* f) {
    return f ? int(sizeof(Fragment)) + f->m_start_length + f->m_body_length : 0;
}
}  // namespace

Fragment* FragmentStore::take(int number) {
    m_mutex.lock();
    Fragment*& slot = m_kept[number % FRAGMENTS_MAP_MAX];
    Fragment* taken = nullptr;
    if (slot != nullptr && slot->m_number == number) {
        taken = slot;
        slot = nullptr;
    }
    m_mutex.unlock();
    return taken;
}

// Oldest first; a few per fragment published, so a map change that leaves an hour of the old
// map behind frees it over the next minutes rather than in one long pause of the sender.
void FragmentStore::evictOld() {
    constexpr int PER_PUBLISH = 64;
    int newest = m_next - 1;
    for (int done = 0; done < PER_PUBLISH && m_oldest <= newest - FRAGMENTS_KEPT; done++) {
        bool stale = m_oldest < m_map_start || newest - m_oldest >= FRAGMENTS_MAP_MAX ||
                     m_held_bytes.load(std::memory_order_relaxed) > FRAGMENT_BYTES_MAX;
        if (!stale) break;
        Fragment* gone = take(m_oldest);
        m_held_bytes.fetch_sub(footprint(gone), std::memory_order_relaxed);
        release(gone);  // outside the lock: freeing may take a while
        m_oldest++;
    }
    int first = m_oldest > m_map_start ? m_oldest : m_map_start;
    m_map_first.store(first <= newest ? first : 0, std::memory_order_release);
}

void FragmentStore::publish(const StateManager::States& mirror, const NamesCollection& names) {
    int number = m_next++;
    const char* map = names.get(int(mirror.m_map.m_name));
    if (strcmp(map, m_map) != 0) {  // a new map: its image is looked up once
        copyText(m_map, sizeof(m_map), map);
        m_find_overview(m_map, m_overview, sizeof(m_overview));
    }

    Fragment* made = nullptr;
    if (!m_broken) made = new (std::nothrow) Fragment;
    if (made != nullptr) {
        made->m_number = number;
        made->m_bytes = new (std::nothrow) char[size_t(m_start.m_length + m_body.m_length)];
        if (made->m_bytes == nullptr) {
            delete made;
            made = nullptr;
        }
    }
    if (made != nullptr) {
        memcpy(made->m_bytes, m_start.m_data, size_t(m_start.m_length));
        memcpy(made->m_bytes + m_start.m_length, m_body.m_data, size_t(m_body.m_length));
        made->m_start = made->m_bytes;
        made->m_start_length = m_start.m_length;
        made->m_body = made->m_bytes + m_start.m_length;
        made->m_body_length = m_body.m_length;
        copyText(made->m_map, sizeof(made->m_map), m_map);
        copyText(made->m_overview, sizeof(made->m_overview), m_overview);
        made->m_map_start = m_body_resets;
    }
    if (m_body_resets || m_map_start == 0) m_map_start = number;

    // A lost fragment still empties its slot, so nothing older than the ring stays.
    m_mutex.lock();
    Fragment* evicted = m_kept[number % FRAGMENTS_MAP_MAX];
    m_kept[number % FRAGMENTS_MAP_MAX] = made;
    if (made != nullptr) m_newest.store(number, std::memory_order_release);
    m_mutex.unlock();
    m_held_bytes.fetch_add(footprint(made) - footprint(evicted), std::memory_order_relaxed);
    release(evicted);  // outside the lock: freeing may take a while
    if (number - m_oldest >= FRAGMENTS_MAP_MAX) m_oldest = number - FRAGMENTS_MAP_MAX + 1;
    reset();
    evictOld();
}

FragmentRef FragmentStore::get(int number) const {
    if (number <= 0) return FragmentRef();
    m_mutex.lock();
    Fragment* kept = m_kept[number % FRAGMENTS_MAP_MAX];
    if (kept != nullptr && kept->m_number == number)
        kept->m_references.fetch_add(1, std::memory_order_relaxed);
    else
        kept = nullptr;
    m_mutex.unlock();
    return FragmentRef(kept);
}

FragmentRef FragmentStore::newest() const { return get(newestNumber()); }

int FragmentStore::held() const {
    int n = 0;
    m_mutex.lock();
    for (Fragment* kept : m_kept) n += kept != nullptr;
    m_mutex.unlock();
    return n;
}

bool httpStreamEnabled() {
    return g_cfg.find("http_stream") == nullptr || g_cfg.getInt("http_stream") != 0;
}
