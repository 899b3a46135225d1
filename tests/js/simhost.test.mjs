// A simhost match that plays by the real game's rules (tests/fixtures/simhost): each map's demo,
// replayed as a spectator would, holds the trace's rounds (winner, cause, when they end), kills,
// plants and drops; the map change cuts a round, which stays open.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { parseDemo } from '../../dist/addons/kovitv/viewer/demo.js';
import { DemoPlayer } from '../../dist/addons/kovitv/viewer/player.js';

const here = new URL('../fixtures/simhost/', import.meta.url);
// The trace names a round's cause as the game's log does.
const CAUSE = { Terrorists_Win: 'elimination', CTs_Win: 'elimination', Target_Bombed: 'bomb', Bomb_Defused: 'defuse',
    Target_Saved: 'time', Round_Draw: 'draw' };
const WINNER = { TERRORIST: 1, CT: 2 };

// The trace, map by map: its rounds (each with its kills by name, from its start to its end or
// the map's end), plants and drops.
function traceMaps() {
    const maps = [];
    const names = new Map();
    for (const line of fs.readFileSync(new URL('trace.jsonl', here), 'utf8').split('\n').filter(Boolean)) {
        const e = JSON.parse(line);
        if (e.event === 'map') maps.push({ map: e.map, rounds: [], plants: 0, drops: 0 });
        const m = maps.at(-1);
        const round = m.rounds.at(-1);
        if (e.event === 'join') names.set(e.player, e.name);
        else if (e.event === 'name') names.set(e.player, e.new);
        else if (e.event === 'round_start') m.rounds.push({ winner: null, how: '', kills: [] });
        else if (e.event === 'round_end') Object.assign(round, { winner: e.winner === 'DRAW' ? 0 : WINNER[e.winner], how: CAUSE[e.reason] });
        else if (e.event === 'kill' && round?.winner === null) {
            round.kills.push([e.killer === 0 ? 'world' : names.get(e.killer), names.get(e.victim)]);
        } else if (e.event === 'bomb' && e.action === 'plant') m.plants++;
        else if (e.event === 'bomb' && e.action === 'drop') m.drops++;
    }
    return maps;
}

for (const [i, file] of ['de_kovi.kdem', 'de_kovi_two.kdem'].entries()) {
    test(`${file}: the trace's rounds, kills, plants and drops`, () => {
        const { records, fault } = parseDemo(fs.readFileSync(new URL(file, here)));
        assert.equal(fault, null);
        const p = new DemoPlayer(records);
        const m = traceMaps()[i];
        assert.equal(p.index.state.map.name, m.map);
        // Slots run a little longer than half a second when the game runs 20 times faster than
        // real time: the records are held to the trace's order, not its clock.
        assert.deepEqual(p.rounds.map((r) => [r.winner, r.how]), m.rounds.map((r) => [r.winner, r.how]));
        assert.equal(p.rounds.at(-1).end, null, 'the round the map change cut is open');
        const plants = [], drops = [];
        p.rounds.forEach((r, k) => {
            const kills = [];
            for (let record = r.start; record <= (r.end ?? p.length - 1); record++) {
                for (const e of p.events[record]) if (e.type === 'kill') kills.push([e.killerName, e.victimName]);
            }
            assert.deepEqual(kills, m.rounds[k].kills, `round ${r.number}`);
        });
        p.events.forEach((events, record) => {
            for (const e of events) {
                if (e.type === 'plant') plants.push(record);
                if (e.type === 'drop') drops.push(record);
            }
        });
        // Each plant once, each drop once though the game tells it twice.
        assert.deepEqual([plants.length, drops.length], [m.plants, m.drops]);
    });
}
