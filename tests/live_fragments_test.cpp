// The fragment store behind the stream over HTTP, driven through the sender's send phase: the
// numbering, what is kept, and the byte layout read back with the stream's own reader.
#include <gtest/gtest.h>

#include <string>
#include <deque>

#include "broadcast/fragments.h"
#include "broadcast/mirror.h"
#include "broadcast/sender.h"
#include "stream/chunks.h"

namespace {

struct DecodedElement {
    int m_flags = -1;
    PacketManager m_packets;
};

// Reads a run of elements; false on any fault (short data, a packet length out of range).
bool decodeElements(const char* data, int length, std::deque<DecodedElement>* out) {
    int at = 0;
    while (at < length) {
        if (length - at < 2) return false;
        out->emplace_back();
        DecodedElement& e = out->back();
        e.m_flags = static_cast<uint8_t>(data[at]);
        int count = static_cast<uint8_t>(data[at + 1]);
        at += 2;
        for (int i = 0; i < count; i++) {
            if (length - at < 2) return false;
            int n = (static_cast<uint8_t>(data[at]) << 8) | static_cast<uint8_t>(data[at + 1]);
            at += 2;
            if (n > length - at || !e.m_packets.addRaw(data + at, n)) return false;
            at += n;
        }
    }
    return true;
}

// A mirror's content with names as text: ids differ between collections.
std::string describe(const StateManager::States& s, const NamesCollection& names) {
    std::string out = std::string("map ") + names.get(int(s.m_map.m_name)) + " zoom " +
                      std::to_string(s.m_map.m_zoom) + " score " +
                      std::to_string(s.m_score.m_score[1]) + ":" +
                      std::to_string(s.m_score.m_score[2]) + "\n";
    for (int i = 0; i < 8; i++) {
        const PlayerState& p = s.m_players[i];
        out += std::to_string(i) + " " + names.get(int(p.m_name)) + " " + std::to_string(p.m_x) +
               "," + std::to_string(p.m_y) + " h" + std::to_string(p.m_health) + " t" +
               std::to_string(p.m_team) + "\n";
    }
    return out;
}

// A game that changes a little every element: one player moves, the score counts up, and the
// map is told at the first element of every fresh state.
class Game {
public:
    Game() { m_state.allocate(0); }

    void element(PacketBuffer::BufferElement* e, bool reset, const char* map, bool heavy) {
        StateManager::States& s = *m_state.slot(0);
        e->m_reset = reset ? 1 : 0;
        e->m_packets.clear();
        if (reset) {
            s.m_map.m_name = uint32_t(m_names.put(map));
            s.m_map.m_zoom = 150;
            e->m_packets.addChunk(MapPacketChunk(&s.m_map, &m_names));
        }
        PlayerState& p = s.m_players[m_step % 8];
        p.m_index = uint8_t(m_step % 8);
        p.m_x = int16_t(m_step * 7);
        p.m_y = int16_t(-m_step);
        p.m_health = uint8_t(100 - m_step % 100);
        p.m_team = uint8_t(1 + m_step % 2);
        std::string name = "player" + std::to_string(m_step % 8);
        p.m_name = uint32_t(m_names.put(name.c_str()));
        e->m_packets.addChunk(PlayerPacketChunk(&p, &m_names));
        s.m_score.m_score[1] = int16_t(m_step % 16);
        e->m_packets.addChunk(ScorePacketChunk(&s.m_score));
        if (heavy) {  // a busy server's element: a few hundred bytes of chat
            std::string line(200, char('a' + m_step % 26));
            for (int i = 0; i < 4; i++) e->m_packets.addChunk(ChatPacketChunk(0, 1, line.c_str()));
        }
        m_step++;
    }

    StateManager m_state;
    NamesCollection m_names;
    int m_step = 0;
};

void noOverview(const char*, char* out, int size) {
    if (size > 0) out[0] = '\0';
}

class Fragments : public ::testing::Test {
protected:
    DatagramSocket m_socket;  // never opened: nobody is connected
    ConnectionManager m_connections;
    StateManager m_mirror;
    NamesCollection m_names;
    FragmentStore m_store;
    Game m_game;
    PacketBuffer::BufferElement m_element;
    SpectatorSender* m_sender = nullptr;

    void SetUp() override {
        m_mirror.allocate(0);
        m_store.m_find_overview = noOverview;
        m_sender = new SpectatorSender(&m_socket, &m_connections, &m_mirror, &m_names);
        m_sender->m_max_clients = 8;
        m_sender->m_fragments = &m_store;
    }
    void TearDown() override { delete m_sender; }

    void send(int elements, const char* map = "de_kovi", bool heavy = false) {
        for (int i = 0; i < elements; i++) {
            m_game.element(&m_element, m_game.m_step == 0, map, heavy);
            m_sender->sendPhase(m_element);
        }
    }
};

}  // namespace

