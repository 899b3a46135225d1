// The game as the stream tells it: decoded chunks applied the way the plugin's own mirror applies
// them, plus what the mirror does not keep (kill feed, chat and radio, grenades, the round and
// its clock, which rules.js decides).
//
//   new GameState()
//   state.applyElement(packets: Uint8Array[], time, fresh = false) -> { truncated, skipped, invalid }
//       one snapshot (half a second of game time); fresh, or an unnamed map chunk, starts over
//   state.applyDecoded(decoded, time, fresh = false)   the same, from decodePacket's results
//       or from compactElement's
//   compactElement(decoded) -> the same element kept small for replaying: its player chunks
//       (most of a stream) packed in one Int16Array, the other chunks as they are, in order
//   state.events   what the last element applied brought, in order: rules.js's round and bomb
//                  events, { type: 'map' } first when it started a map (or a fresh state), and
//                  { type: 'kill', killer, victim, weapon, headshot, killerTeam, victimTeam,
//                  killerName, victimName } (names and teams as known before the element),
//                  { type: 'damage', slot, name, amount } (a living player's health drop)
//   state.round    rules.js's round: phase, planted, defused, winner, how...
//   state.expire(time)           forgets grenades that exploded a while ago
//   state.present(slot)          a named player in the game (not connecting or gone)
//   state.clone()                an independent copy, for seeking
//   shownClock(state, time) -> { kind: 'round'|'freeze'|'bomb'|'over'|'', seconds }   (rules.js)
//
// Times are seconds of game time as the caller counts them (two snapshots per second).
// Every state holds its names as texts of its own, so a fresh state can share nothing stale.

import { BOMB_CARRIED, BOMB_DROPPED, BOMB_PLANTED, chatText, isAlive, newRound, onBomb, onClock, onRadio, opensMap,
    RADIO_TEXT, settle, shownClock, STATE_ALIVE, STATE_CONNECTION, STATE_SPAWNED } from './rules.js';
import { decodePacket, GROUP } from './stream.js';

export { BOMB_CARRIED, BOMB_DROPPED, BOMB_PLANTED, RADIO_TEXT, shownClock, STATE_ALIVE, STATE_CONNECTION };

export const MAX_PLAYERS = 32;
export const FEED_LINES = 5;
export const CHAT_LINES = 8;
export const GRENADE_LINGER = 2;  // seconds an exploded grenade stays in view
export const GRENADE_STALE = 10;  // a grenade not heard of this long was lost with a packet
export const KILLER_WORLD = 255;
export const ICON_C4 = 0x01;
export const ICON_DEFUSER = 0x08;
export const GRENADE_EXPLODED = 5;
export const GRENADE_SMOKE = 0, GRENADE_FLASH = 1, GRENADE_HE = 2;
export const SMOKE_LINGER = 15;  // seconds a smoke cloud stays in view
export const TRAIL_POINTS = 16;  // positions of a grenade's path kept

function emptyPlayer(slot) {
    return { slot, known: 0, x: 0, y: 0, yaw: 0, health: 0, state: 0, kills: 0, deaths: 0,
        team: 0, name: '', weapon: 0, icons: 0 };
}

// Group bits and the fields each one carries.
const PLAYER_FIELDS = [[GROUP.POSITION, ['x', 'y', 'yaw']], [GROUP.HEALTH, ['health']],
    [GROUP.STATE, ['state']], [GROUP.KILLS, ['kills', 'deaths']], [GROUP.TEAM, ['team']],
    [GROUP.NAME, ['name']], [GROUP.WEAPON, ['weapon']], [GROUP.ICONS, ['icons']]];

// A compact element's row: slot (or -1 - the index of another chunk), mask, the fields below,
// and the index of the name among the element's names (-1 for none).
const PACKED = ['x', 'y', 'yaw', 'health', 'state', 'kills', 'deaths', 'team', 'weapon', 'icons'];
const STRIDE = PACKED.length + 3;
const scratch = { type: 'player' };  // one player chunk at a time, read out of a compact element
const NONE = Object.freeze([]);
const CLEAN = Object.freeze({ truncated: false, skipped: 0, invalid: false });

function faultsOf(decoded) {
    const faults = { truncated: false, skipped: 0, invalid: false };
    for (const d of decoded) {
        faults.truncated ||= d.truncated;
        faults.invalid ||= d.invalid;
        faults.skipped += d.skipped;
    }
    return faults;
}

