// The events a ring slot keeps, in their wire form: the chunk family's base (one header byte, a
// type code or the player slot for player chunks, and the chunk's data, big-endian) and the
// event chunks the capture builds. The encoder sends each as it was recorded; the state chunks
// (players, map, score, bomb) are the stream's (stream/chunks.h).
//
// Reading is safe on any bytes: loadPacket is told how many bytes remain and returns -1, having
// read nothing beyond them, when the chunk claims more.
#pragma once

#include <cstdint>

enum {
    CHUNK_PLAYER_LAST = 31,  // headers 0..31 are player chunks, the header being the slot
    CHUNK_MAP = 32,
    CHUNK_DEATH = 33,
    CHUNK_MSG = 34,
    CHUNK_CHAT = 35,
    CHUNK_SCORE = 36,
    CHUNK_HBEAT = 38,
    CHUNK_GRENADE = 39,
    CHUNK_BOMB = 40,
    CHUNK_RTIME = 41,
};

// Radio announcements carried by MsgPacketChunk. A defuse comes as MSG_BOMBDEF and then, at the
// round's end, MSG_CTWIN, as the game announces them; a reader that knows no code 3 just has the
// CTs' win.
enum { MSG_CTWIN = 0, MSG_TERWIN = 1, MSG_BOMBPL = 2, MSG_BOMBDEF = 3, MSG_ROUNDDRAW = 4 };

enum {
    TEXT_MAX = 255,       // a one-byte length describes at most this much
    NAME_READ_MAX = 63,   // a reader keeps at most this much of a name
};

// Bytes a text takes on the wire after its length byte: a longer text is cut, so the length
// byte always matches what follows.
int wireTextLength(const char* text);

class PacketChunk {
public:
    PacketChunk() = default;
    virtual int storeData(char* out);
    virtual int loadData(const char* in);
    virtual ~PacketChunk();
    virtual int getHeader();
    virtual int getSize();
    virtual bool empty();
    // Reads the data after the header byte; the base class reads the header byte itself.
    virtual int loadPacket(const char* in, int available);

    uint8_t m_header = 127;
};

class RTimePacketChunk : public PacketChunk {
public:
    explicit RTimePacketChunk(int seconds = 0) : m_seconds(static_cast<int16_t>(seconds)) {}
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_RTIME; }
    int getSize() override { return 2; }
    bool empty() override { return false; }
    int loadPacket(const char* in, int available) override;

    int16_t m_seconds;
};

class DeathPacketChunk : public PacketChunk {
public:
    // weapon belongs to a names collection and must outlive the chunk.
    DeathPacketChunk(int killer = 255, int victim = 0, int headshot = 0,
                     const char* weapon = nullptr);
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_DEATH; }
    int getSize() override { return m_size; }
    bool empty() override { return false; }
    int loadPacket(const char* in, int available) override;

    uint8_t m_killer;  // 255: not a player
    uint8_t m_victim;
    uint8_t m_headshot;
    const char* m_weapon;
    int m_size;
    char m_received[TEXT_MAX + 1] = {};  // the weapon name read back
};

class MsgPacketChunk : public PacketChunk {
public:
    explicit MsgPacketChunk(int code = 0, int arg1 = 0, int arg2 = 0)
        : m_code(static_cast<uint8_t>(code)), m_arg1(static_cast<uint8_t>(arg1)),
          m_arg2(static_cast<uint8_t>(arg2)) {}
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_MSG; }
    int getSize() override { return 3; }
    bool empty() override { return false; }
    int loadPacket(const char* in, int available) override;

    uint8_t m_code;
    uint8_t m_arg1;
    uint8_t m_arg2;
};

class ChatPacketChunk : public PacketChunk {
public:
    // Copies text (cut as the wire cuts it): the chunk is built on the game thread, which must
    // not allocate.
    ChatPacketChunk(int kind = 0, int sender = 0, const char* text = nullptr);
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_CHAT; }
    int getSize() override { return m_size; }
    bool empty() override { return false; }
    int loadPacket(const char* in, int available) override;

    int m_length;
    int m_size;
    uint8_t m_kind;
    uint8_t m_sender;
    char m_text[TEXT_MAX + 1];  // the writer's copy, or the text read back
};

class GrenadePacketChunk : public PacketChunk {
public:
    GrenadePacketChunk(int id = 0, int x = 0, int y = 0, int event = 0, int type = 0)
        : m_type(static_cast<uint8_t>(type)), m_id(static_cast<uint8_t>(id)),
          m_event(static_cast<uint8_t>(event)), m_x(static_cast<int16_t>(x)),
          m_y(static_cast<int16_t>(y)) {}
    int storeData(char* out) override;
    int getHeader() override { return CHUNK_GRENADE; }
    int getSize() override { return m_size; }
    bool empty() override { return false; }
    int loadPacket(const char* in, int available) override;

    uint8_t m_type;
    uint8_t m_id;
    uint8_t m_event;
    int16_t m_x;
    int16_t m_y;
    int m_size = 7;
};
