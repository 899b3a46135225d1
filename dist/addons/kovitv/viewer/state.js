// The game as the stream tells it: decoded chunks applied the way the plugin's own mirror applies
// them, plus what the mirror does not keep (kill feed, chat and radio, grenades, round clock).
//
//   new GameState()
//   state.applyElement(packets: Uint8Array[], time, fresh = false) -> { truncated, skipped, invalid }
//       one snapshot (half a second of game time); fresh, or an unnamed map chunk, starts over
//   state.applyDecoded(decoded, time, fresh = false)   the same, from decodePacket's results
//   state.apply(chunk, time)     one decoded chunk (stream.js)
//   state.expire(time)           forgets grenades that exploded a while ago
//   state.present(slot)          a named player in the game (not connecting or gone)
//   state.clone()                an independent copy, for seeking
//   shownClock(state, time) -> { kind: 'round'|'bomb'|'over'|'', seconds }   what the clock shows
//
// Times are seconds of game time as the caller counts them (two snapshots per second).
// Every state holds its names as texts of its own, so a fresh state can share nothing stale.

import { decodePacket, GROUP } from './stream.js';

export const MAX_PLAYERS = 32;
export const FEED_LINES = 5;
export const CHAT_LINES = 8;
export const GRENADE_LINGER = 2;  // seconds an exploded grenade stays in view
export const GRENADE_STALE = 10;  // a grenade not heard of this long was lost with a packet
export const KILLER_WORLD = 255;
export const STATE_ALIVE = 0x04;
export const STATE_CONNECTION = 0xC0;
export const ICON_C4 = 0x01;
export const ICON_DEFUSER = 0x08;
export const GRENADE_EXPLODED = 5;
export const GRENADE_SMOKE = 0, GRENADE_FLASH = 1, GRENADE_HE = 2;
export const SMOKE_LINGER = 15;  // seconds a smoke cloud stays in view
export const TRAIL_POINTS = 16;  // positions of a grenade's path kept
export const BOMB_CARRIED = 0, BOMB_DROPPED = 1, BOMB_PLANTED = 2;

export const RADIO_CT_WIN = 0;
export const RADIO_TEXT = { 0: 'Counter-Terrorists win', 1: 'Terrorists win', 2: 'Bomb planted', 4: 'Round draw' };

function emptyPlayer(slot) {
    return { slot, known: 0, x: 0, y: 0, yaw: 0, health: 0, state: 0, kills: 0, deaths: 0,
        team: 0, name: '', weapon: 0, icons: 0 };
}

// Group bits and the fields each one carries.
const PLAYER_FIELDS = [[GROUP.POSITION, ['x', 'y', 'yaw']], [GROUP.HEALTH, ['health']],
    [GROUP.STATE, ['state']], [GROUP.KILLS, ['kills', 'deaths']], [GROUP.TEAM, ['team']],
    [GROUP.NAME, ['name']], [GROUP.WEAPON, ['weapon']], [GROUP.ICONS, ['icons']]];

function pushBounded(list, item, limit) {
    list.push(item);
    if (list.length > limit) list.splice(0, list.length - limit);
}

export class GameState {
    constructor() { this.reset(); }

    reset() {
        this.players = Array.from({ length: MAX_PLAYERS }, (_, slot) => emptyPlayer(slot));
        this.map = null;  // { name, zoom, rotated, originX, originY } once a map chunk came
        this.score = { t: 0, ct: 0 };
        this.bomb = null;  // { x, y, state, defused }
        this.clock = null;  // { seconds, time, bomb: whether it ticked with the bomb planted }
        this.feed = [];
        this.chat = [];  // chat lines and radio announcements, oldest first
        this.grenades = new Map();  // id -> { id, x, y, kind, event, time }
        this.resets = (this.resets ?? -1) + 1;
    }

    clone() {
        const copy = Object.create(GameState.prototype);
        return Object.assign(copy, structuredClone({ ...this }));
    }

    present(slot) {
        const p = this.players[slot];
        if (p === undefined || p.name === '') return false;
        return !((p.state & STATE_CONNECTION) && !(p.state & STATE_ALIVE));
    }

    nameOf(slot) { return slot < MAX_PLAYERS ? this.players[slot].name : ''; }
    teamOf(slot) { return slot < MAX_PLAYERS ? this.players[slot].team : 0; }

    applyElement(packets, time, fresh = false) {
        return this.applyDecoded(packets.map((bytes) => decodePacket(bytes)), time, fresh);
    }

