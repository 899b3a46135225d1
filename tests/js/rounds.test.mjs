// Rounds and highlights from a scripted stream: a map change, a round with no kill, a clutch, a
// late defuse and one with time to spare, team kills and the world's kills.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { RoundIndex, roundAt, roundText } from '../../dist/addons/kovitv/viewer/rounds.js';
import { chunk as c, elements, lineup, respawn, ticks, CT_WIN, T_WIN, PLANTED } from './match.mjs';

const nextRound = (t, ct, seconds = 3) => [[c.score(t, ct)], 4, [...respawn(), c.clock(seconds)], 2, [c.clock(105)]];

const script = [
    lineup('de_a'), [c.clock(3)], 2, [c.clock(105)], ...ticks(104, 3),
    // 1: Tom takes all three counter-terrorists (one of them headed by the world first).
    [c.death(0, 2), c.dies(2)], 1, [c.death(0, 3), c.dies(3)], [c.death(0, 4), c.dies(4), c.radio(T_WIN)],
    // 2: nobody dies, the clock runs out.
    ...nextRound(1, 0), ...ticks(104, 4), [c.clock(-1), c.radio(CT_WIN)],
    // 3: Ted's team mate falls first (after a team kill that opens nothing), then Ted is alone against the two left.
    ...nextRound(1, 1), [c.death(3, 2, 'm4a1'), c.dies(2)], [c.death(3, 0), c.dies(0)], 2,
    [c.death(1, 3), c.dies(3)], [c.death(255, 4, 'world'), c.dies(4), c.radio(T_WIN)],
    // 4: planted, defused with 3 s on the bomb's timer (no kill).
    ...nextRound(2, 1), ...ticks(100, 2), [c.bomb(PLANTED, 5, 5), c.radio(2)], ...ticks(35, 32),
    [c.radio(CT_WIN)],
    // 5: begun, never ended: the map changes.
    ...nextRound(2, 2), [c.death(2, 0), c.dies(0)], 3,
    lineup('de_b'), [c.clock(3)], 2, [c.clock(105)], [c.bomb(PLANTED), c.radio(2)], ...ticks(35, 10),
    [c.radio(CT_WIN)],
];

test('rounds: number, winner and how, across a map change and a round left open', () => {
    const index = new RoundIndex();
    for (const e of elements(script)) index.add(e);
    const seen = index.rounds.map((r) => [r.map, r.number, r.winner, r.how, r.end === null]);
    assert.deepEqual(seen, [
        ['de_a', 1, 1, 'elimination', false], ['de_a', 2, 2, 'time', false], ['de_a', 3, 1, 'elimination', false],
        ['de_a', 4, 2, 'defuse', false], ['de_a', 5, null, '', true], ['de_b', 1, 2, 'defuse', false]]);
    // Each round starts at the freeze time's clock (or the map), and ends where the radio says.
    for (const [i, r] of index.rounds.entries()) {
        assert.ok(r.end === null || r.end > r.start, `round ${i}`);
        if (i > 0) assert.ok(r.start > (index.rounds[i - 1].end ?? index.rounds[i - 1].start), `round ${i}`);
        assert.equal(roundAt(index.rounds, r.start), r);
    }
    assert.equal(roundAt(index.rounds, index.rounds[1].start - 1), index.rounds[0]);
    assert.equal(roundText(index.rounds[3]), 'Round 4: CT (defuse)');
    assert.equal(roundText(index.rounds[4]), 'Round 5');
});

test('highlights: opening kills, a multi-kill, a clutch and only the late defuse', () => {
    const index = new RoundIndex();
    for (const e of elements(script)) index.add(e);
    const seen = index.highlights.map((h) => [h.round, h.kind, h.text]);
    assert.deepEqual(seen, [
        [1, 'opening', 'Opening kill: Tom on Cat (ak47)'], [1, 'multikill', 'Tom: 3 kills'],
        [3, 'opening', 'Opening kill: Cid on Tom (ak47)'],
        [3, 'clutch', 'Ted won a 1v2 clutch'],
        [4, 'defuse', 'Defused with 3 s left'],
        [5, 'opening', 'Opening kill: Cat on Tom (ak47)']]);
    // Highlights lie inside their rounds.
    for (const h of index.highlights) {
        const round = index.rounds.find((r) => r.number === h.round && h.record >= r.start);
        assert.ok(h.record <= (round.end ?? Infinity), h.text);
    }
});

test('a drawn round counts: the next one is numbered after it, on that map only', () => {
    const index = new RoundIndex();
    const drawn = [lineup('de_c'), [c.clock(3)], 2, [c.clock(105)], ...ticks(104, 3), [c.radio(4)],
        ...nextRound(0, 0), ...ticks(104, 3), [c.death(0, 2), c.dies(2), c.radio(T_WIN)], ...nextRound(1, 0),
        lineup('de_d'), [c.clock(3)], 2, [c.clock(105)]];
    for (const e of elements(drawn)) index.add(e);
    assert.deepEqual(index.rounds.map((r) => [r.map, r.number, r.winner]),
        [['de_c', 1, 0], ['de_c', 2, 1], ['de_c', 3, null], ['de_d', 1, null]]);
});

test('a stream joined mid-map numbers its rounds from the score', () => {
    const index = new RoundIndex();
    // A live viewer's first element: the full state, score 2 : 1, mid-round.
    const joined = elements([[c.score(2, 1), c.player(0, { team: 1, name: 'Tom' }), c.player(2, { team: 2, name: 'Cat' })],
        ...ticks(50, 2), [c.death(0, 2), c.dies(2), c.radio(T_WIN)], ...nextRound(3, 1)]);
    joined.forEach((e, i) => index.add(e, i === 0));
    assert.deepEqual(index.rounds.map((r) => [r.number, r.winner, r.how]), [[4, 1, 'elimination'], [5, null, '']]);
    // One against one from the start is no clutch.
    assert.deepEqual(index.highlights.map((h) => h.kind), ['opening']);
});
