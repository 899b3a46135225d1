// The bots' bodies: walking the routes and ladders, falling, aiming and shooting, reloading,
// hurting and killing, and the grenades from the throw to the last think.
#include <cmath>
#include <cstring>

#include "match.h"
#include "simhost.h"
#include "weapons.h"

using namespace kovi;

namespace {

constexpr float kPi = 3.14159265f;
constexpr int DMG_BULLET = 1 << 1, DMG_FALL = 1 << 5, DMG_BLAST = 1 << 6, DMG_NEVERGIB = 1 << 12;
constexpr float kSafeFallSpeed = 580.0f, kFatalFallSpeed = 1024.0f, kGravity = 800.0f;

float norm180(float a) {
    while (a >= 180.0f) a -= 360.0f;
    while (a < -180.0f) a += 360.0f;
    return a;
}
float degrees(float radians) { return radians * 180.0f / kPi; }
float radians(float degrees) { return degrees * kPi / 180.0f; }
float dist2(const Vec3& a, const Vec3& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y));
}
float dist3(const Vec3& a, const Vec3& b) {
    float dz = a.z - b.z;
    float d = dist2(a, b);
    return std::sqrt(d * d + dz * dz);
}

}  // namespace

void Match::removeEntity(edict_t* e) {
    if (e) m_host.removeEntity(e);
}

void Match::turnTo(Bot& b, float yaw, float pitch, float dt) {
    const float rate = 400.0f * dt;
    float dy = norm180(yaw - b.yaw);
    b.yaw = norm180(b.yaw + (dy > rate ? rate : dy < -rate ? -rate : dy));
    float dp = pitch - b.pitch;
    b.pitch += dp > rate ? rate : dp < -rate ? -rate : dp;
}

void Match::draw(Bot& b, int id) {
    if (b.active == id) return;
    b.active = id;
    b.reload_done = 0;  // a switch cancels the reload
    b.deploy_done = now() + (isGrenade(id) ? 0.5f : 0.75f);
}

void Match::startReload(Bot& b) {
    const Weapon* w = weapon(b.active);
    if (!w || w->clip == NO_CLIP || b.reload_done > 0 || b.clip[w->id] >= w->clip) return;
    if (b.reserve[w->id] > 0) {
        b.reload_done = now() + w->reload;
        return;
    }
    if (b.clip[w->id] > 0) return;
    // Out of ammunition: the next weapon down.
    if (w->id == b.primary && b.secondary && (b.clip[b.secondary] || b.reserve[b.secondary]))
        draw(b, b.secondary);
    else
        draw(b, WEAPON_KNIFE);
}

void Match::finishActions(Bot& b) {
    const float t = now();
    if (b.reload_done > 0 && t >= b.reload_done) {
        b.reload_done = 0;
        const Weapon* w = weapon(b.active);
        if (w && w->clip != NO_CLIP) {
            int n = w->clip - b.clip[w->id];
            if (n > b.reserve[w->id]) n = b.reserve[w->id];
            b.clip[w->id] += n;
            b.reserve[w->id] -= n;
        }
    }
    if (b.throw_at > 0 && t >= b.throw_at) throwGrenade(b);
    if (b.plant_done > 0 && t >= b.plant_done) {
        b.plant_done = 0;
        if (b.has_c4) plant(b);
    }
    if (b.defuse_done > 0 && t >= b.defuse_done) {
        b.defuse_done = 0;
        // Too late once the timer has run out, even before the bomb's next think blows it.
        if (m_bomb == Bomb::Planted && m_phase == Phase::Live && t < m_explode_at) defuse(b);
    }
}