export function compactElement(decoded) {
    const chunks = decoded.flatMap((d) => d.chunks).filter((c) => c.type !== 'heartbeat');
    const packed = new Int16Array(chunks.length * STRIDE);
    const names = [], others = [];
    chunks.forEach((c, i) => {
        const base = i * STRIDE;
        if (c.type !== 'player') {
            packed[base] = -1 - others.length;
            others.push(c);
            return;
        }
        packed[base] = c.slot;
        packed[base + 1] = c.mask;
        for (let k = 0; k < PACKED.length; k++) packed[base + 2 + k] = c[PACKED[k]] ?? 0;
        packed[base + STRIDE - 1] = typeof c.name === 'string' ? names.push(c.name) - 1 : -1;
    });
    // Most elements have no name, no other chunk and no fault: those share one empty value each.
    const faults = faultsOf(decoded);
    const clean = !faults.truncated && !faults.invalid && faults.skipped === 0;
    return { packed, names: names.length ? names : NONE, others: others.length ? others : NONE,
        opens: opensMap(decoded), faults: clean ? CLEAN : faults };
}

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
        this.bomb = null;  // { x, y, state }
        this.clock = null;  // { seconds, time, kind: 'round'|'freeze'|'bomb' }
        this.round = newRound();
        this.events = [];
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

    // The same, for packets the caller decoded already (decodePacket's results, in order, or
    // compactElement's).
    applyDecoded(decoded, time, fresh = false) {
        const compact = decoded.packed ? decoded : null;
        const faults = compact ? { ...compact.faults } : faultsOf(decoded);
        // A map begins with an unnamed map chunk, after the players of that same snapshot: the
        // whole snapshot starts the new state, or those players would be forgotten for good.
        const opens = fresh || (compact ? compact.opens : opensMap(decoded));
        if (opens) this.reset();
        const events = opens ? [{ type: 'map' }] : [];
        const spawned = [];
        if (compact) this.applyCompact(compact, time, events, opens, spawned);
        else for (const d of decoded) for (const chunk of d.chunks) this.apply(chunk, time, events, opens, spawned);
        settle(this, time, opens, spawned, events);
        this.events = events;
        this.expire(time);
        return faults;
    }

    applyCompact({ packed, names, others }, time, events, opens, spawned) {
        for (let base = 0; base < packed.length; base += STRIDE) {
            const slot = packed[base];
            if (slot < 0) {
                this.apply(others[-1 - slot], time, events, opens, spawned);
                continue;
            }
            scratch.slot = slot;
            scratch.mask = packed[base + 1];
            for (let k = 0; k < PACKED.length; k++) scratch[PACKED[k]] = packed[base + 2 + k];
            scratch.name = packed[base + STRIDE - 1] >= 0 ? names[packed[base + STRIDE - 1]] : '';
            this.applyPlayer(scratch, opens, spawned, events);
        }
    }

    apply(chunk, time, events = [], opens = false, spawned = []) {
        switch (chunk.type) {
            case 'player': return this.applyPlayer(chunk, opens, spawned, events);
            case 'map':
                this.map = { name: chunk.name, zoom: chunk.zoom, rotated: chunk.rotated,
                    originX: chunk.originX, originY: chunk.originY };
                return;
            case 'score': this.score = { t: chunk.t, ct: chunk.ct }; return;
            case 'bomb': return onBomb(this, chunk, opens, events);
            case 'death': {
                const world = chunk.killer === KILLER_WORLD;
                events.push({ type: 'kill', killer: chunk.killer, victim: chunk.victim, weapon: chunk.weapon,
                    headshot: chunk.headshot !== 0, killerTeam: world ? 0 : this.teamOf(chunk.killer),
                    victimTeam: this.teamOf(chunk.victim), killerName: world ? 'world' : this.nameOf(chunk.killer),
                    victimName: this.nameOf(chunk.victim) });
                pushBounded(this.feed, {
                    time,
                    killer: chunk.killer === KILLER_WORLD ? '' : this.nameOf(chunk.killer),
                    killerTeam: chunk.killer === KILLER_WORLD ? 0 : this.teamOf(chunk.killer),
                    victim: this.nameOf(chunk.victim), victimTeam: this.teamOf(chunk.victim),
                    weapon: chunk.weapon, headshot: chunk.headshot !== 0,
                }, FEED_LINES);
                return;
            }
            case 'chat':
                pushBounded(this.chat, { time, kind: chunk.kind, name: this.nameOf(chunk.sender),
                    team: this.teamOf(chunk.sender), text: chatText(chunk.text) }, CHAT_LINES);
                return;
            case 'radio':
                onRadio(this, chunk.code, events);
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
            case 'clock': return onClock(this, chunk.seconds, time, events);
            default: return;  // heartbeats say nothing about the game
        }
    }

    applyPlayer(chunk, opens, spawned, events) {
        const p = this.players[chunk.slot];
        if (p === undefined) return;
        const wasAlive = isAlive(p), health = p.health;
        for (const [bit, fields] of PLAYER_FIELDS) {
            if (!(chunk.mask & bit)) continue;
            for (const f of fields) p[f] = chunk[f];
        }
        p.known |= chunk.mask;
        if (opens) return;
        if ((chunk.mask & GROUP.STATE) && (p.state & STATE_SPAWNED) && !(p.state & STATE_CONNECTION)) spawned.push(p.slot);
        if ((chunk.mask & GROUP.HEALTH) && wasAlive && p.health < health) {
            events.push({ type: 'damage', slot: p.slot, name: p.name, amount: health - p.health });
        }
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
