// Drawing between snapshots: eased runs and turns, held jumps, and the exact snapshot at rest.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { isJump, JUMP_UNITS, lerpYaw, Motion } from '../../dist/addons/kovitv/viewer/interp.js';
import { GameState, GRENADE_EXPLODED, GRENADE_FLASH } from '../../dist/addons/kovitv/viewer/state.js';
import { chunk } from './match.mjs';
import { packet } from './vectors.mjs';

// Two snapshots of one map: `before` for every player, then `after` applied on a copy.
function snapshots(before, after) {
    const a = new GameState();
    a.applyElement([packet(chunk.map(''), chunk.map('de_kovi'), ...before)], 0);
    const b = a.clone();
    b.applyElement([packet(...after)], 0.5);
    return [a, b];
}
const P = (slot, o = {}) => chunk.player(slot, { team: 1 + (slot % 2), name: `p${slot}`, ...o });
const close = (actual, expected) => assert.ok(Math.abs(actual - expected) < 1e-9, `${actual} != ${expected}`);

test('a run and a turn are eased by the fraction; the fraction clamps and 0 is the snapshot', () => {
    const [a, b] = snapshots([P(0, { x: 100, y: -40, yaw: 10 })], [P(0, { x: 200, y: 60, yaw: 50 })]);
    const m = new Motion();
    for (const [t, x, y, yaw] of [[0, 100, -40, 10], [0.25, 125, -15, 20], [0.5, 150, 10, 30], [1, 200, 60, 50], [1.7, 200, 60, 50], [-1, 100, -40, 10]]) {
        const p = m.at(a, b, t)[0];
        close(p.x, x); close(p.y, y); close(p.yaw, yaw);
    }
    // Nothing ahead (the live edge, the demo's end): the state as it is, whatever the fraction.
    assert.deepEqual({ ...m.at(a, null, 0.6)[0] }, { x: 100, y: -40, yaw: 10 });
    // The same objects every frame: nothing is allocated.
    assert.equal(m.at(a, b, 0.3), m.players);
});

test('a turn takes the short way round, across 0 and 180 alike', () => {
    close(lerpYaw(350, 10, 0.5), 0);
    close(lerpYaw(10, 350, 0.25), 5);
    close(lerpYaw(170, -170, 0.5), 180);  // the stream sends -180..180
    close(lerpYaw(0, 720 + 20, 0.5), 10);  // whole turns add nothing
    close(lerpYaw(0, 90, 1), 90);
    close(lerpYaw(-30, -30, 0.7), 330);
});

test('respawns, teleports, deaths, team and slot changes are drawn as jumps, runs are not', () => {
    const alive = { state: 0x04, health: 100, team: 1, name: 'a', x: 0, y: 0 };
    // The fastest run (250 units/s, a little more with a boost) is no jump; twice a run is.
    assert.equal(isJump(alive, { ...alive, x: 150 }), false);
    assert.equal(isJump(alive, { ...alive, x: JUMP_UNITS * 0.7, y: JUMP_UNITS * 0.7 }), false);
    assert.equal(isJump(alive, { ...alive, x: JUMP_UNITS + 1 }), true);
    assert.equal(isJump(alive, { ...alive, state: 0x24, x: 10 }), true, 'spawned, even near where they were');
    assert.equal(isJump(alive, { ...alive, state: 0x08, health: 0, x: 10 }), true, 'died');
    assert.equal(isJump(alive, { ...alive, health: 0 }), true, 'health 0 is dead whatever the bits');
    assert.equal(isJump(alive, { ...alive, state: 0x08, health: 1 }), true, 'the game keeps the dead at health 1');
    assert.equal(isJump({ ...alive, state: 0x08, health: 0 }, alive), true, 'came back');
    assert.equal(isJump(alive, { ...alive, team: 2 }), true);
    assert.equal(isJump(alive, { ...alive, name: 'b' }), true, 'the slot changed hands');

    // Held until the later snapshot: a respawn across the map never slides through it.
    const [a, b] = snapshots([P(0, { x: -2000, y: 0, yaw: 90 }), P(1, { x: 0, y: 0 }), P(2, { x: 500, y: 500 })],
        [P(0, { x: 1800, y: 40, yaw: 270 }), chunk.dies(1), [2, 0x05, 0x02, 0x08, 0x02, 0x0A, 0, 0, 0x24]])  // spawned at 520,522);
    const m = new Motion();
    for (const t of [0.1, 0.5, 0.99]) {
        const [p0, p1, p2] = m.at(a, b, t);
        assert.deepEqual([p0.x, p0.y, p0.yaw], [-2000, 0, 90], `teleport at ${t}`);
        assert.deepEqual([p1.x, p1.y], [0, 0], `death at ${t}`);
        assert.deepEqual([p2.x, p2.y], [500, 500], `respawn at ${t}`);
    }
});

test('players not in both snapshots are held; the dead stay where they fell', () => {
    const [a, b] = snapshots([P(0, { x: 0, y: 0, alive: false, health: 0 })],
        [P(0, { x: 80, y: 0, alive: false, health: 0 }), P(3, { x: 40, y: 40 })]);
    const m = new Motion();
    assert.equal(m.at(a, b, 0.5)[0].x, 0);
    assert.equal(m.at(a, b, 0.5)[3].x, a.players[3].x, 'joined only in the later snapshot');
});

test('a grenade in flight is eased; its blast, another kind or a reused id are held', () => {
    const G = chunk.grenade;
    const [a, b] = snapshots([G(1, 0, 0), G(2, 500, 500), G(3, -100, 0), G(4, 50, 50, GRENADE_EXPLODED)],
        [G(1, 200, -100), G(2, 600, 500, GRENADE_EXPLODED), G(3, -100, 300, 1, GRENADE_FLASH), G(4, 900, 900), G(5, 10, 10)]);
    const m = new Motion();
    const at = (id) => ({ ...m.grenadeAt(a.grenades.get(id)) });
    m.at(a, b, 0.25);
    assert.deepEqual(at(1), { x: 50, y: -25 }, 'in flight in both');
    assert.deepEqual(at(2), { x: 500, y: 500 }, 'no slide into its blast');
    assert.deepEqual(at(3), { x: -100, y: 0 }, 'another kind under the id: another grenade');
    assert.deepEqual(at(4), { x: 50, y: 50 }, 'the next throw under a blown-up one\'s id');
    assert.equal(m.grenadeAt(b.grenades.get(5)).x, 10, 'a grenade the state has not yet is where it is');
    // At rest, and with nothing ahead, the grenade is exactly where the state has it.
    m.at(a, b, 0);
    assert.deepEqual(at(1), { x: 0, y: 0 });
    m.at(a, null, 0.6);
    assert.deepEqual(at(1), { x: 0, y: 0 });
    m.at(a, b, 1);
    assert.deepEqual(at(1), { x: 200, y: -100 });
    assert.equal(m.grenadeAt(a.grenades.get(1)), m.grenadeAt(a.grenades.get(2)), 'one object, refilled: nothing allocated');
});