void Match::think(Bot& b, float dt) {
    const float t = now();
    if (!b.alive) {
        if (b.deadflag == DEAD_DYING && t >= b.died_at + 1.5f) b.deadflag = DEAD_DEAD;
        if (b.deadflag == DEAD_DEAD && t >= b.died_at + 4.0f) {
            // The dead turn into observers, whom the game gives health 1.
            b.deadflag = DEAD_RESPAWNABLE;
            b.health = 1;
        }
        return;
    }
    if (b.buy_at > 0 && t >= b.buy_at) {
        b.buy_at = 0;
        buy(b);
    }
    finishActions(b);
    if (b.in_buyzone && (m_phase == Phase::Live || m_phase == Phase::Ended) &&
        !mapLayout().spawn[b.team].contains(b.pos.x, b.pos.y)) {
        b.in_buyzone = false;
        statusIcon(b, 0, "buyzone");
    }
    if (m_phase == Phase::Freeze || m_phase == Phase::Waiting) {  // look around, stay put
        turnTo(b, b.yaw + m_rng.between(-30.0f, 30.0f), m_rng.between(-5.0f, 5.0f), dt);
        return;
    }
    bool busy = b.plant_done > 0 || b.defuse_done > 0 || b.throw_at > 0;
    if (b.move != Move::Ground && b.move != Move::Balcony) {  // on a ladder or in the air
        walk(b, dt);
        return;
    }
    fight(b, dt);
    if (busy || !b.alive) return;
    if (b.target && b.active != WEAPON_KNIFE) return;  // stands and shoots
    walk(b, dt);
    // The bomb's jobs: plant at a site, defuse where it lies.
    bool in_site = false;
    for (const Rect& site : mapLayout().site) in_site |= site.contains(b.pos.x, b.pos.y);
    if (b.has_c4 && in_site != b.in_site) statusIcon(b, in_site ? 2 : 1, "c4");
    b.in_site = in_site;
    if (m_phase != Phase::Live || b.target) return;
    if (b.has_c4 && in_site && b.move == Move::Ground) startPlant(b);
    if (b.team == TEAM_CT && m_bomb == Bomb::Planted && m_bomb_holder == 0 &&
        dist2(b.pos, m_bomb_pos) < 50.0f)
        startDefuse(b);
}

// The next place to go, by priority: the dropped bomb (its nearest terrorist), the planted bomb,
// the rest of the route, then a wander round its end.
void Match::nextGoal(Bot& b) {
    const float t = now();
    b.has_goal = true;
    if (b.move == Move::Balcony && b.route && b.waypoint < b.route->count) {
        const Waypoint& w = b.route->points[b.waypoint];  // off the balcony only by its ends
        b.goal = {w.x, w.y, b.pos.z};
        return;
    }
    if (m_bomb == Bomb::Dropped && b.team == TEAM_T) {
        const Bot* nearest = nullptr;
        for (const Bot& o : m_bots)
            if (o.alive && o.team == TEAM_T &&
                (!nearest || dist2(o.pos, m_bomb_pos) < dist2(nearest->pos, m_bomb_pos)))
                nearest = &o;
        if (nearest == &b) {
            b.goal = m_bomb_pos;
            b.hold_until = 0;
            return;
        }
    }
    if (m_bomb == Bomb::Planted) {
        float spread = b.team == TEAM_CT ? 0.0f : 300.0f;  // terrorists guard round it
        b.goal = {m_bomb_pos.x + m_rng.between(-spread, spread),
                  m_bomb_pos.y + m_rng.between(-spread, spread), b.pos.z};
        b.hold_until = b.team == TEAM_CT ? 0 : t + m_rng.between(1.0f, 3.0f);
        return;
    }
    if (b.route && b.waypoint < b.route->count) {
        const Waypoint& w = b.route->points[b.waypoint];
        float spread = w.step == Step::Walk ? 50.0f : 0.0f;  // ladders are where they are
        b.goal = {w.x + m_rng.between(-spread, spread), w.y + m_rng.between(-spread, spread),
                  b.pos.z};
        return;
    }
    // Route done: the carrier goes to the middle of its site to plant; the others hold about
    // the site for a while or roam to some point of another route, so that rounds do not stall.
    const MapLayout& map = mapLayout();
    const Rect& site = map.site[b.route ? b.route->site : 0];
    Vec3 c = site.center();
    if (!b.has_c4 && m_rng.chance(0.3f)) {
        const Route& r = map.routes[m_rng.range(0, map.route_count - 1)];
        const Waypoint& w = r.points[m_rng.range(0, r.count - 1)];
        if (w.step == Step::Walk) c = {w.x, w.y, 0};
    }
    float spread = b.has_c4 ? 60.0f : 300.0f;
    b.goal = {c.x + m_rng.between(-spread, spread), c.y + m_rng.between(-spread, spread), b.pos.z};
    b.hold_until = t + m_rng.between(0.5f, 4.0f);
}

