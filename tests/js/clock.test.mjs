// One clock: a spectator who watched the bomb being planted and one who joined afterwards (from a
// full state, as the live stream's start element gives it) show the same clock at every moment
// both have a tick of; neither ever shows the round's time as the bomb's or the other way round.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { GameState, shownClock } from '../../dist/addons/kovitv/viewer/state.js';
import { chunk as c, elements, PLANTED, CT_WIN } from './match.mjs';
import { packet } from './vectors.mjs';

const players = [c.player(0, { team: 1, name: 'Tom' }), c.player(2, { team: 2, name: 'Cat' })];
// Round clock ticks 70..66, the plant between two ticks, then the bomb's 35..20, a defuse.
const later = elements([[c.clock(35)], 1, [c.clock(34)], 1, [c.clock(33)], 1, ...Array.from({ length: 13 },
    (_, i) => [[c.clock(32 - i)], 1]).flat(), [c.radio(CT_WIN)], 1]);
const before = elements([[c.map(''), c.map('de_a'), ...players, c.clock(70)], 1, [c.clock(69)], 1,
    [c.clock(68)], [c.bomb(PLANTED, 10, 10), c.radio(2)]]);

test('the watcher and the joiner show the same clock, from the joiner\'s first tick on', () => {
    const watcher = new GameState();
    let time = 0;
    const seen = [];
    for (const e of before) {
        watcher.applyElement(e, time);
        seen.push(shownClock(watcher, time));
        time += 0.5;
    }
    assert.deepEqual(seen.slice(0, 5).map((s) => [s.kind, s.seconds]),
        [['round', 70], ['round', 70], ['round', 69], ['round', 69], ['round', 68]]);
    // Planted half a second after the round clock's tick: no number until the bomb's first.
    assert.deepEqual(seen[5], { kind: 'bomb', seconds: null });

    const joiner = new GameState();
    // The full state a viewer joining now is sent: map, players, score and the planted bomb.
    joiner.applyElement([packet(c.map('de_a'), ...players, c.score(0, 0), c.bomb(PLANTED, 10, 10))], time, true);
    assert.deepEqual(shownClock(joiner, time), { kind: 'bomb', seconds: null });
    let agreed = 0;
    for (const e of later) {
        watcher.applyElement(e, time);
        joiner.applyElement(e, time);
        for (const dt of [0, 0.25]) {
            const a = shownClock(watcher, time + dt), b = shownClock(joiner, time + dt);
            assert.deepEqual(a, b, `at ${time + dt}`);
            if (a.seconds !== null) agreed++;
        }
        time += 0.5;
    }
    assert.ok(agreed > 20);
    assert.deepEqual(shownClock(watcher, time), { kind: 'over', seconds: null });
});

test('between ticks the clock counts down on its own, never below zero', () => {
    const s = new GameState();
    s.applyElement([packet(c.clock(2))], 10);
    assert.deepEqual([10, 10.4, 11, 11.5, 13, 30].map((t) => shownClock(s, t).seconds), [2, 2, 1, 1, 0, 0]);
    // The clock running out says nothing of the round: only its end (an announcement) does.
    s.applyElement([packet(c.clock(-1))], 12);
    assert.deepEqual(shownClock(s, 12), { kind: 'round', seconds: null });
    s.applyElement([packet(c.radio(CT_WIN))], 12.5);
    assert.equal(shownClock(s, 12.5).kind, 'over');
});
