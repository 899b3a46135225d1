// The director: an automatic camera that shows where the action is, for small screens and
// casual watching. The stream is delayed, so the viewer knows the kills of the next seconds and
// frames them before they happen.
//
//   new Director()
//     .choose(state, ahead, time) -> { slots: [slot], spot: { x, y } | null, reason }
//         what to show: players (and the bomb's place) worth watching now; ahead: the stream's
//         events within the next seconds (state.js's: 'kill' with killer and victim, 'plant')
//         with the game time each shows at, { time, type, ... }; time: the game time shown
//     .reset()                 forgets what it showed (a seek, a new map)
//   frameBox(choice, positions) -> { minX, maxX, minY, maxY } in world units, or null: the map
//   ease(camera, goal, seconds) -> the camera { u, v, zoom } moved toward the goal
//
// What counts, most first: a kill about to happen (its killer and victim are always in view
// until it has happened), a bomb planted with counter-terrorists at it or about to be planted,
// shots and hits, enemies close to each other, the last players alive. Once a choice is made it
// is kept for a while unless something clearly bigger happens elsewhere, so the camera does not
// jump between two places of the same weight.

import { STATE_FIRED, STATE_HIT } from './interp.js';
import { BOMB_PLANTED, inTeam, isAlive } from './rules.js';
import { ICON_C4 } from './state.js';

export const KILL_AHEAD = 2.5;  // seconds of a coming kill the camera frames it ahead
export const HOLD = 2;  // seconds a choice is kept at least
const SWITCH_MARGIN = 1.5;  // a new place must weigh this much more than the one shown
const NEAR = 1000;  // world units: enemies this close are about to fight; action this close is one place
const BOMB_NEAR = 400;  // a counter-terrorist this close to a planted bomb may defuse it
const PLANT_AHEAD = 4;
const MARGIN = 250;  // around the players framed
const MIN_SPAN = 1400;  // the closest the camera frames, in world units across

const WEIGHT = { kill: 100, defuse: 40, plant: 50, hit: 12, fired: 8, fight: 6, last: 5, bomb: 4, all: 1 };

const near = (a, b, reach) => (a.x - b.x) ** 2 + (a.y - b.y) ** 2 <= reach * reach;

export class Director {
    constructor() { this.reset(); }

    reset() {
        this.current = null;  // { slots, spot, reason, weight, since }
    }

    choose(state, ahead = [], time = 0) {
        const players = state.players.filter((p) => state.present(p.slot) && inTeam(p));
        const living = players.filter(isAlive);
        const places = this.places(state, players, living, ahead, time);
        let best = places[0] ?? { slots: living.map((p) => p.slot), spot: null, reason: 'all', weight: 0 };
        for (const p of places) if (p.weight > best.weight) best = p;
        const was = this.current;
        if (was && best.reason !== 'kill') {
            // What the shown place weighs now: the best place sharing one of its players.
            let kept = null;
            for (const p of places) if (p.slots.some((s) => was.slots.includes(s)) && (!kept || p.weight > kept.weight)) kept = p;
            // A place shown for less than HOLD stays, even gone quiet (a kill just happened there).
            const young = time - was.since < HOLD && time >= was.since;
            const held = { ...was, slots: was.slots.filter((s) => state.present(s)) };
            if (young) best = kept ?? (held.slots.length || held.spot ? held : best);
            else if (kept && best.weight < kept.weight * SWITCH_MARGIN) best = kept;
        }
        // Every kill of the next seconds stays framed until it has happened.
        const slots = new Set(best.slots);
        for (const e of ahead) {
            if (e.type !== 'kill' || e.time - time > KILL_AHEAD || e.time < time) continue;
            for (const s of [e.killer, e.victim]) if (state.present(s)) slots.add(s);
        }
        const same = was && best.slots.some((s) => was.slots.includes(s));
        this.current = { ...best, slots: [...slots], since: same ? was.since : time };
        return { slots: this.current.slots, spot: best.spot, reason: best.reason };
    }