void Match::walk(Bot& b, float dt) {
    const float t = now();
    switch (b.move) {
        case Move::ClimbUp:
            b.pos.z += LADDER_SPEED * dt;
            if (b.pos.z >= BALCONY_HEIGHT + EYE_HEIGHT) {
                b.pos.z = BALCONY_HEIGHT + EYE_HEIGHT;
                b.move = Move::Balcony;
                b.has_goal = false;
            }
            return;
        case Move::ClimbDown:
            b.pos.z -= LADDER_SPEED * dt;
            if (b.pos.z <= EYE_HEIGHT) {
                b.pos.z = EYE_HEIGHT;
                b.move = Move::Ground;
                b.has_goal = false;
            }
            return;
        case Move::Falling:
            b.fall_speed += kGravity * dt;
            b.pos.z -= b.fall_speed * dt;
            if (b.pos.z > EYE_HEIGHT) return;
            b.pos.z = EYE_HEIGHT;
            b.move = Move::Ground;
            b.has_goal = false;
            if (b.fall_speed > kSafeFallSpeed) {
                float damage = (b.fall_speed - kSafeFallSpeed) * 100.0f /
                               (kFatalFallSpeed - kSafeFallSpeed);
                hurt(b, nullptr, damage, DMG_FALL, Vec3{}, "worldspawn", false, 1.0f);
            }
            b.fall_speed = 0;
            return;
        case Move::Ground:
        case Move::Balcony:
            break;
    }
    if (t < b.hold_until) {
        turnTo(b, b.yaw + 40.0f, 0, dt);  // holding: check the corners
        return;
    }
    bool dynamic = m_bomb == Bomb::Dropped || m_bomb == Bomb::Planted;
    if (!b.has_goal || (dynamic && b.move == Move::Ground && m_rng.chance(dt))) nextGoal(b);
    if (b.target && b.active == WEAPON_KNIFE && b.move == Move::Ground) {
        Bot* v = bot(b.target);
        if (v && std::fabs(v->pos.z - b.pos.z) < 50.0f) b.goal = {v->pos.x, v->pos.y, b.pos.z};
    }
    float dx = b.goal.x - b.pos.x, dy = b.goal.y - b.pos.y;
    float d = std::sqrt(dx * dx + dy * dy);
    if (!b.target) turnTo(b, degrees(std::atan2(dy, dx)), 0, dt);
    const Weapon* w = weapon(b.active);
    float step = (w ? w->speed : 250.0f) * dt;
    if (d > step) {
        b.pos.x += dx / d * step;
        b.pos.y += dy / d * step;
        const Rect& r = mapLayout().bounds;
        b.pos.x = b.pos.x < r.x0 + 16 ? r.x0 + 16 : b.pos.x > r.x1 - 16 ? r.x1 - 16 : b.pos.x;
        b.pos.y = b.pos.y < r.y0 + 16 ? r.y0 + 16 : b.pos.y > r.y1 - 16 ? r.y1 - 16 : b.pos.y;
        return;
    }
    b.pos.x = b.goal.x;
    b.pos.y = b.goal.y;
    b.has_goal = false;
    if (!b.route || b.waypoint >= b.route->count || dynamic) return;
    // At a waypoint of the route (dynamic goals leave the route where it was).
    const Waypoint& wp = b.route->points[b.waypoint];
    float wx = wp.x - b.pos.x, wy = wp.y - b.pos.y;
    if (wp.step != Step::Walk && wx * wx + wy * wy > 1.0f) return;
    ++b.waypoint;
    switch (wp.step) {
        case Step::Walk: break;
        case Step::ClimbUp: b.move = Move::ClimbUp; break;
        case Step::Edge:
            if (b.jumps) {  // the quick way down: from this height it kills
                b.move = Move::Falling;
                b.pos.y += 40.0f;
            } else {
                b.move = Move::ClimbDown;
                b.pos.y += 50.0f;
            }
            break;
    }
}

