// The delayed stream kept for web viewers: the spectator sender appends every element it sends,
// ten at a time make a fragment. The current map's fragments are kept back to its start (so a
// viewer can pause and rewind live), bounded in count and bytes; of earlier maps, only what
// falls in the newest minute.
//
// Byte layout of a fragment's start and body, each a run of elements:
//   element = flags (1 byte, FRAGMENT_RESET) | packet count (1 byte) | per packet: length
//             (2 bytes, big-endian) and the packet's m_length bytes, reserved bytes included.
// The start is one element (flags 0): the full state at the fragment's beginning, so a viewer can
// join at any fragment. The body is the fragment's elements in order.
#pragma once

#include <atomic>
#include <cstdint>

#include "broadcast/buffer.h"
#include "net/net.h"
#include "state/names.h"
#include "state/state.h"
#include "stream/packet.h"

// 5 s of game: a browser viewer makes one request per fragment, and with fewer elements the
// response headers would weigh more than the packets.
constexpr int FRAGMENT_ELEMENTS = 10;
constexpr int FRAGMENTS_KEPT = 12;    // 60 s: always kept, whatever the map
constexpr int FRAGMENTS_MAP_MAX = 1440;  // the current map's: two hours
constexpr int FRAGMENT_BYTES_MAX = 8 << 20;  // all kept fragments, their bookkeeping included
constexpr int FRAGMENT_RESET = 0x01;  // element flag: the element starts a fresh game state
constexpr int FRAGMENT_ELEMENT_PACKETS = 255;  // one count byte; a larger element is not kept
constexpr int FRAGMENT_MAP_MAX = 63;
constexpr int FRAGMENT_OVERVIEW_MAX = 127;

// A complete fragment: immutable once published, shared by reference count, so that a visitor
// sends from it without any lock while the store has long moved on.
struct Fragment {
    int m_number = 0;
    const char* m_start = nullptr;
    int m_start_length = 0;
    const char* m_body = nullptr;
    int m_body_length = 0;
    char m_map[FRAGMENT_MAP_MAX + 1] = {};  // the stream's map after the fragment
    char m_overview[FRAGMENT_OVERVIEW_MAX + 1] = {};  // its image, relative to the plugin folder
    bool m_map_start = false;  // an element of its body starts a fresh game state
    std::atomic<int> m_references{1};
    char* m_bytes = nullptr;  // start and body, one block
};

// A counted reference to a Fragment; empty when null.
class FragmentRef {
public:
    FragmentRef() = default;
    explicit FragmentRef(Fragment* adopted) : m_fragment(adopted) {}  // takes one count
    FragmentRef(const FragmentRef& other);
    FragmentRef& operator=(const FragmentRef& other);
    ~FragmentRef() { reset(); }
    void reset();
    const Fragment* get() const { return m_fragment; }
    const Fragment* operator->() const { return m_fragment; }
    explicit operator bool() const { return m_fragment != nullptr; }

private:
    Fragment* m_fragment = nullptr;
};

// A growing byte block whose growth never throws: a failed allocation is a false result.
struct FragmentBytes {
    char* m_data = nullptr;
    int m_length = 0;
    int m_capacity = 0;

    FragmentBytes() = default;
    ~FragmentBytes() { delete[] m_data; }
    FragmentBytes(const FragmentBytes&) = delete;
    FragmentBytes& operator=(const FragmentBytes&) = delete;
    bool append(const char* bytes, int length);
};

// Appends one element in the layout above; false (out possibly grown but the element not whole)
// when it has more than FRAGMENT_ELEMENT_PACKETS packets or memory runs out.
bool encodeFragmentElement(FragmentBytes& out, const PacketManager& packets, int flags);

// The image of a map's overview beside its description, "overviews/<map>.<png|jpg|gif|bmp>", the
// first that exists in the plugin folder; "" when none does.
void findOverviewImage(const char* map, char* out, int size);

class FragmentStore {
public:
    FragmentStore();
    ~FragmentStore();
    FragmentStore(const FragmentStore&) = delete;
    FragmentStore& operator=(const FragmentStore&) = delete;

    // Sender thread, before the element touches the mirror (its reset included): at a fragment's
    // beginning the start is built from the mirror.
    void beginElement(StateManager::States& mirror, NamesCollection& names, int max_clients);
    // Sender thread, after the element was read into the mirror: appended to the body; the
    // FRAGMENT_ELEMENTS-th publishes the fragment and evicts what is no longer kept: beyond the
    // newest FRAGMENTS_KEPT, those before the current map's first fragment, and the oldest while
    // more than FRAGMENTS_MAP_MAX or FRAGMENT_BYTES_MAX are held.
    void endElement(const PacketBuffer::BufferElement& element,
                    const StateManager::States& mirror, const NamesCollection& names);
    // Sender thread: forgets the fragment being built (its mirror is going away). Its number is
    // not used up.
    void abandon();

    // Any thread. The complete fragment of that number, or empty when not complete yet, evicted
    // or lost (an element too large, no memory).
    FragmentRef get(int number) const;
    FragmentRef newest() const;  // empty before the first complete fragment
    int newestNumber() const { return m_newest.load(std::memory_order_acquire); }
    // The oldest fragment kept of the current map (where a viewer can rewind to); 0 before
    // the first complete fragment.
    int mapFirstNumber() const { return m_map_first.load(std::memory_order_acquire); }
    int held() const;  // complete fragments kept now
    int heldBytes() const { return m_held_bytes.load(std::memory_order_relaxed); }

    // Looks the overview image up when the stream's map changes (sender thread, once per map);
    // tests replace it to keep the file system out.
    void (*m_find_overview)(const char* map, char* out, int size) = findOverviewImage;

private:
    void publish(const StateManager::States& mirror, const NamesCollection& names);
    void reset();
    void evictOld();
    Fragment* take(int number);  // out of its slot, under the lock; null when not held

    mutable Mutex m_mutex;  // guards m_kept and m_newest's updates; only held to copy or swap
    bool m_ready = false;   // the mutex exists: without it nothing is kept
    Fragment* m_kept[FRAGMENTS_MAP_MAX] = {};  // by number % FRAGMENTS_MAP_MAX, one count each
    std::atomic<int> m_newest{0};
    std::atomic<int> m_map_first{0};
    std::atomic<int> m_held_bytes{0};  // written by the sender thread only
    int m_oldest = 1;  // no fragment before it is held (sender thread)
    int m_map_start = 0;  // the current map's first fragment (sender thread)
    bool m_body_resets = false;  // the fragment being built has a fresh-state element

    // The fragment being built: the sender thread's alone.
    int m_next = 1;  // its number; never restarts
    int m_elements = 0;
    bool m_broken = false;
    PacketManager m_full;
    FragmentBytes m_start;
    FragmentBytes m_body;
    char m_map[FRAGMENT_MAP_MAX + 1] = {};
    char m_overview[FRAGMENT_OVERVIEW_MAX + 1] = {};
};

// http_stream from the configuration store; on when the key is absent.
bool httpStreamEnabled();

extern FragmentStore g_fragments;