TEST_F(Fragments, NumbersCountFromOneAndOnlyCompleteFragmentsAreServed) {
    EXPECT_EQ(m_store.newestNumber(), 0);
    EXPECT_FALSE(m_store.newest());
    send(FRAGMENT_ELEMENTS - 1);
    EXPECT_EQ(m_store.newestNumber(), 0);
    EXPECT_FALSE(m_store.get(1));  // three of its four elements are in
    send(1);
    ASSERT_TRUE(m_store.get(1));
    EXPECT_EQ(m_store.get(1)->m_number, 1);
    EXPECT_STREQ(m_store.get(1)->m_map, "de_kovi");
    send(FRAGMENT_ELEMENTS + 2);
    EXPECT_EQ(m_store.newestNumber(), 2);
    EXPECT_FALSE(m_store.get(3));
    EXPECT_FALSE(m_store.get(0));
    EXPECT_FALSE(m_store.get(-4));
}

// The sum the store keeps of what it holds, counted from what it serves.
int heldFootprint(const FragmentStore& store) {
    int bytes = 0;
    for (int n = 1; n <= store.newestNumber(); n++)
        if (FragmentRef f = store.get(n)) bytes += int(sizeof(Fragment)) + f->m_start_length + f->m_body_length;
    return bytes;
}

TEST_F(Fragments, TheCurrentMapIsKeptBackToItsStartAndEarlierMapsOnlyInTheNewestMinute) {
    EXPECT_EQ(m_store.mapFirstNumber(), 0);
    send(FRAGMENT_ELEMENTS * 100 + 1);
    EXPECT_EQ(m_store.newestNumber(), 100);
    EXPECT_EQ(m_store.held(), 100);
    EXPECT_EQ(m_store.mapFirstNumber(), 1);
    for (int n = 1; n <= 100; n++) ASSERT_EQ(m_store.get(n)->m_number, n);
    EXPECT_EQ(m_store.heldBytes(), heldFootprint(m_store));

    // The next map starts in fragment 101 (its second element): 101 on is the new map's.
    m_game.m_step = 0;
    send(FRAGMENT_ELEMENTS * 10 - 1, "de_other");
    EXPECT_EQ(m_store.newestNumber(), 110);
    EXPECT_EQ(m_store.mapFirstNumber(), 101);
    EXPECT_TRUE(m_store.get(101)->m_map_start);
    EXPECT_FALSE(m_store.get(102)->m_map_start);
    EXPECT_EQ(m_store.held(), FRAGMENTS_KEPT);  // the newest minute: the old map's last 2, the new map's 10
    EXPECT_FALSE(m_store.get(110 - FRAGMENTS_KEPT));
    EXPECT_TRUE(m_store.get(110 - FRAGMENTS_KEPT + 1));
    send(FRAGMENT_ELEMENTS * 40, "de_other");
    EXPECT_EQ(m_store.held(), 50);
    EXPECT_FALSE(m_store.get(100));
    EXPECT_EQ(m_store.mapFirstNumber(), 101);
    EXPECT_EQ(m_store.heldBytes(), heldFootprint(m_store));
}

TEST_F(Fragments, AMapLongerThanTheBoundsKeepsItsNewestFragments) {
    send(FRAGMENT_ELEMENTS * (FRAGMENTS_MAP_MAX + 10));
    EXPECT_EQ(m_store.held(), FRAGMENTS_MAP_MAX);
    EXPECT_FALSE(m_store.get(10));
    EXPECT_TRUE(m_store.get(11));
    EXPECT_EQ(m_store.mapFirstNumber(), 11);

    // Heavier fragments meet the byte bound first; the newest thirty always stay.
    m_game.m_step = 0;
    send(FRAGMENT_ELEMENTS * FRAGMENTS_MAP_MAX, "de_busy", true);
    int held = m_store.held();
    EXPECT_LT(held, FRAGMENTS_MAP_MAX);
    EXPECT_GT(held, FRAGMENTS_KEPT);
    EXPECT_LE(m_store.heldBytes(), FRAGMENT_BYTES_MAX);
    EXPECT_EQ(m_store.heldBytes(), heldFootprint(m_store));
    int newest = m_store.newestNumber();
    EXPECT_TRUE(m_store.get(newest - held + 1));
    EXPECT_FALSE(m_store.get(newest - held));
    EXPECT_EQ(m_store.mapFirstNumber(), newest - held + 1);
}

TEST_F(Fragments, AFragmentHeldByAVisitorOutlivesItsEviction) {
    send(FRAGMENT_ELEMENTS);
    FragmentRef held = m_store.get(1);
    ASSERT_TRUE(held);
    std::string body(held->m_body, size_t(held->m_body_length));
    m_game.m_step = 0;  // a new map: the old one's fragments go once out of the newest thirty
    send(FRAGMENT_ELEMENTS * (FRAGMENTS_KEPT + 2), "de_other");
    EXPECT_FALSE(m_store.get(1));
    EXPECT_EQ(std::string(held->m_body, size_t(held->m_body_length)), body);  // ASan: not freed
}

