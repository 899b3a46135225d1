// Applying chunks: deltas, the map reset, events and copies.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { GameState } from '../../dist/addons/kovitv/viewer/state.js';
import { vectors as v, packet } from './vectors.mjs';

const named = (slot, name, team) => [slot, 0x30, team, name.length, ...Buffer.from(name)];

test('a delta overwrites only the groups it carries', () => {
    const s = new GameState();
    s.applyElement([packet(v.kPlayerFull)], 0);
    s.applyElement([packet(v.kPlayerDelta, [3, 0x02, 0])], 0.5);
    const p = s.players[3];
    assert.deepEqual([p.x, p.y, p.yaw, p.kills, p.deaths, p.health], [-1, 0x1234, -45, 5, 3, 0]);
    assert.deepEqual([p.name, p.team, p.weapon, p.icons, p.known], ['Bob', 2, 28, 0x08, 0xFF]);
    assert.equal(s.present(3), true);
    assert.equal(s.present(4), false);
});

test('an unnamed map chunk starts a fresh state, keeping the players of its own snapshot', () => {
    const s = new GameState();
    s.applyElement([packet(v.kPlayerFull, v.kMap, v.kScore, v.kBomb, v.kDeath)], 0);
    assert.equal(s.map.name, 'de_kovi');
    // The next map's first snapshot: its players come before the map chunk, in a later packet.
    s.applyElement([packet(named(6, 'Ann', 1)), packet(v.kMapEmpty)], 1);
    assert.equal(s.players[3].name, '');
    assert.equal(s.present(3), false);
    assert.deepEqual([s.players[6].name, s.players[6].team], ['Ann', 1]);
    assert.deepEqual([s.map.name, s.score, s.bomb, s.feed], ['', { t: 0, ct: 0 }, null, []]);
    // A named map chunk changes the map and keeps everything else.
    s.applyElement([packet(v.kMap)], 1.5);
    assert.equal(s.players[6].name, 'Ann');
    // The stream's fresh-state flag does the same without any map chunk.
    s.applyElement([packet(v.kHeartbeat)], 2, true);
    assert.equal(s.players[6].name, '');
});

test('events use the names known when they arrive', () => {
    const s = new GameState();
    s.applyElement([packet(named(4, 'Cid', 2), named(7, 'Dee', 1), v.kDeath, v.kChat,
        v.kRadioBombPlanted, v.kRoundTime, [33, 7, 4, 0, 3, 0x61, 0x77, 0x70])], 3);
    assert.deepEqual(s.feed.map((k) => [k.killer, k.killerTeam, k.victim, k.victimTeam, k.weapon, k.headshot]),
        [['', 0, 'Cid', 2, 'knife', true], ['Dee', 1, 'Cid', 2, 'awp', false]]);
    assert.deepEqual(s.chat.map((c) => [c.name ?? null, c.text]), [['Dee', 'gg'], [null, 'Bomb planted']]);
    assert.deepEqual(s.clock, { seconds: 115, time: 3, kind: 'round' });
});

test('grenades stay until shortly after they explode; copies are independent', () => {
    const s = new GameState();
    s.applyElement([packet(v.kGrenade)], 0);
    s.applyElement([packet([39, 31, 0, 1, 0, 2, 5, 2])], 1);
    const copy = s.clone();
    assert.deepEqual(copy.grenades.get(31), { id: 31, x: 1, y: 2, kind: 2, event: 5, time: 1, trail: [[100, -100]] });
    s.applyElement([packet(v.kHeartbeat)], 3.5);
    assert.equal(s.grenades.size, 0);
    assert.equal(copy.grenades.size, 1);
    copy.applyElement([packet(v.kPlayerFull)], 1.5);
    assert.equal(s.players[3].name, '');
    assert.equal(typeof copy.present, 'function');
});

test('a compact element applies as the decoded packets it was made of', async () => {
    const { compactElement } = await import('../../dist/addons/kovitv/viewer/state.js');
    const { decodePacket } = await import('../../dist/addons/kovitv/viewer/stream.js');
    const { parseDemo } = await import('../../dist/addons/kovitv/viewer/demo.js');
    const fs = await import('node:fs');
    const { records } = parseDemo(fs.readFileSync(new URL('../fixtures/realgame/demos/2300_regamedll_test_map_v8.kdem', import.meta.url)));
    const plain = new GameState(), compact = new GameState();
    records.forEach((packets, i) => {
        const decoded = packets.map((bytes) => decodePacket(bytes));
        const faults = plain.applyDecoded(decoded, i / 2);
        assert.deepEqual(compact.applyDecoded(compactElement(decoded), i / 2), faults);
        assert.deepEqual(compact.players, plain.players, `record ${i}`);
        assert.deepEqual([compact.events, compact.chat, compact.round, compact.clock, compact.bomb],
            [plain.events, plain.chat, plain.round, plain.clock, plain.bomb], `record ${i}`);
    });
    // A damaged packet's faults are kept with it.
    const cut = [decodePacket(new Uint8Array([0, 0, 36, 1]))];
    assert.deepEqual(new GameState().applyDecoded(compactElement(cut), 0), new GameState().applyDecoded(cut, 0));
});
