// The user messages the scripted match sends, with Counter-Strike 1.6's argument sequences. One
// table (messages.cpp) holds every layout; send() writes a message only when its values fit the
// layout, so the table is the single place to check the match against the game.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "sdk/engine.h"

class SimHost;

namespace msg {

enum class Arg : uint8_t { Byte, Char, Short, Long, Angle, Coord, String, Entity };

enum Id {
    CurWeapon, Health, Damage, Battery, SayText, TextMsg, WeaponList, ResetHUD, InitHUD, DeathMsg,
    ScoreAttrib, ScoreInfo, TeamInfo, TeamScore, SendAudio, RoundTime, Money, StatusIcon, BarTime,
    BombDrop, BombPickup, COUNT
};

constexpr int MAX_ARGS = 10;

// A layout as parsed from its table row. Optional tails are written in brackets in the row; a
// message is complete with `required` arguments or at the end of any bracketed group.
struct Layout {
    const char* name = nullptr;
    const char* text = nullptr;  // the row as written, e.g. "byte killer, byte victim, ..."
    int count = 0;               // arguments of the longest form
    Arg args[MAX_ARGS] = {};
    uint32_t complete = 0;       // bit n set: n arguments form a whole message
    bool valid = false;          // the row parsed
};

const Layout& layout(Id id);
const Layout* findLayout(const char* name);  // null for a message the match never sends
int byteSize(Arg a);                         // bytes on the wire (WriteString: variable, -1)

// One argument value: an integer (byte, char, short, long, entity), a float (angle, coord) or a
// text (string). The kind must match the layout's type.
struct Value {
    enum Kind : uint8_t { Int, Float, Text } kind;
    int i = 0;
    float f = 0.0f;
    const char* s = nullptr;
    Value(int v) : kind(Int), i(v) {}
    Value(float v) : kind(Float), f(v) {}
    Value(double v) : kind(Float), f(float(v)) {}
    Value(const char* v) : kind(Text), s(v ? v : "") {}
};

// The engine ids of the messages, looked up by name once the game has registered them.
struct Ids {
    int id[COUNT] = {};
    void resolve(const SimHost& host);
};

// MessageBegin, one write per value as the layout types it, MessageEnd. Writes nothing and
// returns false (with a note on the host's output) when the values do not fit the layout or the
// message is not registered.
bool send(SimHost& host, const Ids& ids, Id id, int dest, edict_t* to,
          std::initializer_list<Value> values, const float* origin = nullptr);

}  // namespace msg
