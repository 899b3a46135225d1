// The player as the render loop reads it: the state after one more record, how far into it play
// is, and what is about to happen.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { DemoPlayer } from '../../dist/addons/kovitv/viewer/player.js';
import { chunk as c, elements, lineup, respawnAll, T_WIN } from './match.mjs';

const script = [lineup('de_a'), 2, respawnAll(), [c.clock(104)], [c.moves(0, 100, 200)], 1, [c.moves(0, 150, 250)],
    [c.death(0, 2), c.killed(2)], 3, [c.death(1, 3), c.killed(3)], 1, [c.death(0, 4), c.killed(4), c.radio(T_WIN)], 2];
const view = (s) => s.players.slice(0, 5).map((p) => [p.x, p.y, p.health, p.state]);

test('next is the state one record on, whether asked for or not, and null at the end', () => {
    const p = new DemoPlayer(elements(script));
    const plain = new DemoPlayer(elements(script));
    for (let record = 1; record < p.length; record++) {
        p.seek(record);
        const next = p.next;
        plain.seek(record + 1);
        assert.deepEqual(view(next), view(plain.state), `record ${record}`);
        assert.deepEqual(next.events, plain.state.events);
        p.step();  // steps onto what .next worked out
        assert.deepEqual(view(p.state), view(plain.state));
        assert.notEqual(p.next, next);
    }
    p.seek(p.length);
    assert.equal(p.next, null);
    // Live, the newest record has nothing after it yet; one more arrives and there is.
    const live = new DemoPlayer(elements(script).slice(0, 6), { live: true });
    live.seek(live.length);
    assert.equal(live.next, null);
    live.append(elements(script)[6]);
    assert.deepEqual([live.next.players[0].x, live.next.players[0].y], [100, 200]);
});

test('fraction: how far into the next record play is; 0 after a seek, kept while paused', () => {
    const p = new DemoPlayer(elements(script));
    p.seek(3);
    p.playing = true;
    assert.equal(p.fraction, 0);
    p.advance(0.2);  // 0.4 of a record at 1x
    assert.ok(Math.abs(p.fraction - 0.4) < 1e-9);
    assert.equal(p.position, 3);
    p.speed = 4;
    p.advance(0.2);  // 1.6 more: one record on, 0 .. 1
    assert.equal(p.position, 5);
    assert.ok(Math.abs(p.fraction - 0.0) < 1e-9);
    p.speed = 0.25;
    p.advance(0.5);
    p.playing = false;
    const paused = p.fraction;
    p.advance(1);
    assert.deepEqual([p.fraction, p.position], [paused, 5]);
    p.seek(7);
    assert.equal(p.fraction, 0);
    p.seek(p.length);
    p.playing = true;
    p.advance(0.3);
    assert.equal(p.fraction, 0);  // at the end there is nothing to be part way into
});

test('ahead: the kills of the next seconds with their records, none beyond', () => {
    const p = new DemoPlayer(elements(script));
    const kills = [];
    p.events.forEach((events, record) => { for (const e of events) if (e.type === 'kill') kills.push(record); });
    assert.equal(kills.length, 3);
    p.seek(kills[0] - 2);
    assert.deepEqual(p.ahead(1).filter((e) => e.type === 'kill').map((e) => e.record), []);
    assert.deepEqual(p.ahead(1.5).filter((e) => e.type === 'kill').map((e) => [e.record, e.killerName, e.victimName]),
        [[kills[0], 'Tom', 'Cat']]);
    assert.deepEqual(p.ahead(60).filter((e) => e.type === 'kill').map((e) => e.record), kills);
    assert.ok(p.ahead(60).some((e) => e.type === 'roundEnd' && e.winner === 1));
    p.seek(p.length);
    assert.deepEqual(p.ahead(10), []);
});

test('a map\'s first moment worth showing has its name and players', () => {
    const p = new DemoPlayer(elements([[c.map('')], [c.map('de_a'), c.player(0, { team: 1, name: 'Tom' })], 3]));
    assert.equal(p.start, 2);
    p.seek(p.start);
    assert.deepEqual([p.state.map.name, p.state.players[0].name], ['de_a', 'Tom']);
});

test('records are decoded once: playing and seeking never read the bytes again', () => {
    const records = elements(script);
    const p = new DemoPlayer(records);
    const before = [];
    for (let record = 0; record <= p.length; record++) { p.seek(record); before.push(view(p.state)); }
    for (const packets of records) for (const bytes of packets) bytes.fill(0xFF);  // chunks no reader knows
    const after = [];
    for (let record = 0; record <= p.length; record++) { p.seek(record); after.push(view(p.state)); }
    assert.deepEqual(after, before);
    p.seek(1);
    p.playing = true;
    p.advance(100);
    assert.deepEqual(view(p.state), before.at(-1));
});