int Match::findTarget(const Bot& b) const {
    int best = 0;
    float best_d = 1300.0f;
    for (const Bot& o : m_bots) {
        if (!o.alive || o.team == b.team || (o.team != TEAM_T && o.team != TEAM_CT)) continue;
        float d = dist2(b.pos, o.pos);
        if (d >= best_d) continue;
        float bearing = degrees(std::atan2(o.pos.y - b.pos.y, o.pos.x - b.pos.x));
        if (d > 400.0f && std::fabs(norm180(bearing - b.yaw)) > 75.0f) continue;  // not seen
        best = o.index;
        best_d = d;
    }
    return best;
}

void Match::fight(Bot& b, float dt) {
    const float t = now();
    if (t >= b.next_scan) {
        b.next_scan = t + 0.1f;
        int target = findTarget(b);
        const Bot* current = bot(b.target);
        if (!target && current && current->alive && dist2(b.pos, current->pos) < 1300.0f)
            target = b.target;  // keeps answering whoever shot at it
        if (target && target != b.target) {
            b.fire_from = t + m_rng.between(0.15f, 0.45f);
            if (m_rng.chance(0.05f)) radio(b, "%!MRAD_ENEMYSPOT", "#Enemy_spotted");
        }
        b.target = target;
    }
    if (!b.target) {
        const Weapon* w = weapon(b.active);
        if (w && w->clip != NO_CLIP && b.clip[w->id] < w->clip / 2) startReload(b);
        return;
    }
    Bot* v = bot(b.target);
    if (!v || !v->alive) {
        b.target = 0;
        return;
    }
    float dx = v->pos.x - b.pos.x, dy = v->pos.y - b.pos.y, dz = v->pos.z - b.pos.z;
    float d = std::sqrt(dx * dx + dy * dy);
    float want_yaw = degrees(std::atan2(dy, dx));
    turnTo(b, want_yaw, -degrees(std::atan2(dz, d > 1 ? d : 1)), dt);
    if (b.plant_done > 0 || b.defuse_done > 0 || b.throw_at > 0) return;
    if (b.active == WEAPON_KNIFE && d > 300.0f) {
        auto loaded = [&](int id) { return id && (b.clip[id] > 0 || b.reserve[id] > 0); };
        int gun = loaded(b.primary) ? b.primary : loaded(b.secondary) ? b.secondary : 0;
        if (gun) draw(b, gun);
    }
    if (d > 300.0f && d < 1250.0f && b.reserve[WEAPON_HEGRENADE] > 0 && m_rng.chance(0.8f * dt)) {
        primeGrenade(b, WEAPON_HEGRENADE);
        return;
    }
    if (d > 400.0f && b.reserve[WEAPON_FLASHBANG] > 0 && m_rng.chance(0.2f * dt)) {
        primeGrenade(b, WEAPON_FLASHBANG);
        return;
    }
    if (d > 500.0f && b.reserve[WEAPON_SMOKEGRENADE] > 0 && m_rng.chance(0.1f * dt)) {
        primeGrenade(b, WEAPON_SMOKEGRENADE);
        return;
    }
    const Weapon* w = weapon(b.active);
    if (!w || isGrenade(w->id) || w->id == WEAPON_C4) return;
    if (t < b.fire_from || t < b.next_shot || t < b.deploy_done || b.reload_done > 0) return;
    if (std::fabs(norm180(want_yaw - b.yaw)) > 8.0f) return;
    if (w->clip != NO_CLIP && b.clip[w->id] <= 0) {
        startReload(b);
        return;
    }
    if (d > w->range) return;
    shoot(b, *v, d);
}

void Match::shoot(Bot& b, Bot& victim, float distance) {
    const Weapon& w = *weapon(b.active);
    if (w.clip != NO_CLIP) --b.clip[w.id];
    b.next_shot = now() + w.interval * m_rng.between(1.0f, 1.6f);
    float hit = w.id == WEAPON_KNIFE ? 0.7f : w.id == WEAPON_AWP ? 0.75f : 0.5f - distance / 3000.0f;
    if (!m_rng.chance(hit < 0.1f ? 0.1f : hit)) return;
    float roll = m_rng.unit(), part;
    bool head = w.id != WEAPON_KNIFE && roll < 0.2f;
    part = head ? 4.0f : roll < 0.75f ? 1.0f : roll < 0.87f ? 1.25f : 0.75f;
    float damage = w.damage * part * m_rng.between(0.9f, 1.1f);
    int bits = DMG_BULLET | (w.id == WEAPON_KNIFE ? DMG_NEVERGIB : 0);
    hurt(victim, &b, damage, bits, b.pos, w.name, head, w.armor_ratio);
}

