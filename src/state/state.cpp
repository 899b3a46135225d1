#include "state/state.h"

#include <cstddef>
#include <cstring>

#include "sdk/engine.h"
#include "state/events.h"

StateManager g_statemgr;
StateManager::States* g_current = nullptr;
PlayerRecord g_players[MAX_PLAYERS];
Grenades g_grenades;
RoundTimer g_roundtime;
edict_t* g_first_player = nullptr;
int32_t g_spectators = 0;

void PlayerState::clear() {
    uint8_t index = m_index;
    memset(this, 0, sizeof *this);
    m_index = index;
}

bool PlayerState::changedPosition(const PlayerState* other) const {
    return (m_changed & CHANGED_POSITION) &&
           (m_x != other->m_x || m_y != other->m_y || m_yaw != other->m_yaw);
}
bool PlayerState::changedHealth(const PlayerState* other) const {
    return (m_changed & CHANGED_HEALTH) && m_health != other->m_health;
}
bool PlayerState::changedState(const PlayerState* other) const {
    return (m_changed & CHANGED_STATE) && m_state != other->m_state;
}
bool PlayerState::changedKills(const PlayerState* other) const {
    return (m_changed & CHANGED_KILLS) &&
           (m_kills != other->m_kills || m_deaths != other->m_deaths);
}
bool PlayerState::changedTeam(const PlayerState* other) const {
    return (m_changed & CHANGED_TEAM) && m_team != other->m_team;
}
bool PlayerState::changedName(const PlayerState* other) const {
    return (m_changed & CHANGED_NAME) && m_name != other->m_name;
}
bool PlayerState::changedWeapon(const PlayerState* other) const {
    return (m_changed & CHANGED_WEAPON) && m_weapon != other->m_weapon;
}
bool PlayerState::changedIcons(const PlayerState* other) const {
    return (m_changed & CHANGED_ICONS) && m_icons != other->m_icons;
}

void MapState::clear() {
    m_name = 0;
    m_changed = 0;
}

bool MapState::sameAs(const MapState& other) const {
    return m_name == other.m_name && m_origin_x == other.m_origin_x &&
           m_origin_y == other.m_origin_y && m_zoom == other.m_zoom &&
           m_rotated == other.m_rotated;
}

void ScoreState::clear() { memset(this, 0, sizeof *this); }
void BombState::clear() { memset(this, 0, sizeof *this); }

namespace {

// The bytes are left as they come: m_used says how many hold anything.
EventBlock* newBlock() {
    EventBlock* block = new (std::nothrow) EventBlock;
    if (block != nullptr) {
        block->m_next = nullptr;
        block->m_used = 0;
    }
    return block;
}

}  // namespace

bool Events::reserveBlock() {
    if (m_blocks != nullptr) return true;
    m_blocks = newBlock();
    m_current = m_blocks;
    return m_blocks != nullptr;
}

unsigned char* Events::reserve(size_t bytes) {
    bytes = (bytes + 15) & ~size_t(15);  // every node starts 16-aligned
    if (m_current == nullptr && !reserveBlock()) return nullptr;
    while (m_current->m_used + bytes > EVENT_BLOCK_BYTES) {
        if (m_current->m_next == nullptr) {
            m_current->m_next = newBlock();
            if (m_current->m_next == nullptr) return nullptr;
        }
        m_current = m_current->m_next;
    }
    unsigned char* place = m_current->m_bytes + m_current->m_used;
    m_current->m_used += bytes;
    return place;
}

void Events::link(EventNode* node) {
    if (m_tail == nullptr)
        m_head = node;
    else
        m_tail->m_next = node;
    m_tail = node;
    m_count++;
}

void Events::clear() {
    for (EventNode* node = m_head; node != nullptr; node = node->m_next) node->m_chunk->~PacketChunk();
    m_head = m_tail = nullptr;
    m_count = 0;
    for (EventBlock* block = m_blocks; block != nullptr; block = block->m_next) block->m_used = 0;
    m_current = m_blocks;
}

void Events::release() {
    clear();
    while (m_blocks != nullptr) {
        EventBlock* next = m_blocks->m_next;
        delete m_blocks;
        m_blocks = next;
    }
    m_current = nullptr;
}

StateManager::States::States() : m_map(), m_score(), m_bomb(), m_time(0.0f) {
    for (int i = 0; i < MAX_PLAYERS; i++) {
        m_players[i].m_index = static_cast<uint8_t>(i);
        m_players[i].clear();
    }
    m_map.m_origin_x = m_map.m_origin_y = 0;
    m_map.m_zoom = 0;
    m_map.m_rotated = 0;
    m_map.clear();
    m_score.clear();
    m_bomb.clear();
}

void StateManager::States::clear() {
    for (PlayerState& player : m_players) player.clear();
    m_map.clear();
    m_score.clear();
    m_events.clear();
    m_bomb.clear();
    m_time.store(0.0f, std::memory_order_relaxed);
}

