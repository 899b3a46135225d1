// Rounds and highlights, found while a stream is walked element by element (a demo's records
// when it is loaded, the live stream as it arrives), from what rules.js decided.
//
//   new RoundIndex()
//     .add(packets, fresh = false, decoded)  the next element (half a second; decoded: its
//                  packets' decodePacket results or state.js's compact element, when the caller
//                  has them, and packets may then be null); returns its record
//     .state                        the game after the elements added so far (its .events: the
//                                   last element's)
//     .rounds      [{ map, number, start, end, winner, how, clutch }]  start/end: record numbers
//                  (end null while the round runs); winner 1 (T), 2 (CT), 0 (draw), null; how:
//                  'elimination' | 'bomb' | 'defuse' | 'time' | 'draw' | ''; clutch: null or
//                  { slot, name, versus, record } for the winners' last player alive against more
//     .highlights  [{ record, kind: 'opening'|'multikill'|'clutch'|'defuse', round, text }]
//   roundAt(rounds, record) -> the round holding that record, or null
//   aliveCount(state, team)         (rules.js)
//
// A round's number is the score's sum plus one as the score stands at its start, so a stream
// joined mid-map numbers its rounds right; draws score nobody, so the draws seen since the map
// began are added. A round restarted before it ended (the game commencing) is no round: it
// leaves the list with its highlights.

import { GameState, KILLER_WORLD } from './state.js';
import { aliveCount, isAlive } from './rules.js';
import { decodePacket } from './stream.js';

export { aliveCount };
export const RECORDS_PER_SECOND = 2;
export const MULTI_KILL = 3;  // kills by one player in one round that make a highlight
export const LATE_DEFUSE_S = 5;  // a defuse with less left on the bomb's timer is a highlight
const TEAM_NAME = { 1: 'T', 2: 'CT' };

export function roundAt(rounds, record) {
    let found = null;
    for (const r of rounds) if (r.start <= record) found = r;
    return found;
}

export class RoundIndex {
    constructor() {
        this.state = new GameState();
        this.records = 0;
        this.rounds = [];
        this.highlights = [];
        this.current = null;  // the running round's working facts
        this.draws = 0;  // rounds drawn on this map
    }

    open(record) {
        const s = this.state;
        const round = { map: s.map?.name ?? '', number: s.score.t + s.score.ct + 1 + this.draws, start: record,
            end: null, winner: null, how: '', clutch: null };
        this.rounds.push(round);
        this.current = { round, kills: new Map(), opened: false, most: { 1: 0, 2: 0 }, alone: {} };
    }

    drop() {
        const round = this.rounds.pop();
        this.highlights = this.highlights.filter((h) => h.round !== round.number || h.record < round.start);
        this.current = null;
    }

    highlight(record, kind, text) {
        this.highlights.push({ record, kind, round: this.current.round.number, text });
    }

    add(packets, fresh = false, decoded = packets.map((bytes) => decodePacket(bytes))) {
        const record = this.records++;
        const time = record / RECORDS_PER_SECOND;
        const s = this.state;
        s.applyDecoded(decoded, time, fresh);
        for (const e of s.events) {
            if (e.type === 'map') {
                this.draws = 0;
                this.open(record);
            } else if (e.type === 'roundVoid') {
                if (this.current && this.current.round.end === null) this.drop();
            } else if (e.type === 'roundStart') {
                this.open(record);
            } else if (e.type === 'kill') {
                this.kill(record, e);
            } else if (e.type === 'roundEnd') {
                this.close(record, e, time);
            }
        }
        if (!this.current) this.open(record);  // a stream joined mid-round
        const r = this.current;
        if (!r.round.map && s.map?.name) r.round.map = s.map.name;  // a map's name comes after its start
        if (r.round.end === null) this.lastStanding(r, record);
        if (s.events.some((e) => e.type === 'plant')) r.plant = { record, tick: null };
        else if (r.plant && !r.plant.tick && s.clock?.kind === 'bomb') r.plant.tick = { ...s.clock };
        return record;
    }

    // The last one standing of a team that had more, against at least one.
    lastStanding(r, record) {
        const s = this.state;
        for (const team of [1, 2]) {
            const alive = aliveCount(s, team);
            r.most[team] = Math.max(r.most[team], alive);
            const other = aliveCount(s, team === 1 ? 2 : 1);
            if (alive === 1 && other >= 1 && r.most[team] >= 2 && !r.alone[team]) {
                const p = s.players.find((q) => q.team === team && s.present(q.slot) && isAlive(q));
                r.alone[team] = { slot: p.slot, name: p.name, versus: other, record };
            }
        }
    }

    kill(record, k) {
        const r = this.current;
        if (!r || r.round.end !== null || k.killer === KILLER_WORLD || k.killer === k.victim) return;
        if (k.killerTeam === k.victimTeam) return;  // a team kill opens nothing and counts for nothing
        if (!r.opened) {
            r.opened = true;
            this.highlight(record, 'opening', `Opening kill: ${k.killerName} on ${k.victimName} (${k.weapon})`);
        }
        const mine = r.kills.get(k.killer) ?? { name: k.killerName, records: [] };
        mine.records.push(record);
        r.kills.set(k.killer, mine);
    }

    close(record, { winner, how }, time) {
        const r = this.current;
        if (!r || r.round.end !== null) return;
        r.round.end = record;
        r.round.winner = winner;
        r.round.how = how;
        if (winner === 0) this.draws++;
        for (const [, k] of r.kills) {
            if (k.records.length >= MULTI_KILL) this.highlight(k.records[0], 'multikill', `${k.name}: ${k.records.length} kills`);
        }
        const alone = r.alone[winner];
        if (alone) {
            r.round.clutch = alone;
            this.highlight(alone.record, 'clutch', `${alone.name} won a 1v${alone.versus} clutch`);
        }
        if (how === 'defuse' && r.plant?.tick) {
            // After a plant the clock counts the bomb's timer down.
            const left = r.plant.tick.seconds - (time - r.plant.tick.time);
            if (left < LATE_DEFUSE_S) this.highlight(record, 'defuse', `Defused with ${Math.max(0, Math.ceil(left))} s left`);
        }
        this.highlights.sort((a, b) => a.record - b.record);
    }
}

export function roundText(round) {
    if (round.winner === null) return `Round ${round.number}`;
    if (round.winner === 0) return `Round ${round.number}: draw`;
    return `Round ${round.number}: ${TEAM_NAME[round.winner]} (${round.how})`;
}