void Match::hurt(Bot& victim, Bot* attacker, float damage, int bits, const Vec3& from,
                 const char* weapon_name, bool headshot, float armor_ratio) {
    if (!victim.alive || damage <= 0) return;
    float take = damage, save = 0;
    if (victim.armor > 0 && armor_ratio < 1.0f) {  // armour takes half of what it stops
        take = damage * armor_ratio;
        save = (damage - take) * 0.5f;
        if (save > victim.armor) {
            save = victim.armor;
            take = damage - save * 2.0f;
        }
        victim.armor -= save;
    }
    victim.health -= take;
    victim.dmg_take += take;
    victim.dmg_save += save;
    victim.dmg_bits |= bits;
    victim.dmg_from = from;
    if (victim.health <= 0) {
        kill(victim, attacker, weapon_name, headshot);
        return;
    }
    if (attacker && attacker != &victim && !victim.target && attacker->team != victim.team)
        victim.target = attacker->index;  // turns on whoever shoots
}

void Match::kill(Bot& victim, Bot* killer, const char* weapon_name, bool headshot) {
    const float t = now();
    victim.alive = false;
    victim.deadflag = DEAD_DYING;
    victim.died_at = t;
    ++victim.deaths;
    if (killer == &victim) {
        --victim.frags;  // a suicide costs a frag; the world's kills cost the victim none
    } else if (killer) {
        ++killer->frags;
        killer->money = killer->money + 300 > 16000 ? 16000 : killer->money + 300;
    }
    int killer_index = killer ? killer->index : 0;
    send(msg::DeathMsg, MSG_ALL, nullptr, {killer_index, victim.index, headshot ? 1 : 0, weapon_name});
    sendScore(victim);
    if (killer && killer != &victim) sendScore(*killer);
    m_trace.line(t, "kill")
        .num("killer", killer_index)
        .num("victim", victim.index)
        .num("headshot", headshot ? 1 : 0)
        .text("weapon", weapon_name)
        .num("x", victim.pos.x)
        .num("y", victim.pos.y);
    if (victim.has_c4) dropBomb(victim);
    scoreAttrib(victim);
    if (victim.defuse_done > 0 && m_bomb_holder == victim.index) m_bomb_holder = 0;
    victim.plant_done = victim.defuse_done = victim.throw_at = victim.reload_done = 0;
    if (victim.primary) dropWeapon(victim, victim.primary);
    if (victim.has_kit) {
        statusIcon(victim, 0, "defuser");
        edict_t* kit = m_host.createEntity();
        if (kit) {
            kit->v.classname = str("item_thighpack");
            kit->v.owner = edictOf(victim);
            m_host.setModel(kit, "models/w_thighpack.mdl");
            m_boxes.push_back(kit);
        }
        victim.has_kit = false;
    }
    victim.primary = victim.secondary = victim.active = 0;
    memset(victim.clip, 0, sizeof(victim.clip));
    memset(victim.reserve, 0, sizeof(victim.reserve));
    victim.armor = 0;
    victim.target = 0;
    if (victim.move == Move::ClimbUp || victim.move == Move::ClimbDown) victim.move = Move::Ground;
    for (Bot& o : m_bots)
        if (o.target == victim.index) o.target = 0;
    if (killer && killer != &victim && killer->alive && m_rng.chance(0.2f))
        radio(*killer, "%!MRAD_ENEMYDOWN", "#Enemy_down");
}

void Match::dropWeapon(Bot& b, int id) {
    const Weapon* w = weapon(id);
    edict_t* box = w ? m_host.createEntity() : nullptr;
    if (!box) return;
    box->v.classname = str("weaponbox");
    box->v.owner = edictOf(b);
    box->v.origin[0] = b.pos.x;
    box->v.origin[1] = b.pos.y;
    box->v.origin[2] = b.pos.z;
    box->v.movetype = MOVETYPE_TOSS;
    m_host.setModel(box, w->world_model);
    m_boxes.push_back(box);
}

