// What simhost's --trace says the scoreboard went through: every state of names, teams and team
// scores the match passed, per map, with the game time it began at. The viewer's scoreboard,
// read at any moment, must be one of them.
import { readFileSync } from 'node:fs';

const TEAM = { TERRORIST: 't', CT: 'ct' };

// One state as a comparable key: map, the sorted names of each team, the two scores.
export function stateKey(map, t, ct, scoreT, scoreCT) {
    return JSON.stringify([map, [...t].sort(), [...ct].sort(), scoreT, scoreCT]);
}

export function readTrace(path) {
    const lines = readFileSync(path, 'utf8').split('\n').filter((l) => l.trim() !== '');
    const events = [];
    for (const line of lines) {
        try { events.push(JSON.parse(line)); } catch { /* a line being written */ }
    }
    return events;
}

// [{ map, segment, time, key }] in trace order; segment counts the maps played (0 first).
export function traceStates(events) {
    const states = [];
    let map = '', segment = -1, players = new Map(), score = [0, 0];
    const push = (time) => {
        const t = [], ct = [];
        for (const p of players.values()) {
            if (p.team === 't') t.push(p.name);
            else if (p.team === 'ct') ct.push(p.name);
        }
        states.push({ map, segment, time, key: stateKey(map, t, ct, score[0], score[1]) });
    };
    for (const e of events) {
        switch (e.event) {
            case 'map':
                map = e.map; segment++; players = new Map(); score = [0, 0];
                break;
            case 'join': players.set(e.player, { name: e.name, team: '' }); break;
            case 'name': if (players.has(e.player)) players.get(e.player).name = e.new; break;
            case 'team': if (players.has(e.player)) players.get(e.player).team = TEAM[e.team] ?? ''; break;
            case 'leave': players.delete(e.player); break;
            case 'round_end': score = [e.score_t, e.score_ct]; break;
            default: continue;
        }
        push(e.t);
    }
    return states;
}

// The states of one map segment that held at some moment in [from, to] of its game time.
export function statesBetween(states, segment, from, to) {
    const own = states.filter((s) => s.segment === segment);
    return own.filter((s, i) => s.time <= to && (i + 1 >= own.length || own[i + 1].time >= from));
}
