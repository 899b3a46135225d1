// A stand-in engine for calling the capture hooks directly: entities, globals, Metamod's result
// fields, the engine calls the capture makes, and the state ring restarted as a map start does.
// Every plugin global it touches is put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/messages.h"
#include "plugin/config.h"
#include "plugin/hooks.h"
#include "plugin/host.h"
#include "state/names.h"
#include "state/state.h"
#include "stream/chunks.h"

// One message argument: int (WriteByte), float (WriteCoord) or text (WriteString).
struct MsgArg {
    enum Kind { Int, Float, Text } kind;
    int i = 0;
    float f = 0;
    const char* s = nullptr;
    MsgArg(int v) : kind(Int), i(v) {}
    MsgArg(double v) : kind(Float), f(float(v)) {}
    MsgArg(const char* v) : kind(Text), s(v) {}
};

class CaptureTest : public ::testing::Test {
protected:
    static inline float s_c4timer = 35.0f;
    static inline std::string s_cvar_set;
    static inline int s_cvar_sets = 0;
    static inline std::vector<std::pair<std::string, int>> s_known_ids;  // Metamod's view

    static float cvarGetFloat(const char* name) {
        return strcmp(name, "mp_c4timer") == 0 ? s_c4timer : 0.0f;
    }
    static void cvarSetString(const char* name, const char* value) {
        if (strcmp(name, "kovitv_version") == 0) s_cvar_set = value, ++s_cvar_sets;
    }
    static char* infoKeyValue(char* info, char*) { return info; }  // the buffer is the name
    static int getUserMsgID(plid_t, const char* name, int*) {
        for (auto& known : s_known_ids)
            if (known.first == name) return known.second;
        return 0;
    }
    static void logNothing(plid_t, const char*, ...) {}

    void SetUp() override {
        m_saved_engine = g_engfuncs;
        m_saved = {gpGlobals, gpMetaGlobals, gpMetaUtilFuncs};
        m_saved_limitchat = g_limitchat;
        g_engfuncs.pfnCVarGetFloat = cvarGetFloat;
        g_engfuncs.pfnCVarSetString = cvarSetString;
        g_engfuncs.pfnInfoKeyValue = infoKeyValue;
        m_mutil.pfnGetUserMsgID = getUserMsgID;
        m_mutil.pfnLogError = logNothing;
        m_mutil.pfnLogDeveloper = logNothing;
        gpGlobals = &m_globals;
        gpMetaGlobals = &m_meta;
        gpMetaUtilFuncs = &m_mutil;
        m_globals.pStringBase = m_strings;
        m_globals.time = 1.0f;
        g_limitchat = 1;
        s_known_ids.clear();
        forgetMessages();
        for (int i = 0; g_user_msg[i].name; ++i) registerMessage(g_user_msg[i].name, 64 + i);
        mapStart();
    }

    void TearDown() override {
        g_statemgr.clear();
        g_current = nullptr;
        g_first_player = nullptr;
        g_name_coll.clear();
        for (PlayerRecord& r : g_players) r.clear();
        g_grenades.clear();
        g_grenades.m_last_id = 0;
        g_grenades.m_classname = 0;
        forgetMessages();
        g_limitchat = m_saved_limitchat;
        g_engfuncs = m_saved_engine;
        gpGlobals = m_saved.globals;
        gpMetaGlobals = m_saved.meta;
        gpMetaUtilFuncs = m_saved.mutil;
    }

    static void forgetMessages() {
        memset(g_msg, 0, sizeof g_msg);
        memset(g_msg_end, 0, sizeof g_msg_end);
        for (int i = 0; g_user_msg[i].name; ++i) *g_user_msg[i].id = 0;
        function = endfunction = nullptr;
    }

    // The game registering a message through the engine, as Metamod shows it to post hooks.
    void registerMessage(const char* name, int id) {
        s_known_ids.emplace_back(name, id);
        m_meta.orig_ret = &id;
        RegUserMsg_Post(name, -1);
        m_meta.orig_ret = nullptr;
    }

    // What ServerActivate_Post does for the capture.
    void mapStart() {
        resolveUserMessages();
        g_first_player = &m_edicts[0];
        if (!g_statemgr.allocated()) g_statemgr.allocate(15);
        g_statemgr.clear();
        g_statemgr.restart(&m_globals.time);
        g_roundtime = RoundTimer{};
        g_roundtime.m_clock = &m_globals.time;
    }

    // One frame after the open slot's half second: the next slot opens.
    void nextSlot() {
        m_globals.time = g_current->m_time.load() + 0.01f;
        StartFrame();
    }

    edict_t* entity(int index) { return &m_edicts[index]; }
    PlayerState& slotOf(int player_index) { return g_current->m_players[player_index - 1]; }

    // One whole message; to is the receiving entity, 0 for all.
    void send(int type, int to, std::initializer_list<MsgArg> args) {
        MessageBegin(to ? MSG_ONE : MSG_ALL, type, nullptr, to ? entity(to) : nullptr);
        for (const MsgArg& a : args) {
            if (a.kind == MsgArg::Int) WriteByte(a.i);
            if (a.kind == MsgArg::Float) WriteCoord(a.f);
            if (a.kind == MsgArg::Text) WriteString(a.s);
        }
        MessageEnd();
    }

    // The open slot's events.
    std::vector<PacketChunk*> events() const {
        std::vector<PacketChunk*> out;
        for (EventNode* n = g_current->m_events.m_head; n; n = n->m_next) out.push_back(n->m_chunk);
        return out;
    }
    template <typename Chunk>
    Chunk* lastEvent(int header) const {
        std::vector<PacketChunk*> all = events();
        if (all.empty() || all.back()->getHeader() != header) return nullptr;
        return static_cast<Chunk*>(all.back());
    }

    globalvars_t m_globals{};
    meta_globals_t m_meta{};
    mutil_funcs_t m_mutil{};
    edict_t m_edicts[48]{};
    char m_strings[256] = "";

private:
    enginefuncs_t m_saved_engine{};
    struct {
        globalvars_t* globals;
        meta_globals_t* meta;
        mutil_funcs_t* mutil;
    } m_saved{};
    int m_saved_limitchat = 1;
};