    // The same, for packets the caller decoded already (decodePacket's results, in order).
    applyDecoded(decoded, time, fresh = false) {
        const faults = { truncated: false, skipped: 0, invalid: false };
        // A map begins with an unnamed map chunk, after the players of that same snapshot: the
        // whole snapshot starts the new state, or those players would be forgotten for good.
        const opens = decoded.some((d) => d.chunks.some((c) => c.type === 'map' && c.name === ''));
        if (fresh || opens) this.reset();
        for (const d of decoded) {
            faults.truncated ||= d.truncated;
            faults.invalid ||= d.invalid;
            faults.skipped += d.skipped;
            for (const chunk of d.chunks) this.apply(chunk, time);
        }
        this.expire(time);
        return faults;
    }

    apply(chunk, time) {
        switch (chunk.type) {
            case 'player': return this.applyPlayer(chunk);
            case 'map':
                this.map = { name: chunk.name, zoom: chunk.zoom, rotated: chunk.rotated,
                    originX: chunk.originX, originY: chunk.originY };
                return;
            case 'score': this.score = { t: chunk.t, ct: chunk.ct }; return;
            case 'bomb': this.bomb = { x: chunk.x, y: chunk.y, state: chunk.state }; return;
            case 'death':
                pushBounded(this.feed, {
                    time,
                    killer: chunk.killer === KILLER_WORLD ? '' : this.nameOf(chunk.killer),
                    killerTeam: chunk.killer === KILLER_WORLD ? 0 : this.teamOf(chunk.killer),
                    victim: this.nameOf(chunk.victim), victimTeam: this.teamOf(chunk.victim),
                    weapon: chunk.weapon, headshot: chunk.headshot !== 0,
                }, FEED_LINES);
                return;
            case 'chat':
                pushBounded(this.chat, { time, kind: chunk.kind, name: this.nameOf(chunk.sender),
                    team: this.teamOf(chunk.sender), text: chunk.text }, CHAT_LINES);
                return;
            case 'radio':
                // The stream has no defuse of its own: a planted bomb and the counter-
                // terrorists winning the round can only mean it was defused.
                if (chunk.code === RADIO_CT_WIN && this.bomb?.state === BOMB_PLANTED) this.bomb = { ...this.bomb, defused: true };
                pushBounded(this.chat, { time, radio: chunk.code,
                    text: RADIO_TEXT[chunk.code] ?? `radio ${chunk.code}` }, CHAT_LINES);
                return;
            case 'grenade': {
                // A thrown grenade's first position is its thrower's; its path runs from there.
                const was = this.grenades.get(chunk.id);
                const trail = was && was.kind === chunk.kind && was.event !== GRENADE_EXPLODED ? [...was.trail, [was.x, was.y]] : [];
                if (trail.length > TRAIL_POINTS) trail.splice(0, trail.length - TRAIL_POINTS);
                this.grenades.set(chunk.id, { id: chunk.id, x: chunk.x, y: chunk.y, kind: chunk.kind,
                    event: chunk.event, time, trail });
                return;
            }
            case 'clock':
                this.clock = { seconds: chunk.seconds, time, bomb: this.bomb?.state === BOMB_PLANTED && !this.bomb.defused };
                return;
            default: return;  // heartbeats say nothing about the game
        }
    }

    applyPlayer(chunk) {
        const p = this.players[chunk.slot];
        if (p === undefined) return;
        for (const [bit, fields] of PLAYER_FIELDS) {
            if (!(chunk.mask & bit)) continue;
            for (const f of fields) p[f] = chunk[f];
        }
        p.known |= chunk.mask;
    }

    expire(time) {
        for (const [id, g] of this.grenades) {
            const age = time - g.time;
            const linger = g.kind === GRENADE_SMOKE ? SMOKE_LINGER : GRENADE_LINGER;
            if ((age > GRENADE_STALE && g.event !== GRENADE_EXPLODED) || (g.event === GRENADE_EXPLODED && age > linger)) {
                this.grenades.delete(id);
            }
        }
    }
}

// One clock for every spectator, whenever they joined. Once the bomb is planted the stream's
// ticks count its timer, not the round's: what a tick means is told by the bomb's state when it
// came, and what is shown by the bomb's state now, which a joining spectator's full state
// carries. A tick of the other kind (the one before a plant, or a joiner's first second) shows
// no number rather than a number of the wrong clock.
export function shownClock(state, time) {
    const c = state.clock;
    const planted = state.bomb?.state === BOMB_PLANTED && !state.bomb.defused;
    const kind = planted ? 'bomb' : 'round';
    if (state.bomb?.defused) return { kind: 'over', seconds: null };
    if (!c || c.bomb !== planted) return { kind: planted ? 'bomb' : '', seconds: null };
    if (c.seconds < 0) return { kind: 'over', seconds: null };
    return { kind, seconds: Math.max(0, Math.ceil(c.seconds - Math.max(0, time - c.time))) };
}
