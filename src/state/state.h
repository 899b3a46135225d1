// The game model: a ring of half-second snapshot slots filled by the game thread and taken,
// once closed, by the encoder thread, plus the per-player facts the capture keeps between
// messages, the grenades in flight and the round clock.
//
// No lock: each slot and each ring index has one writer. The game thread publishes a slot's
// contents and its m_time before the new m_write (release); the encoder publishes m_read and
// m_done after the clearing they stand for (release); both sides read with acquire.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

class PacketChunk;
struct edict_s;

enum : uint8_t {
    CHANGED_POSITION = 0x01,
    CHANGED_HEALTH = 0x02,
    CHANGED_STATE = 0x04,
    CHANGED_KILLS = 0x08,
    CHANGED_TEAM = 0x10,
    CHANGED_NAME = 0x20,
    CHANGED_WEAPON = 0x40,
    CHANGED_ICONS = 0x80,
};

enum : uint8_t {
    STATE_FIRED = 0x01,
    STATE_HIT = 0x02,
    STATE_ALIVE = 0x04,
    STATE_DEAD = 0x08,
    STATE_DIED = 0x10,
    STATE_SPAWNED = 0x20,
    STATE_CONNECTION = 0xC0,  // with 0x20 and 0x08: connected, put in server or disconnected
};

enum : uint8_t { ICON_C4 = 0x01, ICON_DEFUSER = 0x08 };

enum { MAX_PLAYERS = 32, ENTITY_RECORD_SIZE = 804 };

struct PlayerState {
    uint8_t m_index;  // own position 0..31; clear() keeps it
    int16_t m_x;
    int16_t m_y;
    int16_t m_yaw;
    uint8_t m_health;
    uint8_t m_state;
    uint8_t m_kills;
    uint8_t m_deaths;
    uint8_t m_team;
    uint32_t m_name;  // id in the capture's (or the mirror's) names collection
    uint8_t m_weapon;
    uint8_t m_icons;
    uint8_t m_changed;  // CHANGED_* groups written during the slot
    uint8_t m_known;

    void clear();
    // True when this record has the group's bit and differs from other (the baseline).
    bool changedPosition(const PlayerState* other) const;
    bool changedHealth(const PlayerState* other) const;
    bool changedState(const PlayerState* other) const;
    bool changedKills(const PlayerState* other) const;
    bool changedTeam(const PlayerState* other) const;
    bool changedName(const PlayerState* other) const;
    bool changedWeapon(const PlayerState* other) const;
    bool changedIcons(const PlayerState* other) const;
};

struct MapState {
    uint32_t m_name;
    int16_t m_origin_x;
    int16_t m_origin_y;
    uint16_t m_zoom;  // zoom * 100
    uint8_t m_rotated;
    uint8_t m_changed;

    void clear();  // name and flag only; the geometry counts for nothing while m_changed is 0
    bool sameAs(const MapState& other) const;
};

struct ScoreState {
    int32_t m_score[3];  // 0 other, 1 terrorists, 2 counter-terrorists
    uint8_t m_changed;

    void clear();
};

struct BombState {
    int16_t m_x;
    int16_t m_y;
    uint8_t m_state;  // 0 carried or none, 1 dropped, 2 planted
    uint8_t m_changed;

    void clear();
};

struct EventNode {
    PacketChunk* m_chunk;  // lives in its list's storage
    EventNode* m_next;
};

// Events one slot keeps: far more than a snapshot's 255 packets can carry of the smallest, so a
// slot that grows while the encoder is held up stays bounded.
enum { EVENTS_MAX = 1024 };

// Storage of one list, kept across clear(): once a slot has held its busiest half-second the
// game thread allocates nothing more for it, where a malloc could wait for the lock of an arena
// the encoder is freeing into.
enum { EVENT_BLOCK_BYTES = 4096 };
struct EventBlock {
    EventBlock* m_next;
    size_t m_used;
    alignas(16) unsigned char m_bytes[EVENT_BLOCK_BYTES];
};

struct Events {
    EventNode* m_head = nullptr;
    EventNode* m_tail = nullptr;  // the appender's shortcut
    int32_t m_count = 0;
    EventBlock* m_blocks = nullptr;   // owned chain
    EventBlock* m_current = nullptr;  // the block being filled

    Events() = default;
    ~Events() { release(); }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    // Builds a Chunk from args in the list's storage and links it at the tail. False, with
    // nothing built, at EVENTS_MAX or when no memory is left for a new block.
    template <class Chunk, class... Args>
    bool emplace(Args... args) {
        static_assert(sizeof(EventNode) <= 16, "the chunk follows its node at 16");
        static_assert(16 + sizeof(Chunk) <= EVENT_BLOCK_BYTES, "a chunk fits a block");
        if (m_count >= EVENTS_MAX) return false;
        unsigned char* place = reserve(16 + sizeof(Chunk));
        if (place == nullptr) return false;
        Chunk* chunk = new (place + 16) Chunk(args...);
        link(new (place) EventNode{chunk, nullptr});
        return true;
    }
    bool reserveBlock();  // the first block ahead of use; false without memory
    void clear();         // destroys every chunk; the storage stays for the next events
    void release();       // clear() and free the storage

private:
    unsigned char* reserve(size_t bytes);
    void link(EventNode* node);  // at the tail
};

