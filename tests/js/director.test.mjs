// The director's choice of what to show: fights, the bomb, the last alive, kills ahead, and
// staying put when nothing clearly bigger happens elsewhere.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Director, ease, frameBox, HOLD, KILL_AHEAD } from '../../dist/addons/kovitv/viewer/director.js';
import { GameState } from '../../dist/addons/kovitv/viewer/state.js';
import { chunk } from './match.mjs';
import { packet } from './vectors.mjs';

const T = 1, CT = 2;
// A state from players { slot: [team, x, y, bits] } (bits: 1 fired, 2 hit; alive unless dead).
function game(players, extra = []) {
    const s = new GameState();
    const chunks = Object.entries(players).map(([slot, [team, x, y, bits = 0, dead = false]]) => {
        const c = chunk.player(Number(slot), { team, x, y, name: `p${slot}`, health: dead ? 0 : 100, alive: !dead });
        c[8 + 1] = dead ? 0x08 : 0x04 | bits;  // mask, x, y, yaw, health, then the state byte
        return c;
    });
    s.applyElement([packet(chunk.map(''), chunk.map('de_kovi'), ...chunks, ...extra)], 0);
    return s;
}
// Two teams far apart, each in a corner: nothing happening.
const quiet = { 0: [T, -3000, -3000], 1: [T, -2900, -3000], 2: [CT, 3000, 3000], 3: [CT, 2900, 3000] };
const sorted = (c) => [...c.slots].sort((a, b) => a - b);

test('a fight is where shots and hits are, with the enemies close by', () => {
    const s = game({ ...quiet, 4: [T, 0, 0, 1], 5: [CT, 300, 100, 2], 6: [CT, 2000, -2500] });
    const c = new Director().choose(s, [], 10);
    assert.equal(c.reason, 'shots');
    assert.deepEqual(sorted(c), [4, 5]);
    // Enemies close, nobody shooting yet: a fight about to happen.
    const closeBy = game({ ...quiet, 4: [T, 0, 0], 5: [CT, 600, 0] });
    assert.deepEqual([new Director().choose(closeBy, [], 0).reason, sorted(new Director().choose(closeBy, [], 0))], ['fight', [4, 5]]);
    // Nothing at all: every living player, and nothing for an empty map.
    assert.deepEqual(sorted(new Director().choose(game(quiet), [], 0)), [0, 1, 2, 3]);
    assert.equal(frameBox(new Director().choose(new GameState(), [], 0), new GameState().players), null);
});

test('a planted bomb with a counter-terrorist at it, a plant ahead, and the last alive', () => {
    const planted = game({ ...quiet, 4: [CT, 1000, 1000], 5: [T, 1000, 2500], 6: [T, -1000, 2500, 1] }, [chunk.bomb(2, 1100, 1050)]);
    const c = new Director().choose(planted, [], 0);
    assert.deepEqual([c.reason, sorted(c), c.spot], ['defuse', [4], { x: 1100, y: 1050 }]);
    // The carrier before the plant the stream will bring.
    const carrying = game({ ...quiet, 4: [T, 500, 500] }, [[4, 0x80, 0x01]]);
    const plant = new Director().choose(carrying, [{ time: 12, type: 'plant' }], 10);
    assert.deepEqual([plant.reason, sorted(plant)], ['plant', [4]]);
    // One terrorist against two: the three of them, wherever they are.
    const clutch = game({ 0: [T, -3000, -3000], 1: [T, 0, 0, 0, true], 2: [CT, 3000, 3000], 3: [CT, 2000, -3000] });
    const last = new Director().choose(clutch, [], 0);
    assert.deepEqual([last.reason, sorted(last)], ['last', [0, 2, 3]]);
});

test('a kill ahead is framed from before it happens until it has happened', () => {
    const s = game({ ...quiet, 4: [T, 0, 0, 1], 5: [CT, 300, 0, 2] });
    const director = new Director();
    assert.equal(director.choose(s, [], 10).reason, 'shots');
    // The quiet corner's kill, 2 s ahead: it takes over at once, the fight stays framed too
    // only if it has a kill of its own.
    const kill = { time: 12, type: 'kill', killer: 0, victim: 2 };
    const c = director.choose(s, [kill], 10);
    assert.deepEqual([c.reason, sorted(c)], ['kill', [0, 2]]);
    // Two kills ahead in two places: both stay in view.
    const both = director.choose(s, [kill, { time: 12.5, type: 'kill', killer: 4, victim: 5 }], 10.2);
    assert.deepEqual(sorted(both), [0, 2, 4, 5]);
    // Not framed too early, nor after it happened.
    assert.notEqual(new Director().choose(s, [{ ...kill, time: 10 + KILL_AHEAD + 1 }], 10).reason, 'kill');
    assert.notEqual(new Director().choose(s, [{ ...kill, time: 9 }], 10).reason, 'kill');
    // The frame holds both ends of the kill, however far apart.
    const box = frameBox(c, s.players);
    assert.ok(box.minX <= -3000 && box.maxX >= 3000 && box.minY <= -3000 && box.maxY >= 3000, JSON.stringify(box));
});