// --- grenades ----------------------------------------------------------------------------------

void Match::primeGrenade(Bot& b, int type) {
    draw(b, type);
    b.throw_at = now() + 0.6f;
}

void Match::throwGrenade(Bot& b) {
    b.throw_at = 0;
    const int type = b.active;
    if (!isGrenade(type) || b.reserve[type] <= 0) return;
    --b.reserve[type];
    int back = b.primary ? b.primary : b.secondary ? b.secondary : int(WEAPON_KNIFE);
    edict_t* e = m_host.createEntity();
    if (!e) {
        draw(b, back);
        return;
    }
    e->v.classname = str("grenade");
    m_host.setModel(e, "models/grenade.mdl");  // the grenade's Spawn, before it has an owner
    float pitch = radians(b.pitch - 10.0f), yaw = radians(b.yaw);
    Vec3 fwd{std::cos(pitch) * std::cos(yaw), std::cos(pitch) * std::sin(yaw), -std::sin(pitch)};
    Thrown g;
    g.e = e;
    g.owner = b.index;
    g.type = type;
    g.pos = {b.pos.x + fwd.x * 16, b.pos.y + fwd.y * 16, b.pos.z + 17 + fwd.z * 16};
    g.vel = {fwd.x * 750, fwd.y * 750, fwd.z * 750};
    g.explode_at = now() + 1.5f;
    g.next_think = now() + 0.1f;
    entvars_t& v = e->v;
    v.origin[0] = g.pos.x;
    v.origin[1] = g.pos.y;
    v.origin[2] = g.pos.z;
    v.velocity[0] = g.vel.x;
    v.velocity[1] = g.vel.y;
    v.velocity[2] = g.vel.z;
    v.owner = edictOf(b);
    v.movetype = MOVETYPE_BOUNCE;
    v.gravity = 0.55f;
    v.friction = 0.7f;
    v.dmgtime = g.explode_at;
    v.nextthink = g.next_think;
    m_host.setModel(e, weapon(type)->world_model);
    m_thrown.push_back(g);
    m_trace.line(now(), "grenade")
        .text("action", "throw")
        .num("entity", m_host.edictIndex(e))
        .num("player", b.index)
        .text("type", weapon(type)->name)
        .num("x", b.pos.x)
        .num("y", b.pos.y)
        .num("z", b.pos.z);
    radio(b, "%!MRAD_FIREINHOLE", "#Fire_in_the_hole");
    draw(b, back);
}

// The engine's physics for each grenade (gravity, bounces off the floor and the outer walls,
// with the game's bounce sounds), then the game's thinks every tenth of a second.
void Match::entities(float dt) {
    const Rect& r = mapLayout().bounds;
    for (Thrown& g : m_thrown) {
        if (!g.exploded && !g.resting) {
            bool bounced = false;
            g.vel.z -= kGravity * 0.55f * dt;
            g.pos.x += g.vel.x * dt;
            g.pos.y += g.vel.y * dt;
            g.pos.z += g.vel.z * dt;
            if (g.pos.x < r.x0 || g.pos.x > r.x1) {
                g.pos.x = g.pos.x < r.x0 ? r.x0 : r.x1;
                g.vel.x *= -0.5f;
                bounced = true;
            }
            if (g.pos.y < r.y0 || g.pos.y > r.y1) {
                g.pos.y = g.pos.y < r.y0 ? r.y0 : r.y1;
                g.vel.y *= -0.5f;
                bounced = true;
            }
            if (g.pos.z < 2.0f) {
                g.pos.z = 2.0f;
                if (g.vel.z < -60.0f) {
                    g.vel.z *= -0.45f;
                    g.vel.x *= 0.75f;
                    g.vel.y *= 0.75f;
                    bounced = true;
                } else {  // rolling
                    g.vel.z = 0;
                    g.vel.x *= 0.9f;
                    g.vel.y *= 0.9f;
                    g.resting = g.vel.x * g.vel.x + g.vel.y * g.vel.y < 25.0f;
                }
            }
            entvars_t& v = g.e->v;
            v.origin[0] = g.pos.x;
            v.origin[1] = g.pos.y;
            v.origin[2] = g.pos.z;
            v.velocity[0] = g.vel.x;
            v.velocity[1] = g.vel.y;
            v.velocity[2] = g.vel.z;
            if (bounced) {
                static const char* const kHits[] = {"weapons/grenade_hit1.wav",
                                                    "weapons/grenade_hit2.wav",
                                                    "weapons/grenade_hit3.wav"};
                const char* sample = g.type == WEAPON_HEGRENADE ? "weapons/he_bounce-1.wav"
                                                                : kHits[m_rng.range(0, 2)];
                sound(g.e, CHAN_VOICE, sample, 0.25f);
                m_trace.line(now(), "grenade")
                    .text("action", "bounce")
                    .num("entity", m_host.edictIndex(g.e))
                    .num("x", g.pos.x)
                    .num("y", g.pos.y)
                    .num("z", g.pos.z);
            }
        }
        if (now() >= g.next_think) grenadeThink(g);
    }
    for (size_t i = 0; i < m_thrown.size();)  // the removed ones go
        if (!m_thrown[i].e)
            m_thrown.erase(m_thrown.begin() + long(i));
        else
            ++i;
}

