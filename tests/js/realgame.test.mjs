// The real server's two demos (tests/fixtures/realgame) replayed as a spectator would, against
// the server's own logs of the same maps: the rounds with winner and how, the kills of each
// round, the one clock and the highlights. Both recordings lack their map's last round end (it
// happened in the half second before the map ended, which that plugin threw away): the log's
// last round is the one left open in the demo.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { parseDemo } from '../../dist/addons/kovitv/viewer/demo.js';
import { DemoPlayer } from '../../dist/addons/kovitv/viewer/player.js';
import { clockText } from '../../dist/addons/kovitv/viewer/panels.js';

const here = new URL('../fixtures/realgame/', import.meta.url);
const MAPS = [['2300_regamedll_test_map_v8.kdem', 'L1209002.log'], ['2304_regamedll_test_map_v8.kdem', 'L1209003.log']];
const ENDS = { Terrorists_Win: [1, 'elimination'], Target_Bombed: [1, 'bomb'], CTs_Win: [2, 'elimination'],
    Target_Saved: [2, 'time'], Bomb_Defused: [2, 'defuse'], Round_Draw: [0, 'draw'] };
const TEAM = { TERRORIST: 1, CT: 2 };

// The log's rounds: from a Round_Start to a team's round end; a start before another start (the
// game commencing) or the log's end leaves its round unfinished.
function logRounds(text) {
    const rounds = [];
    const teams = new Map();
    let round = null;
    for (const line of text.split('\n')) {
        const joined = line.match(/"(.+?)<\d+><[^>]*><[^>]*>" joined team "(\w+)"/);
        if (joined) teams.set(joined[1], TEAM[joined[2]]);
        if (line.includes('World triggered "Round_Start"')) round = { kills: [], winner: null, how: '' };
        if (!round) continue;
        const kill = line.match(/"(.+?)<\d+><[^>]*><(\w+)>" killed "(.+?)<\d+><[^>]*><(\w+)>" with "(.+?)"/);
        const suicide = line.match(/"(.+?)<\d+><[^>]*><(\w+)>" committed suicide with "(.+?)"( \(world\))?/);
        if (kill) round.kills.push({ killer: kill[1], victim: kill[3], weapon: kill[5], team: kill[2] === kill[4] });
        else if (suicide) round.kills.push({ killer: suicide[4] ? 'world' : suicide[1], victim: suicide[1], weapon: suicide[3], team: false });
        const end = line.match(/Team "\w+" triggered "(\w+)"/);
        if (end && ENDS[end[1]]) {
            [round.winner, round.how] = ENDS[end[1]];
            rounds.push(round);
            round = null;
        }
    }
    return { rounds, open: round, teams };
}

// What the log says the highlights are: each round's first kill of an enemy, three or more
// kills by one player, and the winners' last player alive against at least one.
function logHighlights(rounds, teams) {
    const out = [];
    for (const r of rounds) {
        const enemy = r.kills.filter((k) => k.killer !== 'world' && k.killer !== k.victim && !k.team);
        if (enemy[0]) out.push(`Opening kill: ${enemy[0].killer} on ${enemy[0].victim} (${enemy[0].weapon})`);
        if (r.winner === null) continue;
        const by = new Map();
        for (const k of enemy) by.set(k.killer, (by.get(k.killer) ?? 0) + 1);
        for (const [name, n] of by) if (n >= 3) out.push(`${name}: ${n} kills`);
        const alive = { 1: new Set(), 2: new Set() };
        for (const [name, team] of teams) alive[team].add(name);
        const most = { 1: alive[1].size, 2: alive[2].size };
        let alone = null;
        for (const k of r.kills) {
            alive[teams.get(k.victim)].delete(k.victim);
            const w = alive[r.winner];
            if (!alone && w.size === 1 && most[r.winner] >= 2 && alive[3 - r.winner].size >= 1) {
                alone = `${[...w][0]} won a 1v${alive[3 - r.winner].size} clutch`;
            }
        }
        if (alone) out.push(alone);
    }
    return out;
}

function replay(demo) {
    const { records, fault } = parseDemo(fs.readFileSync(new URL(`demos/${demo}`, here)));
    assert.equal(fault, null);
    return new DemoPlayer(records);
}

for (const [demo, log] of MAPS) {
    test(`${demo}: the log's rounds, winner and how, each with its kills`, () => {
        const p = replay(demo);
        const { rounds, teams } = logRounds(fs.readFileSync(new URL(`logs/${log}`, here), 'utf8'));
        const ended = p.rounds.filter((r) => r.end !== null);
        assert.deepEqual(ended.map((r) => [r.winner, r.how]), rounds.slice(0, -1).map((r) => [r.winner, r.how]));
        // The lost round end: the demo's last round is open, the log's last one.
        assert.equal(p.rounds.length, rounds.length);
        assert.equal(p.rounds.at(-1).end, null);
        p.rounds.forEach((r, i) => {
            const kills = [];
            for (let record = r.start; record <= (r.end ?? p.length - 1); record++) {
                for (const e of p.events[record]) if (e.type === 'kill') kills.push([e.killerName, e.victimName, e.weapon]);
            }
            assert.deepEqual(kills, rounds[i].kills.map((k) => [k.killer, k.victim, k.weapon]), `round ${r.number}`);
            assert.equal(r.number, i + 1);
        });
        const highlights = p.highlights.map((h) => h.text);
        assert.deepEqual(highlights.sort(), logHighlights(rounds.slice(0, -1), teams)
            .concat(logHighlights([{ ...rounds.at(-1), winner: null }], teams)).sort());
        // Player slots carry the log's teams.
        for (const player of p.index.state.players.filter((q) => q.name)) assert.equal(player.team, teams.get(player.name), player.name);
    });

    test(`${demo}: one clock: freeze time, the round's count, "round over" only between rounds`, () => {
        const p = replay(demo);
        const texts = [];
        for (let record = p.start; record <= p.length; record++) {
            p.seek(record);
            texts.push({ record, text: clockText(p.state, p.time), round: p.rounds.find((r) => r.start < record && (r.end ?? Infinity) >= record - 1) });
        }
        assert.ok(texts.every((t) => !t.text.startsWith('C4')), 'no bomb was planted');
        for (const t of texts) {
            if (t.text === 'round over') assert.ok(p.rounds.some((r) => r.end !== null && r.end < t.record), `record ${t.record}`);
        }
        // Each round after the map's first opens in freeze time with the round's length (90 s here).
        for (const r of p.rounds.slice(1)) assert.equal(texts.find((t) => t.record === r.start + 1).text, '1:30 freeze time');
        // While a round runs its clock counts down a second at a time.
        let last = null;
        for (const t of texts) {
            const m = t.text.match(/^(\d+):(\d\d)$/);
            if (!m) { last = null; continue; }
            const s = Number(m[1]) * 60 + Number(m[2]);
            if (last !== null) assert.ok(s === last || s === last - 1, `record ${t.record}: ${last} then ${s}`);
            last = s;
        }
        // The round won on time ran its clock out.
        const timed = p.rounds.find((r) => r.how === 'time');
        if (timed) assert.equal(texts.find((t) => t.record === timed.end).text, '0:00');
    });
}
