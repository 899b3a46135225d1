// The scripted Counter-Strike match: seeded bots that join, pick teams, buy, walk the map, shoot,
// throw grenades, plant and defuse the bomb, chat, use the radio, rename, leave and come back,
// making the engine calls and user messages the real game makes, in the real order. One frame
// of the game: StartFrame (rounds), then the clients' commands, each player's movement and
// PlayerPostThink, the entities' physics and thinks, and the per-client updates the engine asks
// the game for (Health, Damage, CurWeapon, ...).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game.h"
#include "map.h"
#include "messages.h"
#include "random.h"
#include "trace.h"
#include "sdk/engine.h"

// The trace's events (trace.h gives the line format; players are entity indices, the world 0):
//   map {map}                      join {player, name, reconnect 0|1}   leave {player, name}
//   team {player, team}            name {player, old, new}              spawn {player, team, x, y, z}
//   round_start {round, terrorists, cts}
//   round_end {round, winner TERRORIST|CT|draw, reason, score_t, score_ct}: the reason as the
//     game's log names it: Target_Bombed, Bomb_Defused, Target_Saved (time ran out), CTs_Win,
//     Terrorists_Win (the other side eliminated), Round_Draw
//   kill {killer, victim, headshot, weapon, x, y}
//   score {player, frags, deaths}  every scoreboard line the game sends to all
//   chat {player, key, text (as sent, newline included), recipients}
//   radio {player (0: the game's announcement), code[, recipients]}
//   bomb {action pickup|drop|land|plant|defusing|defuse|explode, player, x, y, z[, timer][, kit]}:
//     a drop is where the carrier fell, land where the bomb lies at rest a second later (the
//     game sends BombDrop for each)
//   grenade {action throw|bounce|explode|remove, entity[, player, type, x, y, z]}; a throw gives
//     the thrower's position, the others the grenade's
struct MatchOptions {
    int players = 10;        // 1 to 32
    uint64_t seed = 1;
    int rounds_per_map = 0;  // 0: no limit
    std::string trace_path;  // empty: no trace
    // Under the game folder: where each map gets the overview of the match's map, when it has
    // none (overview.h); empty: nowhere.
    std::string overview_dir = "addons/kovitv";
};

class Match : public Game {
public:
    static constexpr int MAX_PLAYERS = 32;

    Match(SimHost& host, const MatchOptions& options);
    ~Match() override;

    bool traceOpen() const { return m_trace.active(); }
    bool mapDone() const { return m_map_done; }  // the rounds of this map are played
    int roundsPlayed() const { return m_rounds_played; }

    void worldSpawn() override;
    void serverActivate() override;
    void serverDeactivate() override;
    void startFrame() override;
    void runPlayers() override;
    void gameShutdown() override;

private:
    enum class Link : uint8_t { Free, Connecting, InGame };
    enum class Move : uint8_t { Ground, ClimbUp, Balcony, ClimbDown, Falling };
    enum class Phase : uint8_t { Waiting, Freeze, Live, Ended };
    enum class Bomb : uint8_t { None, Carried, Dropped, Planted, Done };

    struct Bot {
        int index = 0;  // entity index
        Link link = Link::Free;
        float put_in_at = 0;  // Connecting: when ClientPutInServer comes
        float team_at = -1;   // in game: when the team choice comes; negative when done
        float connect_at = -1;  // free: when a client (new or kept across a map) connects
        bool fresh = true;      // a new connection, with its user info first
        char name[32] = {};
        string_t netname = 0;
        int persona = 0;      // name and model choice
        int team = kovi::TEAM_UNASSIGNED;
        int wanted_team = kovi::TEAM_UNASSIGNED;
        int watch_rounds = 0; // a spectator's rounds before joining a team

        // Life.
        bool alive = false;
        float health = 0, armor = 0;
        int deadflag = DEAD_RESPAWNABLE;
        float died_at = 0;
        int frags = 0, deaths = 0, money = 800;

        // Weapons: clip and reserve by weapon id; grenades count in reserve.
        int primary = 0, secondary = 0, active = 0;
        int clip[32] = {};
        int reserve[32] = {};
        bool has_c4 = false, has_kit = false, in_site = false, in_buyzone = false;
        float next_shot = 0, reload_done = 0, deploy_done = 0, throw_at = 0, buy_at = 0;
        float plant_done = 0, defuse_done = 0;

        // Movement and aim.
        kovi::Vec3 pos;
        float yaw = 0, pitch = 0, fall_speed = 0;
        Move move = Move::Ground;
        const kovi::Route* route = nullptr;
        int waypoint = 0;
        kovi::Vec3 goal;
        bool has_goal = false;
        float hold_until = 0;
        bool jumps = false;  // takes the balcony's edge the fast way
        int target = 0;
        float fire_from = 0;  // reaction: the first shot at the target
        float next_scan = 0;

        // What the client was last told (the engine's UpdateClientData).
        bool reset_hud = false, first_hud = false;
        int sent_health = -1, sent_armor = -1, sent_weapon = -1, sent_clip = -2, sent_money = -1;
        float dmg_take = 0, dmg_save = 0;
        int dmg_bits = 0;
        kovi::Vec3 dmg_from;

