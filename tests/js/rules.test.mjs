// The game's rules from scripted streams shaped as the real game sends its events (a defuse
// announced, then the bomb taken off the radar, then the round's end; the dead at health 1; the
// drop told twice), and as older plugins recorded them.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { DemoPlayer } from '../../dist/addons/kovitv/viewer/player.js';
import { RoundIndex } from '../../dist/addons/kovitv/viewer/rounds.js';
import { aliveCount, chatText, isAlive, shownClock } from '../../dist/addons/kovitv/viewer/rules.js';
import { bombText, clockText } from '../../dist/addons/kovitv/viewer/panels.js';
import { chunk as c, elements, lineup, respawnAll, ticks, BOMB_PLANTED_RADIO, CARRIED, CT_WIN, DEFUSED, DRAW,
    DROPPED, PLANTED, T_WIN } from './match.mjs';

// Every element through one index; per record the texts a spectator reads and the events.
function play(script) {
    const index = new RoundIndex();
    const seen = [];
    for (const e of elements(script)) {
        const record = index.add(e);
        const s = index.state;
        const time = record / 2;
        seen.push({ record, clock: clockText(s, time), bomb: bombText(s), events: s.events.map((x) => x.type),
            alive: [aliveCount(s, 1), aliveCount(s, 2)],
            damage: s.events.filter((x) => x.type === 'damage').map((x) => [x.slot, x.amount]) });
    }
    return { index, seen, events: (type) => seen.filter((x) => x.events.includes(type)).map((x) => x.record) };
}
const rounds = (index) => index.rounds.map((r) => [r.map, r.number, r.winner, r.how]);

// A map's first round: all spawn, a freeze of 3 s, then the round's 105 s.
const opening = (map) => [lineup(map), 2, respawnAll(), [c.clock(2)], [c.clock(1)], [c.clock(0)], 1, [c.clock(104)]];
const plant = [c.bomb(PLANTED, 40, 50), c.radio(BOMB_PLANTED_RADIO)];

test('a defuse as the real game sends it: announced, the bomb taken off the radar, then the CT win', () => {
    const script = [...opening('de_a'), ...ticks(103, 3), plant, ...ticks(34, 4),
        [c.radio(DEFUSED), c.bomb(CARRIED)], [c.clock(29)], 2, [c.score(0, 1), c.radio(CT_WIN)], [c.clock(27)], 2,
        respawnAll(), [c.clock(2)], [c.clock(1)], [c.clock(0)], [c.clock(104)]];
    const { index, seen, events } = play(script);
    assert.deepEqual(rounds(index), [['de_a', 1, 2, 'defuse'], ['de_a', 2, null, '']]);
    assert.deepEqual(events('plant').length, 1);
    assert.deepEqual(events('defuse').length, 1);
    const defusedAt = events('defuse')[0];
    // The game took the bomb off the radar; where it was planted is kept for the map to show.
    const p = new DemoPlayer(elements(script));
    p.seek(defusedAt + 1);
    assert.deepEqual([p.state.bomb.state, p.state.round.plantedAt], [CARRIED, { x: 40, y: 50 }]);
    // From the defuse on: the bomb's state and no clock number, though ticks go on.
    for (const x of seen.slice(defusedAt, index.rounds[1].start)) {
        assert.deepEqual([x.bomb, x.clock], ['C4 defused', 'round over'], `record ${x.record}`);
    }
    // The next round starts clean: no bomb story, the freeze time with the round's length.
    assert.deepEqual([seen[index.rounds[1].start].bomb, seen[index.rounds[1].start].clock], ['', '1:45 freeze time']);
    assert.equal(index.rounds[1].start, events('roundStart')[1]);
});