// The capture ring's size: slots 0..CAPTURE_RING_LAST-1 go round, slot CAPTURE_RING_LAST is the
// baseline.
enum { CAPTURE_RING_LAST = 15 };

class StateManager {
public:
    struct States {
        PlayerState m_players[MAX_PLAYERS];
        MapState m_map;
        ScoreState m_score;
        Events m_events;
        BombState m_bomb;
        std::atomic<float> m_time;  // closes after this game time

        States();
        void clear();
    };

    StateManager() = default;
    ~StateManager() { release(); }
    StateManager(const StateManager&) = delete;
    StateManager& operator=(const StateManager&) = delete;

    void allocate(int last);  // last + 1 slots: a ring of `last` and the baseline
    void release();           // frees the slots (unload)
    void clear();             // every slot, baseline included; indices untouched
    void restart(const float* clock);  // map start
    void advance();                    // game thread, once per frame; sets g_current
    States* take();                    // encoder: the next closed slot, or null
    // Map end, with the encoder stopped and every closed slot taken: closes the slot being
    // filled as it stands, so that take() gives it next. False when there is none to close.
    bool closeOpen();

    bool allocated() const { return m_states != nullptr; }
    States* slot(int i) const { return &m_states[i]; }
    States* baseline() const { return &m_states[m_last]; }

    int32_t m_last = 0;
    States* m_states = nullptr;
    std::atomic<int32_t> m_done{0};
    std::atomic<int32_t> m_read{0};
    std::atomic<int32_t> m_write{0};
    const float* m_clock = nullptr;
};

struct PlayerRecord {
    int32_t m_clip[32];
    int32_t m_weapon;
    int32_t m_health;
    uint8_t m_died;
    uint8_t m_icons;

    void clear();
};

enum { GRENADE_SMOKE = 0, GRENADE_FLASH = 1, GRENADE_HE = 2 };
enum { GRENADE_MOVED = 1, GRENADE_EXPLODED = 5, GRENADE_THROWN = 11 };

struct GrenadeNode {
    edict_s* m_entity;
    int32_t m_id;
    int32_t m_type;
    uint8_t m_exploded;
    int32_t m_ticks;
    GrenadeNode* m_next;
};

enum { GRENADE_STOCK = 64 };

class Grenades {
public:
    // Points at a link (the head or a node's m_next), so a node can be unlinked through it.
    class iterator {
    public:
        iterator(GrenadeNode** link, Grenades* owner) : m_link(link), m_owner(owner) {}
        GrenadeNode* operator*() const { return *m_link; }
        GrenadeNode* operator->() const { return *m_link; }
        bool atEnd() const { return *m_link == nullptr; }
        void next() { m_link = &(*m_link)->m_next; }
        void unlink();  // gives the node back and steps onto its successor
    private:
        GrenadeNode** m_link;
        Grenades* m_owner;
    };

    Grenades();  // the stock on the free list
    ~Grenades();
    Grenades(const Grenades&) = delete;
    Grenades& operator=(const Grenades&) = delete;

    GrenadeNode* take();              // a free node, or null without memory
    void giveBack(GrenadeNode* node);

    iterator begin() { return iterator(&m_head, this); }
    // Links a node at the head with id (m_last_id + 1) mod 32, which becomes m_last_id.
    GrenadeNode* add(edict_s* entity, int type);
    GrenadeNode* find(const edict_s* entity) const;
    void clear();  // m_last_id and m_classname survive

    GrenadeNode* m_head = nullptr;
    // Unlinked nodes wait here for the next throw: a throw, a think or a sound on the game thread
    // then allocates nothing. The stock covers more grenades than a round can have in flight;
    // beyond it nodes are allocated and kept here too.
    GrenadeNode* m_free = nullptr;
    GrenadeNode m_stock[GRENADE_STOCK] = {};
    int32_t m_last_id = 0;  // last id handed out: the first grenade gets 1, the 32nd 0
    int32_t m_classname = 0;
};

struct RoundTimer {
    int32_t m_seconds = 0;  // left on the clock; -1 once it ran out
    int32_t m_last_second = 0;
    bool m_bomb = false;  // counting the planted bomb's timer, until the round ends or it runs out
    const float* m_clock = nullptr;
};

extern StateManager g_statemgr;          // the capture ring (15 + baseline)
extern StateManager::States* g_current;  // the slot the game thread fills
extern PlayerRecord g_players[MAX_PLAYERS];
extern Grenades g_grenades;
extern RoundTimer g_roundtime;
extern edict_s* g_first_player;  // entity 0 of the current map
extern int32_t g_spectators;     // spectator count last shown in the version variable

// Player slot (0..31) of a player entity: its index in the entity array minus one.
int playerSlot(const edict_s* entity);
