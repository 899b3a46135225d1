// A stand-in engine for calling the capture hooks directly: entities, globals, Metamod's fields
// and the engine calls the capture makes, with the ring restarted as a map start does. Every
// plugin global it touches is put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/messages.h"
#include "host/config.h"
#include "host/host.h"
#include "plugin/hooks.h"
#include "state/names.h"
#include "stream/chunks.h"

struct MsgArg {  // WriteByte, WriteCoord or WriteString
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
    static inline std::string s_cvar;  // the last kovitv_version text
    static float c4timer(const char*) { return 35.0f; }
    static void setCvar(const char*, const char* value) { s_cvar = value; }
    static char* infoKey(char* info, char*) { return info; }  // the buffer is the name
    static int userMsgId(plid_t, const char* name, int*) {
        const UserMsgEntry* row = findUserMessage(name);
        return row ? 64 + int(row - g_user_msg) : 0;
    }

    void SetUp() override {
        m_saved_engine = g_engfuncs;
        m_saved_globals = gpGlobals;
        m_saved_meta = gpMetaGlobals;
        m_saved_mutil = gpMetaUtilFuncs;
        g_engfuncs.pfnCVarGetFloat = c4timer;
        g_engfuncs.pfnCVarSetString = setCvar;
        g_engfuncs.pfnInfoKeyValue = infoKey;
        m_mutil.pfnGetUserMsgID = userMsgId;
        gpGlobals = &m_globals;
        gpMetaGlobals = &m_meta;
        gpMetaUtilFuncs = &m_mutil;
        m_globals.pStringBase = m_strings;
        m_globals.time = 1.0f;
        g_limitchat = 1;  // the default of allow_teamsay, whatever ran before
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
        g_grenades.m_last_id = g_grenades.m_classname = 0;
        forgetMessages();
        g_limitchat = 1;
        g_engfuncs = m_saved_engine;
        gpGlobals = m_saved_globals;
        gpMetaGlobals = m_saved_meta;
        gpMetaUtilFuncs = m_saved_mutil;
    }

    static void forgetMessages() {
        memset(g_msg, 0, sizeof g_msg);
        memset(g_msg_end, 0, sizeof g_msg_end);
        for (int i = 0; g_user_msg[i].name; ++i) *g_user_msg[i].id = 0;
    }

    // The game registering a message, as Metamod shows it to post hooks.
    void registerMessage(const char* name, int id) {
        m_meta.orig_ret = &id;
        RegUserMsg_Post(name, -1);
        m_meta.orig_ret = nullptr;
    }

    void mapStart() {  // what ServerActivate_Post does for the capture
        resolveUserMessages();
        g_first_player = &m_edicts[0];
        if (!g_statemgr.allocated()) g_statemgr.allocate(CAPTURE_RING_LAST);
        g_statemgr.clear();
        g_statemgr.restart(&m_globals.time);
        g_roundtime = RoundTimer{};
    }

    void nextSlot() {  // the first frame after the open slot's half second
        m_globals.time = g_current->m_time.load() + 0.01f;
        StartFrame();
    }

    edict_t* entity(int index) { return &m_edicts[index]; }
    PlayerState& slotOf(int player) { return g_current->m_players[player - 1]; }

    // One whole message to entity `to`, or to all when 0.
    void send(int type, int to, std::initializer_list<MsgArg> args) {
        MessageBegin(to ? MSG_ONE : MSG_ALL, type, nullptr, to ? entity(to) : nullptr);
        for (const MsgArg& a : args) {
            if (a.kind == MsgArg::Int) WriteByte(a.i);
            if (a.kind == MsgArg::Float) WriteCoord(a.f);
            if (a.kind == MsgArg::Text) WriteString(a.s);
        }
        MessageEnd();
    }

    int eventCount() const { return g_current->m_events.m_count; }
    template <typename Chunk>
    Chunk* lastEvent(int header) const {
        EventNode* last = g_current->m_events.m_tail;
        return last && last->m_chunk->getHeader() == header ? static_cast<Chunk*>(last->m_chunk) : nullptr;
    }

    globalvars_t m_globals{};
    meta_globals_t m_meta{};
    mutil_funcs_t m_mutil{};
    edict_t m_edicts[48]{};
    char m_strings[64] = "";

private:
    enginefuncs_t m_saved_engine{};
    globalvars_t* m_saved_globals = nullptr;
    meta_globals_t* m_saved_meta = nullptr;
    mutil_funcs_t* m_saved_mutil = nullptr;
};