    // Every place worth a look, with its weight.
    places(state, players, living, ahead, time) {
        const out = [];
        const kills = ahead.filter((e) => e.type === 'kill' && e.time >= time && e.time - time <= KILL_AHEAD)
            .sort((a, b) => a.time - b.time);
        if (kills.length) {  // the next kill; the others join it in choose()
            const k = kills[0];
            out.push({ slots: [k.killer, k.victim].filter((s) => state.present(s)), spot: null, reason: 'kill',
                weight: WEIGHT.kill - (k.time - time) });
        }
        const bomb = state.bomb;
        if (bomb?.state === BOMB_PLANTED && !state.round?.defused && !state.round?.exploded) {
            const at = living.filter((p) => p.team === 2 && near(p, bomb, BOMB_NEAR)).map((p) => p.slot);
            out.push({ slots: at, spot: { x: bomb.x, y: bomb.y }, reason: at.length ? 'defuse' : 'bomb',
                weight: at.length ? WEIGHT.defuse : WEIGHT.bomb });
        } else if (ahead.some((e) => e.type === 'plant' && e.time >= time && e.time - time <= PLANT_AHEAD)) {
            const carrier = living.find((p) => p.icons & ICON_C4);
            if (carrier) out.push({ slots: [carrier.slot], spot: null, reason: 'plant', weight: WEIGHT.plant });
        }
        // Shots, hits and enemies close together, gathered into places.
        const score = new Map();
        for (const p of living) {
            let w = 0;
            if (p.state & STATE_HIT) w += WEIGHT.hit;
            if (p.state & STATE_FIRED) w += WEIGHT.fired;
            for (const q of living) if (q.team !== p.team && near(p, q, NEAR)) w += WEIGHT.fight;
            if (w > 0) score.set(p.slot, w);
        }
        while (score.size) {  // one place per cluster, the busiest player first
            let seed = -1;
            for (const [slot, w] of score) if (seed < 0 || w > score.get(seed)) seed = slot;
            const s = state.players[seed];
            const group = living.filter((p) => score.has(p.slot) && near(p, s, NEAR));
            let weight = 0;
            for (const p of group) { weight += score.get(p.slot); score.delete(p.slot); }
            const shooting = group.some((p) => p.state & (STATE_FIRED | STATE_HIT));
            out.push({ slots: group.map((p) => p.slot), spot: null, reason: shooting ? 'shots' : 'fight', weight });
        }
        // The last players alive: a clutch or the round's end.
        const t = living.filter((p) => p.team === 1), ct = living.filter((p) => p.team === 2);
        if (living.length > 0 && (t.length <= 1 || ct.length <= 1) && living.length <= 5) {
            out.push({ slots: living.map((p) => p.slot), spot: null, reason: 'last', weight: WEIGHT.last });
        }
        return out;
    }
}

// The world box that frames a choice, at least MIN_SPAN across; null for nothing to frame.
export function frameBox(choice, positions) {
    let minX = Infinity, maxX = -Infinity, minY = Infinity, maxY = -Infinity;
    const take = (x, y) => {
        if (x < minX) minX = x; if (x > maxX) maxX = x;
        if (y < minY) minY = y; if (y > maxY) maxY = y;
    };
    for (const s of choice.slots) take(positions[s].x, positions[s].y);
    if (choice.spot) take(choice.spot.x, choice.spot.y);
    if (minX > maxX) return null;
    const grow = (lo, hi) => {
        const half = Math.max((hi - lo) / 2 + MARGIN, MIN_SPAN / 2), mid = (lo + hi) / 2;
        return [mid - half, mid + half];
    };
    [minX, maxX] = grow(minX, maxX);
    [minY, maxY] = grow(minY, maxY);
    return { minX, maxX, minY, maxY };
}

// About two thirds of the way there in half a second, whatever the frame rate; the zoom eases
// by ratio so zooming in and out feel alike.
const EASE_RATE = 2.2;
export function ease(camera, goal, seconds) {
    const k = 1 - Math.exp(-EASE_RATE * Math.max(seconds, 0));
    return { u: camera.u + (goal.u - camera.u) * k, v: camera.v + (goal.v - camera.v) * k,
        zoom: camera.zoom * (goal.zoom / camera.zoom) ** k };
}