test('a defuse without the announcement (older plugins) is still one CT win by defuse, and a T win after a plant is the bomb', () => {
    // The real game without code 3: the bomb leaves the radar, later the CT win.
    const real = play([...opening('de_a'), plant, ...ticks(34, 2), [c.bomb(CARRIED)], 2, [c.radio(CT_WIN)]]);
    assert.deepEqual(rounds(real.index), [['de_a', 1, 2, 'defuse']]);
    // simhost's old model: the bomb stays planted until the CT win.
    const old = play([...opening('de_a'), plant, ...ticks(34, 2), [c.radio(CT_WIN)]]);
    assert.deepEqual(rounds(old.index), [['de_a', 1, 2, 'defuse']]);
    assert.equal(old.seen.at(-1).bomb, 'C4 defused');
    const exploded = play([...opening('de_a'), plant, ...ticks(34, 2), [c.radio(T_WIN)]]);
    assert.deepEqual(rounds(exploded.index), [['de_a', 1, 1, 'bomb']]);
    assert.equal(exploded.seen.at(-1).bomb, 'C4 exploded');
    // The last counter-terrorist dying after the plant ends the round as an elimination.
    const killed = play([...opening('de_a'), plant, [c.death(0, 2), c.killed(2)], [c.death(0, 3), c.killed(3)],
        [c.death(0, 4), c.killed(4), c.radio(T_WIN)]]);
    assert.deepEqual(rounds(killed.index), [['de_a', 1, 1, 'elimination']]);
});

test('a draw scores nobody and the next round is numbered after it', () => {
    const { index } = play([...opening('de_a'), ...ticks(103, 2), [c.radio(DRAW)], 2, respawnAll(), [c.clock(2)],
        [c.clock(104)], [c.death(0, 2), c.killed(2)], [c.score(1, 0), c.radio(T_WIN)]]);
    assert.deepEqual(rounds(index), [['de_a', 1, 0, 'draw'], ['de_a', 2, 1, 'time']]);
});

test('freeze time: the round\'s time with "freeze time", then the round\'s clock; none before the length is known', () => {
    const { seen, index } = play([...opening('de_a'), ...ticks(103, 2), [c.radio(T_WIN)], 1, respawnAll(),
        [c.clock(2)], [c.clock(1)], [c.clock(0)], [c.clock(-1)], [c.clock(104)], [c.clock(103)]]);
    const first = index.rounds[0].start, second = index.rounds[1].start;
    assert.deepEqual(seen.slice(first, first + 5).map((x) => x.clock),
        ['freeze time', 'freeze time', 'freeze time', 'freeze time', 'freeze time']);
    assert.equal(seen[first + 5].clock, '1:44');
    assert.deepEqual(seen.slice(second, second + 5).map((x) => x.clock), Array(5).fill('1:45 freeze time'));
    assert.deepEqual(seen.slice(-2).map((x) => x.clock), ['1:44', '1:43']);
    // A map's start says nothing of a round being over, nor of nobody alive.
    assert.deepEqual([seen[0].clock, seen[1].clock], ['', '']);
});

test('the bomb\'s clock never shows the round\'s time: a round tick in the plant\'s half second is the round\'s', () => {
    // The capture writes the bomb before the half second's ticks: the 86 here came before the plant.
    const { seen, index } = play([...opening('de_a'), ...ticks(103, 16), [c.clock(87)], [...plant, c.clock(86)], 1,
        [c.clock(34)], 1, [c.clock(33)], 1, ...ticks(32, 30), [c.radio(DEFUSED), c.bomb(CARRIED)], [c.radio(CT_WIN)]]);
    const at = seen.findIndex((x) => x.events.includes('plant'));
    assert.deepEqual(seen.slice(at, at + 5).map((x) => x.clock), ['', '', 'C4 0:34', 'C4 0:34', 'C4 0:33']);
    assert.ok(seen.every((x) => !/^C4 1:/.test(x.clock)));
    // The late defuse is timed on the bomb's clock (2 s left), not on the round's 54.
    assert.deepEqual(index.highlights.filter((h) => h.kind === 'defuse').map((h) => h.text), ['Defused with 2 s left']);
});

