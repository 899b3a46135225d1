// Rounds and highlights, found while a stream is walked element by element (a demo's records
// when it is loaded, the live stream as it arrives).
//
//   new RoundIndex()
//     .add(packets, fresh = false, decoded)  the next element (half a second; decoded: its
//                  packets' decodePacket results, when the caller has them); returns its record
//     .state                        the game after the elements added so far
//     .rounds      [{ map, number, start, end, winner, how }]  start/end: record numbers (end
//                  null while the round runs); winner 1 (T), 2 (CT), 0 (draw), null; how:
//                  'elimination' | 'bomb' | 'defuse' | 'time' | 'draw' | ''
//     .highlights  [{ record, kind: 'opening'|'multikill'|'clutch'|'defuse', round, text }]
//   roundAt(rounds, record) -> the round holding that record, or null
//
// The stream has no round-start chunk: a round starts with the map, or at the first rise of the
// round clock after a round end (the freeze time's clock). Its number is the score's sum plus
// one, as the score stands then, so a stream joined mid-map numbers its rounds right; draws
// score nobody, so the draws seen since the map began are added.

import { BOMB_PLANTED, GameState, KILLER_WORLD, STATE_ALIVE } from './state.js';
import { decodePacket } from './stream.js';

export const RECORDS_PER_SECOND = 2;
export const MULTI_KILL = 3;  // kills by one player in one round that make a highlight
export const LATE_DEFUSE_S = 5;  // a defuse with less left on the bomb's timer is a highlight
const WINNER = { 0: 2, 1: 1, 4: 0 };  // round-end radio code -> winning team (0: draw)
const TEAM_NAME = { 1: 'T', 2: 'CT' };

export function aliveCount(state, team) {
    let n = 0;
    for (const p of state.players) {
        if (p.team === team && state.present(p.slot) && (p.state & STATE_ALIVE) && p.health > 0) n++;
    }
    return n;
}

export function roundAt(rounds, record) {
    let found = null;
    for (const r of rounds) if (r.start <= record) found = r;
    return found;
}

// How a round was won, from the state as it ended.
function howWon(winner, state) {
    if (winner === 0) return 'draw';
    const planted = state.bomb?.state === BOMB_PLANTED;
    const loser = winner === 1 ? 2 : 1;
    if (planted && winner === 2) return 'defuse';
    if (aliveCount(state, loser) === 0) return 'elimination';
    if (planted && winner === 1) return 'bomb';
    return 'time';
}

export class RoundIndex {
    constructor() {
        this.state = new GameState();
        this.records = 0;
        this.rounds = [];
        this.highlights = [];
        this.current = null;  // the running round's working facts
        this.ended = true;    // the last round ended: the next clock rise starts one
        this.lastTick = null;  // { seconds, time } of the newest clock chunk
        this.plantTick = null;  // the first clock chunk since the bomb was planted
        this.draws = 0;  // rounds drawn on this map
    }

    open(record) {
        const s = this.state;
        const round = { map: s.map?.name ?? '', number: s.score.t + s.score.ct + 1 + this.draws, start: record,
            end: null, winner: null, how: '' };
        this.rounds.push(round);
        this.current = { round, kills: new Map(), opened: false, most: { 1: 0, 2: 0 }, alone: {} };
        this.ended = false;
        this.plantTick = null;
    }

    highlight(record, kind, text) {
        this.highlights.push({ record, kind, round: this.current.round.number, text });
    }

    add(packets, fresh = false, decoded = packets.map((bytes) => decodePacket(bytes))) {
        const record = this.records++;
        const time = record / RECORDS_PER_SECOND;
        const s = this.state;
        const opens = fresh || decoded.some((d) => d.chunks.some((c) => c.type === 'map' && c.name === ''));
        const plantedBefore = s.bomb?.state === BOMB_PLANTED;
        // Deaths use the names and teams known before the element, as a viewer playing it sees.
        const deaths = [];
        let winner = null, rise = false, tick = null;
        for (const d of decoded) {
            for (const c of d.chunks) {
                if (c.type === 'death') deaths.push({ killer: c.killer, victim: c.victim, weapon: c.weapon,
                    killerTeam: c.killer === KILLER_WORLD ? 0 : s.teamOf(c.killer), victimTeam: s.teamOf(c.victim),
                    killerName: c.killer === KILLER_WORLD ? 'world' : s.nameOf(c.killer), victimName: s.nameOf(c.victim) });
                else if (c.type === 'radio' && c.code in WINNER) winner = WINNER[c.code];
                else if (c.type === 'clock') {
                    if (this.lastTick && (c.seconds > this.lastTick.seconds || this.lastTick.seconds < 0)) rise = true;
                    this.lastTick = tick = { seconds: c.seconds, time };
                }
            }
        }
        if (opens && this.current) this.current = null;
        s.applyDecoded(decoded, time, fresh);
        if (opens) {
            this.lastTick = null;
            this.draws = 0;
            this.open(record);
        } else if (this.ended && rise) {
            this.open(record);
        } else if (!this.current) {
            this.open(record);  // a stream joined mid-round
        }
        const r = this.current;
        if (!r.round.map && s.map?.name) r.round.map = s.map.name;  // a map's name comes after its start
        // The plant restarts the clock on the bomb's timer: ticks from the next element on count it.
        const planted = s.bomb?.state === BOMB_PLANTED;
        if (planted && !plantedBefore) this.plantTick = null;
        else if (planted && tick && !this.plantTick) this.plantTick = tick;

        for (const k of deaths) this.kill(record, k);
        for (const team of [1, 2]) {
            const alive = aliveCount(s, team);
            r.most[team] = Math.max(r.most[team], alive);
            const other = aliveCount(s, team === 1 ? 2 : 1);
            // The last one standing of a team that had more, against at least one.
            if (alive === 1 && other >= 1 && r.most[team] >= 2 && !r.alone[team] && !r.round.end) {
                const p = s.players.find((q) => q.team === team && s.present(q.slot) && (q.state & STATE_ALIVE) && q.health > 0);
                r.alone[team] = { name: p.name, versus: other, record };
            }
        }
        if (winner !== null && r.round.end === null) this.close(record, winner, plantedBefore, time);
        return record;
    }

    kill(record, k) {
        const r = this.current;
        if (r.round.end !== null || k.killer === KILLER_WORLD || k.killer === k.victim) return;
        if (k.killerTeam === k.victimTeam) return;  // a team kill opens nothing and counts for nothing
        if (!r.opened) {
            r.opened = true;
            this.highlight(record, 'opening', `Opening kill: ${k.killerName} on ${k.victimName} (${k.weapon})`);
        }
        const mine = r.kills.get(k.killer) ?? { name: k.killerName, records: [] };
        mine.records.push(record);
        r.kills.set(k.killer, mine);
    }

    close(record, winner, plantedBefore, time) {
        const r = this.current;
        const s = this.state;
        r.round.end = record;
        r.round.winner = winner;
        if (winner === 0) this.draws++;
        r.round.how = plantedBefore && winner === 2 ? 'defuse' : howWon(winner, s);
        this.ended = true;
        for (const [, k] of r.kills) {
            if (k.records.length >= MULTI_KILL) this.highlight(k.records[0], 'multikill', `${k.name}: ${k.records.length} kills`);
        }
        const alone = r.alone[winner];
        if (alone) this.highlight(alone.record, 'clutch', `${alone.name} won a 1v${alone.versus} clutch`);
        if (r.round.how === 'defuse' && this.plantTick) {
            // After a plant the clock counts the bomb's timer down.
            const left = this.plantTick.seconds - (time - this.plantTick.time);
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
