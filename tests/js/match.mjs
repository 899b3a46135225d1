// A small scripted match as stream elements, for the tests of what the viewer works out from a
// stream (rounds, highlights, the clock): chunk encoders and a script of one element per step.
import { packet } from './vectors.mjs';

const s16 = (v) => [(v >> 8) & 0xFF, v & 0xFF];
const text = (t) => [Buffer.byteLength(t), ...Buffer.from(t)];

export const chunk = {
    // position, health, state, team and name
    player: (slot, { x = 0, y = 0, yaw = 0, health = 100, alive = true, team, name }) =>
        [slot, 0x37, ...s16(x), ...s16(y), ...s16(yaw), health, alive ? 0x04 : 0x01, team, ...text(name)],
    dies: (slot) => [slot, 0x06, 0, 0x01],  // health 0, dead
    spawns: (slot) => [slot, 0x06, 100, 0x04],
    // As the capture tells them on a real server: the death's half second (died, dead), then the
    // observer's health of 1 with the dead bit, then dead alone; a spawn with its own bit.
    killed: (slot) => [slot, 0x06, 0, 0x1e],
    observer: (slot) => [slot, 0x06, 1, 0x1c],
    respawned: (slot) => [slot, 0x06, 100, 0x24],
    health: (slot, health) => [slot, 0x02, health],
    moves: (slot, x, y) => [slot, 0x01, ...s16(x), ...s16(y), 0, 0],
    chat: (sender, line, kind = 2) => [35, kind, sender, ...text(line)],
    death: (killer, victim, weapon = 'ak47', headshot = 0) => [33, killer, victim, headshot, ...text(weapon)],
    radio: (code) => [34, code, 0, 0],
    score: (t, ct) => [36, t, ct],
    bomb: (state, x = 0, y = 0) => [40, ...s16(x), ...s16(y), state],
    grenade: (id, x, y, event = 1, kind = 2) => [39, id, ...s16(x), ...s16(y), event, kind],
    clock: (seconds) => [41, ...s16(seconds)],
    map: (name) => [32, ...text(name), 0, 100, 1, 0, 0, 0, 0],
    heartbeat: () => [38, 2, 0, 0],
};
export const CT_WIN = 0, T_WIN = 1, BOMB_PLANTED_RADIO = 2, DEFUSED = 3, DRAW = 4;
export const CARRIED = 0, DROPPED = 1, PLANTED = 2;

// Elements from a script: each entry is a list of chunks (one element, one packet); a number n
// stands for n elements of heartbeats only.
export function elements(script) {
    const out = [];
    for (const step of script) {
        if (typeof step === 'number') for (let i = 0; i < step; i++) out.push([packet(chunk.heartbeat())]);
        else out.push([packet(chunk.heartbeat(), ...step)]);
    }
    return out;
}

// Two Terrorists (0, 1) against three Counter-Terrorists (2, 3, 4) on a map of that name.
export function lineup(map) {
    return [chunk.map(''), chunk.map(map), chunk.score(0, 0),
        chunk.player(0, { team: 1, name: 'Tom' }), chunk.player(1, { team: 1, name: 'Ted' }),
        chunk.player(2, { team: 2, name: 'Cat' }), chunk.player(3, { team: 2, name: 'Cid' }),
        chunk.player(4, { team: 2, name: 'Cyd' })];
}
export const respawn = () => [0, 1, 2, 3, 4].map(chunk.spawns);
export const respawnAll = () => [0, 1, 2, 3, 4].map(chunk.respawned);

// Clock ticks counting down from `from`, one element of heartbeats between them.
export function ticks(from, count) {
    const out = [];
    for (let i = 0; i < count; i++) out.push([chunk.clock(from - i)], 1);
    return out;
}