TEST_F(Fragments, StartThenBodyRebuildTheSendersMirrorAfterTheFragment) {
    send(FRAGMENT_ELEMENTS * 5 + 2);  // a few fragments in, so the start carries earlier state
    int n = m_store.newestNumber();
    ASSERT_EQ(n, 5);
    send(FRAGMENT_ELEMENTS - 2);  // completes fragment 6
    FragmentRef f = m_store.get(6);
    ASSERT_TRUE(f);

    std::deque<DecodedElement> start, body;
    ASSERT_TRUE(decodeElements(f->m_start, f->m_start_length, &start));
    ASSERT_TRUE(decodeElements(f->m_body, f->m_body_length, &body));
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].m_flags, 0);
    ASSERT_EQ(body.size(), size_t(FRAGMENT_ELEMENTS));

    StateManager viewer;
    viewer.allocate(0);
    NamesCollection names;
    ChunkReader reader(&names);
    for (Packet* p = start[0].m_packets.first(); p; p = p->m_next) {
        applyPacket(*viewer.slot(0), reader, *p);
        EXPECT_FALSE(reader.m_truncated);
        EXPECT_EQ(reader.m_skipped, 0);
    }
    std::string at_start = describe(*viewer.slot(0), names);
    EXPECT_NE(at_start.find("player3 "), std::string::npos);  // told before fragment 6
    for (DecodedElement& e : body) {
        EXPECT_EQ(e.m_flags, 0);
        if (e.m_flags & FRAGMENT_RESET) clearMirror(viewer, names);
        for (Packet* p = e.m_packets.first(); p; p = p->m_next) applyPacket(*viewer.slot(0), reader, *p);
    }
    EXPECT_EQ(describe(*viewer.slot(0), names), describe(*m_mirror.slot(0), m_names));
    EXPECT_NE(describe(*viewer.slot(0), names), at_start);
}

TEST_F(Fragments, AFreshGameStateIsFlaggedOnItsElementAndTheMapFollowsIt) {
    send(FRAGMENT_ELEMENTS + 1);
    m_game.m_step = 0;  // the next element resets, as at a map start
    send(FRAGMENT_ELEMENTS - 1, "de_other");
    FragmentRef f = m_store.get(2);
    ASSERT_TRUE(f);
    std::deque<DecodedElement> body;
    ASSERT_TRUE(decodeElements(f->m_body, f->m_body_length, &body));
    ASSERT_EQ(body.size(), size_t(FRAGMENT_ELEMENTS));
    EXPECT_EQ(body[0].m_flags, 0);
    EXPECT_EQ(body[1].m_flags, FRAGMENT_RESET);
    EXPECT_EQ(body[2].m_flags, 0);
    EXPECT_STREQ(f->m_map, "de_other");
    EXPECT_STREQ(m_store.get(1)->m_map, "de_kovi");
}

TEST_F(Fragments, AnElementTooLargeForItsCountLosesOnlyItsFragment) {
    send(FRAGMENT_ELEMENTS);
    PacketBuffer::BufferElement huge;
    for (int i = 0; i < FRAGMENT_ELEMENT_PACKETS + 1; i++) huge.m_packets.addRaw("\0\0", 2);
    ASSERT_EQ(huge.m_packets.count(), FRAGMENT_ELEMENT_PACKETS + 1);
    m_sender->sendPhase(huge);
    send(FRAGMENT_ELEMENTS * 2 - 1);
    EXPECT_FALSE(m_store.get(2));
    EXPECT_EQ(m_store.newestNumber(), 3);  // the numbers go on: a viewer sees the gap
    EXPECT_TRUE(m_store.get(3));
}

TEST_F(Fragments, AnAbandonedFragmentStartsAgainWithoutUsingItsNumber) {
    send(FRAGMENT_ELEMENTS + 3);
    m_store.abandon();
    send(FRAGMENT_ELEMENTS - 1);
    EXPECT_FALSE(m_store.get(2));  // only three elements since the new start
    send(1);
    FragmentRef f = m_store.get(2);
    ASSERT_TRUE(f);
    std::deque<DecodedElement> body;
    ASSERT_TRUE(decodeElements(f->m_body, f->m_body_length, &body));
    EXPECT_EQ(body.size(), size_t(FRAGMENT_ELEMENTS));
}

TEST(FragmentElement, IsFlagsCountThenBigEndianLengthsAndThePlainPacketBytes) {
    PacketManager packets;
    ASSERT_TRUE(packets.addRaw("\x01\x02" "abc", 5));
    std::string big(300, 'y');
    ASSERT_TRUE(packets.addRaw(big.data(), 300));
    FragmentBytes out;
    ASSERT_TRUE(encodeFragmentElement(out, packets, FRAGMENT_RESET));
    std::string expected = std::string("\x01\x02\x00\x05\x01\x02" "abc", 9) + "\x01\x2c" + big;
    EXPECT_EQ(std::string(out.m_data, size_t(out.m_length)), expected);
}