test('the camera stays on a place unless a clearly bigger one comes, and not before it held a while', () => {
    const fightA = { 4: [T, 0, 0, 1], 5: [CT, 300, 0] };  // one shot
    const fightB = { 6: [T, -2500, 2500, 1], 7: [CT, -2300, 2500, 1] };  // a little busier
    const director = new Director();
    assert.deepEqual(sorted(director.choose(game({ ...quiet, ...fightA }), [], 10)), [4, 5]);
    // A little busier elsewhere: it stays, now and later.
    assert.deepEqual(sorted(director.choose(game({ ...quiet, ...fightA, ...fightB }), [], 10.5)), [4, 5]);
    assert.deepEqual(sorted(director.choose(game({ ...quiet, ...fightA, ...fightB }), [], 10 + HOLD + 1)), [4, 5]);
    // Much busier elsewhere: only once the place was held a while.
    const busy = { 6: [T, -2500, 2500, 3], 7: [CT, -2300, 2500, 3], 8: [CT, -2400, 2400, 3] };
    const young = new Director();
    young.choose(game({ ...quiet, ...fightA }), [], 20);
    assert.deepEqual(sorted(young.choose(game({ ...quiet, ...fightA, ...busy }), [], 20.5)), [4, 5]);
    assert.deepEqual(sorted(young.choose(game({ ...quiet, ...fightA, ...busy }), [], 20 + HOLD + 0.5)), [6, 7, 8]);
    // Its place gone quiet, the camera stays a moment, then goes where the action is.
    const moved = new Director();
    moved.choose(game({ ...quiet, ...fightA }), [], 0);
    const calm = game({ ...quiet, 4: [T, 0, 0], 5: [CT, 2000, 0], ...fightB });
    assert.deepEqual(sorted(moved.choose(calm, [], 0.5)), [4, 5]);
    assert.deepEqual(sorted(moved.choose(calm, [], HOLD + 0.5)), [6, 7]);
    // After a kill the camera lingers on it, though nothing goes on there any more.
    const after = new Director();
    const s = game({ ...quiet, 4: [T, 0, 0, 1], 5: [CT, 300, 0, 2], ...fightB });
    assert.equal(after.choose(s, [{ time: 31, type: 'kill', killer: 4, victim: 5 }], 30).reason, 'kill');
    const dead = game({ ...quiet, 4: [T, 0, 0], 5: [CT, 300, 0, 0, true], ...fightB });
    assert.deepEqual([after.choose(dead, [], 31.5).reason, sorted(after.choose(dead, [], 31.6))], ['kill', [4, 5]]);
    assert.deepEqual(sorted(after.choose(dead, [], 30 + HOLD + 0.5)), [6, 7]);
});

test('the frame is never closer than a readable span, and the camera eases at any frame rate', () => {
    const s = game({ 4: [T, 100, 100, 1], 5: [CT, 150, 120] });
    const box = frameBox({ slots: [4, 5], spot: null }, s.players);
    assert.ok(box.maxX - box.minX >= 1400 && box.maxY - box.minY >= 1400 && box.minX < 100 && box.maxX > 150);
    const goal = { u: 100, v: 0, zoom: 4 };
    // One step of a second equals sixty steps of a sixtieth.
    let slow = { u: 0, v: 0, zoom: 1 };
    for (let i = 0; i < 60; i++) slow = ease(slow, goal, 1 / 60);
    const fast = ease({ u: 0, v: 0, zoom: 1 }, goal, 1);
    assert.ok(Math.abs(slow.u - fast.u) < 1e-6 && Math.abs(slow.zoom - fast.zoom) < 1e-6);
    assert.ok(fast.u > 50 && fast.u < 100 && fast.zoom > 2 && fast.zoom < 4);
    assert.deepEqual(ease(goal, goal, 0.3), goal);
});