void StateManager::allocate(int last) {
    release();
    if (last < 0) last = 0;
    m_last = last;
    m_states = new States[last + 1];
    // Enough for a usual half-second's events: the game thread then allocates nothing. Only
    // the ring's slots take events, not the baseline.
    for (int i = 0; i < last; i++) m_states[i].m_events.reserveBlock();
    clear();
}

void StateManager::release() {
    delete[] m_states;
    m_states = nullptr;
}

void StateManager::clear() {
    if (m_states == nullptr) return;
    for (int i = m_last; i >= 0; i--) m_states[i].clear();
}

void StateManager::restart(const float* clock) {
    m_clock = clock;
    if (m_states == nullptr || m_last < 1) return;
    m_read.store(1 % m_last, std::memory_order_relaxed);
    m_done.store(0, std::memory_order_relaxed);
    int write = 2 % m_last;
    m_states[write].m_time.store(*clock + 0.5f, std::memory_order_relaxed);
    m_write.store(write, std::memory_order_release);
    g_current = &m_states[write];
}

void StateManager::advance() {
    if (m_states == nullptr || m_last < 1 || m_clock == nullptr) return;
    float now = *m_clock;
    int write = m_write.load(std::memory_order_relaxed);
    if (now > m_states[write].m_time.load(std::memory_order_relaxed)) {
        int next = (write + 1) % m_last;
        // Stay out of the slot the encoder will take next and the one it may still be reading:
        // a slow encoder makes the current slot longer instead of losing or mixing a slot.
        if (next != m_read.load(std::memory_order_acquire) &&
            next != m_done.load(std::memory_order_acquire)) {
            m_states[next].m_time.store(now + 0.5f, std::memory_order_relaxed);
            m_write.store(next, std::memory_order_release);
            write = next;
        }
    }
    g_current = &m_states[write];
}

StateManager::States* StateManager::take() {
    if (m_states == nullptr || m_last < 1) return nullptr;
    int write = m_write.load(std::memory_order_acquire);
    int read = m_read.load(std::memory_order_relaxed);
    if (!(m_states[write].m_time.load(std::memory_order_relaxed) >
          m_states[read].m_time.load(std::memory_order_relaxed)))
        return nullptr;
    m_states[m_done.load(std::memory_order_relaxed)].clear();
    m_done.store(read, std::memory_order_release);
    m_read.store((read + 1) % m_last, std::memory_order_release);
    return &m_states[read];
}

bool StateManager::closeOpen() {
    if (m_states == nullptr || m_last < 2) return false;
    int write = m_write.load(std::memory_order_relaxed);
    int next = (write + 1) % m_last;
    if (next == m_read.load(std::memory_order_relaxed) ||
        next == m_done.load(std::memory_order_relaxed))
        return false;
    m_states[next].m_time.store(m_states[write].m_time.load(std::memory_order_relaxed) + 0.5f,
                                std::memory_order_relaxed);
    m_write.store(next, std::memory_order_release);
    g_current = &m_states[next];
    return true;
}

void PlayerRecord::clear() { memset(this, 0, sizeof *this); }

void Grenades::iterator::unlink() {
    GrenadeNode* node = *m_link;
    if (node == nullptr) return;
    *m_link = node->m_next;
    m_owner->giveBack(node);
}

Grenades::~Grenades() {
    clear();
    while (m_free != nullptr) {
        GrenadeNode* next = m_free->m_next;
        if (m_free < m_stock || m_free >= m_stock + GRENADE_STOCK) delete m_free;
        m_free = next;
    }
}

Grenades::Grenades() {
    for (GrenadeNode& node : m_stock) giveBack(&node);
}

GrenadeNode* Grenades::take() {
    GrenadeNode* node = m_free;
    if (node == nullptr) return new (std::nothrow) GrenadeNode;
    m_free = node->m_next;
    return node;
}

void Grenades::giveBack(GrenadeNode* node) {
    node->m_next = m_free;
    m_free = node;
}

GrenadeNode* Grenades::add(edict_t* entity, int type) {
    GrenadeNode* node = take();
    if (node == nullptr) return nullptr;
    m_last_id = (m_last_id + 1) % 32;
    *node = GrenadeNode{entity, m_last_id, type, 0, 0, m_head};
    m_head = node;
    return node;
}

GrenadeNode* Grenades::find(const edict_t* entity) const {
    for (GrenadeNode* node = m_head; node != nullptr; node = node->m_next)
        if (node->m_entity == entity) return node;
    return nullptr;
}

void Grenades::clear() {
    while (m_head != nullptr) {
        GrenadeNode* next = m_head->m_next;
        giveBack(m_head);
        m_head = next;
    }
}

int playerSlot(const edict_t* entity) {
    if (entity == nullptr || g_first_player == nullptr) return -1;
    ptrdiff_t offset = reinterpret_cast<const char*>(entity) -
                       reinterpret_cast<const char*>(g_first_player);
    return static_cast<int>(offset / static_cast<ptrdiff_t>(sizeof(edict_t))) - 1;
}