        float next_chat = 0;
    };

    struct Thrown {  // a grenade in the world
        edict_t* e = nullptr;
        int owner = 0, type = 0;
        kovi::Vec3 pos, vel;
        float explode_at = 0, next_think = 0;
        bool resting = false, exploded = false;
        int thinks_after = 0;  // thinks left after the explosion before removal
    };

    // match.cpp: lifecycle and the client layer.
    void resetMapState();
    void clientLayer();
    void connect(Bot& b, bool fresh);
    void putInServer(Bot& b);
    void chooseTeam(Bot& b);
    void joinTeam(Bot& b, int team);
    void disconnect(Bot& b);
    void rename(Bot& b);
    void setName(Bot& b, const char* name);
    void updateEntity(Bot& b);
    void updateClient(Bot& b);
    void initHud(Bot& b);
    void trySpeak(Bot& b);
    void say(Bot& b, bool team_only, const char* text);
    void radio(Bot& b, const char* code, const char* text);
    bool canHear(const Bot& listener, const Bot& speaker, bool team_only) const;

    // match_round.cpp: rounds, buying and the bomb.
    void roundThink();
    void restartRound();
    void spawn(Bot& b, int spawn_index);
    void buy(Bot& b);
    void freezeEnd();
    void checkWinConditions();
    void terminateRound(int winner, const char* audio, const char* text, const char* reason);
    void giveBomb(Bot& b, bool round_start);
    void dropBomb(Bot& b);
    void bombThink();
    void startPlant(Bot& b);
    void plant(Bot& b);
    void startDefuse(Bot& b);
    void defuse(Bot& b);
    void explodeBomb();
    void statusIcon(Bot& b, int status, const char* sprite);
    void sendScore(const Bot& b);
    void scoreAttrib(const Bot& b);
    void teamScores();
    void centerText(const char* text);
    void announce(const char* audio);

    // match_fight.cpp: movement, shooting, damage, kills and grenades.
    void think(Bot& b, float dt);
    void walk(Bot& b, float dt);
    void nextGoal(Bot& b);
    void turnTo(Bot& b, float yaw, float pitch, float dt);
    void fight(Bot& b, float dt);
    int findTarget(const Bot& b) const;
    void shoot(Bot& b, Bot& victim, float distance);
    void draw(Bot& b, int weapon);
    void startReload(Bot& b);
    void finishActions(Bot& b);
    void hurt(Bot& victim, Bot* attacker, float damage, int bits, const kovi::Vec3& from,
              const char* weapon, bool headshot, float armor_ratio);
    void kill(Bot& victim, Bot* killer, const char* weapon, bool headshot);
    void dropWeapon(Bot& b, int weapon);
    void primeGrenade(Bot& b, int type);
    void throwGrenade(Bot& b);
    void entities(float dt);
    void grenadeThink(Thrown& g);
    void explodeGrenade(Thrown& g);
    void removeEntity(edict_t* e);

    // Shared helpers.
    float now() const;
    Bot* bot(int index) { return index >= 1 && index <= m_count ? &m_bots[size_t(index - 1)] : nullptr; }
    edict_t* edictOf(const Bot& b);
    bool send(msg::Id id, int dest, edict_t* to, std::initializer_list<msg::Value> values);
    bool sendTo(Bot& b, msg::Id id, std::initializer_list<msg::Value> values);
    void sound(edict_t* e, int channel, const char* sample, float volume);
    string_t str(const char* text);  // a string the engine keeps for the process
    int aliveCount(int team) const;
    int teamCount(int team) const;
    int roundSeconds() const;

    MatchOptions m_options;
    Random m_rng;
    Trace m_trace;
    msg::Ids m_ids;
    int m_count = 0;            // bot slots (the --players count)
    std::vector<Bot> m_bots;
    std::vector<Thrown> m_thrown;
    std::vector<edict_t*> m_boxes;  // weapons and the bomb lying on the floor
    std::vector<std::pair<std::string, string_t>> m_strings;
    bool m_active = false;      // a map is running
    bool m_first_map = true;
    bool m_map_done = false;

    Phase m_phase = Phase::Waiting;
    float m_phase_end = 0;      // end of the freeze, the round, or the pause after it
    float m_commence_at = -1;   // the first round of the map
    int m_round = 0, m_rounds_played = 0;
    int m_score[2] = {};        // T, CT
    int m_losses[2] = {};       // rounds lost in a row: T, CT
    int m_round_players[3] = {};  // players each team started the round with
    float m_leave_at = -1, m_rename_at = -1;
    int m_leave_index = 0, m_rename_index = 0;
    int m_next_persona = 0;     // names for new clients and renames

    Bomb m_bomb = Bomb::None;
    int m_bomb_holder = 0;      // carrier, planter or defuser
    edict_t* m_bomb_box = nullptr;
    float m_bomb_lands_at = -1;  // the dropped bomb comes to rest; negative once it lies there
    kovi::Vec3 m_bomb_rest;      // where it will lie
    edict_t* m_c4 = nullptr;
    kovi::Vec3 m_bomb_pos;
    float m_explode_at = 0, m_c4_think = 0, m_next_beep = 0;
};
