#include "messages.h"

#include <cstring>
#include <string>

#include "simhost.h"

namespace msg {
namespace {

struct Row {
    Id id;
    const char* name;
    const char* args;
};

// Counter-Strike 1.6, as the game DLL writes them. Destinations as the match uses them:
// MSG_ONE to a player unless noted.
const Row kRows[] = {
    {CurWeapon, "CurWeapon", "byte active, byte weapon, byte clip"},  // clip -1: no clip
    {Health, "Health", "byte health"},
    {Damage, "Damage", "byte armor, byte taken, long bits, coord x, coord y, coord z"},
    {Battery, "Battery", "short armor"},
    // The game leaves the third argument empty (the client fills in the sender's name) and sends
    // one copy to each recipient, the sender's last. Name changes go to all: old and new name.
    {SayText, "SayText", "byte sender, string key, string name, string text, [string place]"},
    {TextMsg, "TextMsg",
     "byte destination, string text, [string arg1], [string arg2], [string arg3], [string arg4]"},
    {WeaponList, "WeaponList",
     "string weapon, byte ammo1, byte max1, byte ammo2, byte max2, byte slot, byte position, "
     "byte id, byte flags"},
    {ResetHUD, "ResetHUD", ""},
    {InitHUD, "InitHUD", ""},
    {DeathMsg, "DeathMsg", "byte killer, byte victim, byte headshot, string weapon"},  // to all
    {ScoreAttrib, "ScoreAttrib", "byte player, byte flags"},                           // to all
    {ScoreInfo, "ScoreInfo", "byte player, short frags, short deaths, short class, short team"},
    {TeamInfo, "TeamInfo", "byte player, string team"},
    {TeamScore, "TeamScore", "string team, short score"},
    // Announcements are broadcast with sender 0; a player's radio goes to each team mate.
    {SendAudio, "SendAudio", "byte sender, string code, short pitch"},
    {RoundTime, "RoundTime", "short seconds"},
    {Money, "Money", "long amount, byte flash"},
    {StatusIcon, "StatusIcon", "byte status, string sprite, [byte red, byte green, byte blue]"},
    {BarTime, "BarTime", "short seconds"},
    {BombDrop, "BombDrop", "coord x, coord y, coord z, byte flag"},  // to all; flag 1: planted
    {BombPickup, "BombPickup", ""},                                  // to all
};
static_assert(sizeof(kRows) / sizeof(kRows[0]) == COUNT, "one row per message");

bool parseType(const std::string& word, Arg* out) {
    static const struct {
        const char* word;
        Arg arg;
    } kTypes[] = {{"byte", Arg::Byte},   {"char", Arg::Char},   {"short", Arg::Short},
                  {"long", Arg::Long},   {"angle", Arg::Angle}, {"coord", Arg::Coord},
                  {"string", Arg::String}, {"entity", Arg::Entity}};
    for (const auto& t : kTypes)
        if (word == t.word) {
            *out = t.arg;
            return true;
        }
    return false;
}

// "type name, type name, [type name, ...], ..." into the layout.
bool parse(const char* text, Layout* out) {
    bool in_group = false, optional_seen = false;
    out->complete = 0;
    out->count = 0;
    const char* p = text;
    while (*p) {
        while (*p == ' ' || *p == ',') ++p;
        if (!*p) break;
        if (*p == '[') {
            if (in_group) return false;
            if (!optional_seen) out->complete |= 1u << out->count;  // the required part
            in_group = optional_seen = true;
            ++p;
            continue;
        }
        const char* start = p;
        while (*p && *p != ' ' && *p != ',' && *p != ']') ++p;
        Arg arg;
        if (!parseType(std::string(start, size_t(p - start)), &arg)) return false;
        if (out->count >= MAX_ARGS) return false;
        out->args[out->count++] = arg;
        while (*p == ' ') ++p;  // the argument's name
        while (*p && *p != ',' && *p != ']') ++p;
        if (*p == ']') {
            if (!in_group) return false;
            in_group = false;
            out->complete |= 1u << out->count;
            ++p;
        }
    }
    if (in_group) return false;
    if (!optional_seen) out->complete = 1u << out->count;
    return true;
}

struct Table {
    Layout layouts[COUNT];
    Table() {
        for (const Row& row : kRows) {
            Layout& l = layouts[row.id];
            l.name = row.name;
            l.text = row.args;
            l.valid = parse(row.args, &l);
        }
    }
};

const Table& table() {
    static const Table t;
    return t;
}

bool fits(Arg arg, Value::Kind kind) {
    switch (arg) {
        case Arg::Angle:
        case Arg::Coord: return kind == Value::Float;
        case Arg::String: return kind == Value::Text;
        default: return kind == Value::Int;
    }
}

}  // namespace

const Layout& layout(Id id) { return table().layouts[id]; }

const Layout* findLayout(const char* name) {
    for (const Layout& l : table().layouts)
        if (name && strcmp(l.name, name) == 0) return &l;
    return nullptr;
}

int byteSize(Arg a) {
    switch (a) {
        case Arg::Byte:
        case Arg::Char:
        case Arg::Angle: return 1;
        case Arg::Short:
        case Arg::Coord:
        case Arg::Entity: return 2;
        case Arg::Long: return 4;
        case Arg::String: return -1;
    }
    return -1;
}

void Ids::resolve(const SimHost& host) {
    for (int i = 0; i < COUNT; ++i) id[i] = host.userMessageId(layout(Id(i)).name);
}

bool send(SimHost& host, const Ids& ids, Id id, int dest, edict_t* to,
          std::initializer_list<Value> values, const float* origin) {
    const Layout& l = layout(id);
    const int n = int(values.size());
    std::string fault;
    if (!l.valid)
        fault = "its layout does not parse";
    else if (ids.id[id] <= 0)
        fault = "it is not registered";
    else if (n > l.count || !(l.complete & (1u << n)))
        fault = std::to_string(n) + " arguments do not make a whole message";
    int k = 0;
    for (const Value& v : values) {
        if (!fault.empty()) break;
        if (!fits(l.args[k], v.kind)) fault = "argument " + std::to_string(k) + " has the wrong type";
        ++k;
    }
    if (!fault.empty()) {
        host.print(std::string("simhost: message ") + l.name + " not sent: " + fault + "\n");
        return false;
    }
    host.messageBegin(dest, ids.id[id], origin, to);
    k = 0;
    for (const Value& v : values) {
        switch (l.args[k++]) {
            case Arg::Byte: host.writeByte(v.i); break;
            case Arg::Char: host.writeChar(v.i); break;
            case Arg::Short: host.writeShort(v.i); break;
            case Arg::Long: host.writeLong(v.i); break;
            case Arg::Entity: host.writeEntity(v.i); break;
            case Arg::Angle: host.writeAngle(v.f); break;
            case Arg::Coord: host.writeCoord(v.f); break;
            case Arg::String: host.writeString(v.s); break;
        }
    }
    host.messageEnd();
    return true;
}

}  // namespace msg
