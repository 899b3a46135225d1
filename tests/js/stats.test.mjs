// Match stats from a scripted map whose numbers are worked out by hand: an elimination with a
// double kill, a 1v1 clutch, a real-game defuse with a world death and a team kill, and a round
// left open by the map's end.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { DemoPlayer } from '../../dist/addons/kovitv/viewer/player.js';
import { matchStats } from '../../dist/addons/kovitv/viewer/stats.js';
import { chunk as c, elements, lineup, respawnAll, BOMB_PLANTED_RADIO, CARRIED, CT_WIN, DEFUSED, PLANTED,
    T_WIN } from './match.mjs';

const start = [respawnAll(), [c.clock(2)], [c.clock(104)]];
const HS = 1;
// Tom 0, Ted 1 (T) against Cat 2, Cid 3, Cyd 4 (CT).
const script = [lineup('de_a'), 2,
    // 1: Tom hurt (30), Cat hurt (60) then killed; Tom takes Cid too; Ted heads Cyd. T win.
    ...start, [c.health(0, 70), c.health(2, 40)], [c.death(0, 2, 'ak47', HS), c.killed(2)], 1,
    [c.death(0, 3), c.killed(3)], [c.death(1, 4, 'usp', HS), c.killed(4), c.observer(2)],
    [c.score(1, 0), c.radio(T_WIN)], 2,
    // 2: Cat opens on Tom, Ted takes Cat and Cid, Cyd alone heads Ted. CT win.
    ...start, [c.death(2, 0), c.killed(0)], [c.death(1, 2), c.killed(2)], [c.death(1, 3), c.killed(3)],
    [c.death(4, 1, 'm4a1', HS), c.killed(1), c.score(1, 1), c.radio(CT_WIN)], 2,
    // 3: planted; Cat opens on Tom, Ted falls, Cid shoots Cat (team kill); defused, then the CT win.
    ...start, [c.bomb(PLANTED, 5, 5), c.radio(BOMB_PLANTED_RADIO)], [c.death(2, 0), c.killed(0)],
    [c.death(255, 1, 'worldspawn'), c.killed(1)], [c.death(3, 2, 'm4a1'), c.killed(2)],
    [c.radio(DEFUSED), c.bomb(CARRIED)], [c.score(1, 2), c.radio(CT_WIN)], 2,
    // 4: open when the map ends: Tom opens on Cat.
    ...start, [c.death(0, 2), c.killed(2)], 2];

const row = (p) => [p.name, p.team, p.kills.n, p.deaths.n, p.kd, p.headshotShare, p.openingKills.n, p.openingDeaths.n,
    [2, 3, 4, 5].map((n) => p.multi[n].n).join(''), p.clutches.n, p.damage.n, p.survived.n, p.rounds.n];

test('the map: every number per player and team', () => {
    const p = new DemoPlayer(elements(script));
    assert.deepEqual(p.rounds.map((r) => [r.number, r.winner, r.how]), [[1, 1, 'elimination'], [2, 2, 'elimination'],
        [3, 2, 'defuse'], [4, null, '']]);
    const s = matchStats(p.rounds, p.events);
    assert.deepEqual(s.players.map(row), [
        //       K  D  K-D HS%   OK OD multi cl dmg sv rounds
        ['Ted', 1, 3, 2, 1, 1 / 3, 0, 0, '1000', 0, 200, 1, 3],
        ['Tom', 1, 3, 2, 1, 1 / 3, 2, 2, '1000', 0, 230, 1, 3],
        ['Cat', 2, 2, 4, -2, 0, 2, 2, '0000', 0, 400, 0, 3],
        ['Cyd', 2, 1, 1, 0, 1, 0, 0, '0000', 1, 100, 2, 3],
        ['Cid', 2, 0, 2, -2, null, 0, 0, '0000', 0, 200, 1, 3]]);
    assert.deepEqual([s.teams[1].won.n, s.teams[1].how.elimination.n, s.teams[2].won.n, s.teams[2].how.elimination.n,
        s.teams[2].how.defuse.n, s.draws.n], [1, 1, 2, 1, 1, 0]);
    assert.deepEqual(s.strip.map((r) => [r.number, r.winner, r.how]), p.rounds.map((r) => [r.number, r.winner, r.how]));
    // The moments behind a number are the records of its kills, and lie in their rounds.
    const tom = s.players[1];
    assert.equal(tom.kills.records.length, 3);
    for (const record of tom.kills.records) assert.ok(p.events[record].some((e) => e.type === 'kill' && e.killerName === 'Tom'));
    assert.deepEqual(s.players[3].clutches.records, [p.rounds[1].end]);
});

test('a span of rounds counts only its rounds', () => {
    const p = new DemoPlayer(elements(script));
    const s = matchStats(p.rounds, p.events, { from: 1, to: 2 });
    assert.deepEqual(s.players.map(row), [
        ['Ted', 1, 2, 2, 0, 0, 0, 0, '1000', 0, 200, 0, 2],
        ['Tom', 1, 0, 2, -2, null, 0, 2, '0000', 0, 200, 0, 2],
        ['Cat', 2, 2, 2, 0, 0, 2, 0, '0000', 0, 200, 0, 2],
        ['Cyd', 2, 1, 0, 1, 1, 0, 0, '0000', 1, 0, 2, 2],
        ['Cid', 2, 0, 1, -1, null, 0, 0, '0000', 0, 100, 1, 2]]);
    assert.deepEqual(s.strip.map((r) => r.number), [2, 3]);
    assert.deepEqual([s.teams[1].won.n, s.teams[2].won.n], [0, 2]);
});
