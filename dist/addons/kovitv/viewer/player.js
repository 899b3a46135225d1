// Replaying a stream of records (a demo's, or the live stream's as it arrives): two records per
// second times the speed, with seeking, skips and the rounds and highlights found on the way.
// Each record is decoded once, when it is appended; playing and seeking apply what was decoded.
//
//   new DemoPlayer(records = [], { live = false })
//     .append(packets, fresh = false)   one more record (live: as the follower hands it over)
//     .appendDecoded(decoded, fresh = false)   the same, already decoded (decodePacket's
//                          results or a compact element)
//     .seek(record)        the state after records 0..record-1 (a copy, replayed from the
//                          nearest checkpoint before it)
//     .skip(seconds)       seeks that much game time from where it is, within the records
//     .advance(seconds)    plays on by that much wall time; true when something was applied
//     .state, .position (records applied), .time (game seconds), .playing, .speed, .length
//     .start      the first position worth showing: the map has its name (its players came
//                 with it), never 0
//     .next       the state after one more record; null at the end (or the live edge)
//     .fraction   how far into the record after .position play is, 0..1 (0 after a seek, and
//                 when paused on a record's boundary)
//     .ahead(seconds) -> [{ record, type, ... }] the events (state.js) of the records within the
//                 next seconds of game time, kills among them
//     .events[record]   each record's events, .compact[record] its packets decoded (state.js's
//                 compactElement)
//     .markers [{ record, kind: 'round'|'start'|'kill'|'map', text }], .rounds, .highlights (rounds.js)
//
// A checkpoint is a copy of the state kept every CHECKPOINT_EVERY records, so a seek replays at
// most that many records instead of the whole stream.

import { compactElement, GameState } from './state.js';
import { RECORDS_PER_SECOND, RoundIndex } from './rounds.js';
import { decodePacket } from './stream.js';

export { RECORDS_PER_SECOND };
export const CHECKPOINT_EVERY = 60;
const NO_EVENTS = Object.freeze([]);

export class DemoPlayer {
    constructor(records = [], options = {}) {
        this.live = options.live ?? false;
        this.compact = [];
        this.fresh = [];
        this.events = [];
        this.index = new RoundIndex();
        this.markers = [];
        this.checkpoints = [];
        this.playing = false;
        this.speed = 1;
        this.carry = 0;  // records' worth of wall time not yet applied
        this.nextState = null;  // { position, state } once asked for
        this.named = null;  // the first position whose state has the map's name
        for (const r of records) this.append(r);
        this.seek(0);
    }

    get length() { return this.compact.length; }
    get time() { return this.position / RECORDS_PER_SECOND; }
    get rounds() { return this.index.rounds; }
    get highlights() { return this.index.highlights; }
    get start() { return this.named ?? 1; }
    get fraction() { return this.position < this.length ? Math.min(Math.max(this.carry, 0), 1) : 0; }

    get next() {
        if (this.position >= this.length) return null;
        if (this.nextState?.position !== this.position) {
            const state = this.state.clone();
            state.applyDecoded(this.compact[this.position], this.position / RECORDS_PER_SECOND, this.fresh[this.position]);
            this.nextState = { position: this.position, state };
        }
        return this.nextState.state;
    }

    append(packets, fresh = false) {
        this.appendDecoded(packets.map((bytes) => decodePacket(bytes)), fresh);
    }

    // The packets' bytes are not kept: replaying uses what was decoded.
    appendDecoded(decoded, fresh = false) {
        const record = this.compact.length;
        const index = this.index;
        if (record % CHECKPOINT_EVERY === 0) this.checkpoints.push(index.state.clone());
        const rounds = index.rounds.length;
        const compact = decoded.packed ? decoded : compactElement(decoded);
        this.compact.push(compact);
        this.fresh.push(fresh);
        index.add(null, fresh, compact);
        const events = index.state.events;
        this.events.push(events.length ? events : NO_EVENTS);
        if (this.named === null && index.state.map?.name) this.named = record + 1;
        for (const e of events) {
            if (e.type === 'map') this.markers.push({ record, kind: 'map', text: 'map start' });
            else if (e.type === 'kill') this.markers.push({ record, kind: 'kill', text: `${e.killerName} killed ${e.victimName}` });
            else if (e.type === 'roundEnd') this.markers.push({ record, kind: 'round', text: 'round end' });
        }
        if (index.rounds.length > rounds && rounds > 0 && !events.some((e) => e.type === 'map')) {
            this.markers.push({ record, kind: 'start', text: 'round start' });
        }
    }

    seek(record) {
        const target = Math.max(0, Math.min(this.length, Math.floor(record)));
        const from = Math.min(Math.floor(target / CHECKPOINT_EVERY), this.checkpoints.length - 1);
        this.state = from >= 0 ? this.checkpoints[from].clone() : new GameState();
        this.position = Math.max(from, 0) * CHECKPOINT_EVERY;
        this.nextState = null;
        while (this.position < target) this.step();
        this.carry = 0;
    }

    skip(seconds) {
        this.seek(Math.max(this.position + seconds * RECORDS_PER_SECOND, 1));
    }

    step() {
        if (this.nextState?.position === this.position) {
            this.state = this.nextState.state;  // already worked out for .next
        } else {
            this.state.applyDecoded(this.compact[this.position], this.time, this.fresh[this.position]);
        }
        this.nextState = null;
        this.position++;
    }

    ahead(seconds) {
        const out = [];
        const end = Math.min(this.length, this.position + Math.ceil(seconds * RECORDS_PER_SECOND));
        for (let record = this.position; record < end; record++) {
            for (const e of this.events[record]) out.push({ record, ...e });
        }
        return out;
    }

    advance(seconds) {
        if (!this.playing) return false;
        this.carry += seconds * this.speed * RECORDS_PER_SECOND;
        let applied = false;
        while (this.carry >= 1 && this.position < this.length) {
            this.step();
            this.carry -= 1;
            applied = true;
        }
        // A demo stops at its end; live, the newest record is where play waits for the next.
        if (this.position >= this.length) {
            if (!this.live) this.playing = false;
            this.carry = 0;
        }
        return applied;
    }
}