void Match::grenadeThink(Thrown& g) {
    g.next_think = now() + 0.1f;
    g.e->v.nextthink = g.next_think;
    m_host.think(g.e);
    if (!g.exploded) {
        if (now() >= g.explode_at) explodeGrenade(g);
        return;
    }
    if (g.thinks_after-- > 0) return;
    m_trace.line(now(), "grenade").text("action", "remove").num("entity", m_host.edictIndex(g.e));
    removeEntity(g.e);
    g.e = nullptr;
}

void Match::explodeGrenade(Thrown& g) {
    g.exploded = true;
    const char* sample;
    if (g.type == WEAPON_HEGRENADE) {
        static const char* const kDebris[] = {"weapons/debris1.wav", "weapons/debris2.wav",
                                              "weapons/debris3.wav"};
        sample = kDebris[m_rng.range(0, 2)];
        // The explosion itself is an engine temporary entity (svc_temp_entity, TE_EXPLOSION).
        float at[3] = {g.pos.x, g.pos.y, g.pos.z};
        m_host.messageBegin(MSG_PAS, 23, at, nullptr);
        m_host.writeByte(3);
        m_host.writeCoord(g.pos.x);
        m_host.writeCoord(g.pos.y);
        m_host.writeCoord(g.pos.z + 20.0f);
        m_host.writeShort(1);
        m_host.writeByte(25);
        m_host.writeByte(30);
        m_host.writeByte(0);
        m_host.messageEnd();
        g.thinks_after = 0;  // one more think (the smoke puff), then it goes
        g.next_think = now() + 0.55f;
    } else if (g.type == WEAPON_FLASHBANG) {
        sample = m_rng.chance(0.5f) ? "weapons/flashbang-1.wav" : "weapons/flashbang-2.wav";
        g.thinks_after = 0;
        g.next_think = now() + 0.55f;
    } else {
        sample = "weapons/sg_explode.wav";
        g.thinks_after = 150;  // it smokes for fifteen seconds
    }
    sound(g.e, CHAN_VOICE, sample, 0.55f);
    m_trace.line(now(), "grenade")
        .text("action", "explode")
        .num("entity", m_host.edictIndex(g.e))
        .num("player", g.owner)
        .text("type", weapon(g.type)->name)
        .num("x", g.pos.x)
        .num("y", g.pos.y)
        .num("z", g.pos.z);
    if (g.type != WEAPON_HEGRENADE) return;
    Bot* owner = bot(g.owner);
    if (owner && owner->link != Link::InGame) owner = nullptr;  // the thrower has left
    for (Bot& b : m_bots) {
        if (!b.alive) continue;
        bool self = owner == &b;
        if (owner && !self && b.team == owner->team) continue;  // no friendly fire
        float d = dist3(b.pos, g.pos);
        if (d >= 350.0f) continue;
        hurt(b, owner, 100.0f * (1.0f - d / 350.0f), DMG_BLAST, g.pos, "grenade", false, 0.5f);
    }
}