test('the dead at health 1 are dead: counts, the round\'s cause and damage', () => {
    const { index, seen } = play([...opening('de_a'), [c.health(2, 60)], [c.death(0, 2), c.killed(2)],
        [c.observer(2)], [c.death(1, 3), c.killed(3), c.death(0, 4), c.killed(4), c.observer(2)],
        [c.observer(3), c.observer(4), c.radio(T_WIN)]]);
    assert.deepEqual(seen.at(-1).alive, [2, 0]);
    assert.deepEqual(rounds(index), [['de_a', 1, 1, 'elimination']]);
    const s = index.state;
    assert.deepEqual([s.players[2].health, isAlive(s.players[2])], [1, false]);
    // 40 then 60 for the one hurt first; the observer's health of 1 is no heal and no hurt.
    assert.deepEqual(seen.flatMap((x) => x.damage), [[2, 40], [2, 60], [3, 100], [4, 100]]);
});

test('the bomb dropped is told twice: it moves to where it lies, one drop', () => {
    const { index, events } = play([...opening('de_a'), [c.bomb(DROPPED, 10, 20)], 1, [c.bomb(DROPPED, 90, 80)], 2,
        [c.bomb(CARRIED)], [c.bomb(DROPPED, 5, 5)]]);
    assert.equal(events('drop').length, 2);  // the second one after a pick-up
    assert.deepEqual(index.state.bomb, { x: 5, y: 5, state: DROPPED });
    const once = play([...opening('de_a'), [c.bomb(DROPPED, 10, 20)], 1, [c.bomb(DROPPED, 90, 80)]]);
    assert.equal(once.events('drop').length, 1);
    assert.deepEqual(once.index.state.bomb, { x: 90, y: 80, state: DROPPED });
});

test('a restart before any round ends (the game commencing) is no round; a map change leaves its round open', () => {
    const { index } = play([lineup('de_a'), [c.clock(290)], [c.death(0, 2), c.killed(2)], 1, respawnAll(),
        [c.clock(-1)], [c.clock(89)], [c.death(2, 0), c.killed(0)], [c.death(3, 1), c.killed(1)],
        [c.score(0, 1), c.radio(CT_WIN)], 2, respawnAll(), [c.clock(89)], [c.death(2, 0), c.killed(0)],
        lineup('de_b'), 2, respawnAll(), [c.clock(89)]]);
    assert.deepEqual(index.rounds.map((r) => [r.map, r.number, r.winner, r.how, r.end === null]),
        [['de_a', 1, 2, 'elimination', false], ['de_a', 2, null, '', true], ['de_b', 1, null, '', true]]);
    // The kill before the restart made no highlight.
    assert.deepEqual(index.highlights.map((h) => [h.round, h.text]),
        [[1, 'Opening kill: Cat on Tom (ak47)'], [2, 'Opening kill: Cat on Tom (ak47)']]);
    assert.equal(index.state.round.phase, 'live');
});

test('chat keeps the game\'s text without its line ends', () => {
    assert.equal(chatText('gg\n'), 'gg');
    assert.equal(chatText('two\nlines\r\n'), 'two lines');
    const { index } = play([lineup('de_a'), [c.chat(0, 'hello from bot 1\n')]]);
    assert.equal(index.state.chat.at(-1).text, 'hello from bot 1');
});

test('a joiner shows the bomb\'s clock only from the bomb\'s own ticks', () => {
    const index = new RoundIndex();
    const joined = elements([[c.map('de_a'), c.player(0, { team: 1, name: 'Tom' }), c.player(2, { team: 2, name: 'Cat' }),
        c.score(0, 0), c.bomb(PLANTED, 1, 1)], [c.clock(20)], [c.radio(CT_WIN)]]);
    joined.forEach((e, i) => index.add(e, i === 0));
    assert.deepEqual(index.rounds.map((r) => [r.winner, r.how]), [[2, 'defuse']]);
    const s = new RoundIndex();
    joined.slice(0, 2).forEach((e, i) => s.add(e, i === 0));
    assert.deepEqual(shownClock(s.state, 0.5), { kind: 'bomb', seconds: 20 });
});
