// Replaying a stream of records (a demo's, or the live stream's as it arrives): two records per
// second times the speed, with seeking, skips and the rounds and highlights found on the way.
//
//   new DemoPlayer(records = [], { live = false })
//     .append(packets, fresh = false)   one more record (live: as the follower hands it over)
//     .seek(record)        the state after records 0..record-1 (a copy, replayed from the
//                          nearest checkpoint before it)
//     .skip(seconds)       seeks that much game time from where it is, within the records
//     .advance(seconds)    plays on by that much wall time; true when something was applied
//     .state, .position (records applied), .time (game seconds), .playing, .speed, .length
//     .next                the state after one more record (null at the end), for drawing between
//     .fraction            0..1: how far play is from .state towards .next
//     .ahead(seconds) -> [{ time, type: 'death'|'bomb', ...the chunk }]   what the next seconds
//                          of the stream bring (the stream is delayed: the viewer knows them)
//     .markers [{ record, kind: 'round'|'start'|'kill'|'map', text }], .rounds, .highlights (rounds.js)
//
// A checkpoint is a copy of the state kept every CHECKPOINT_EVERY records, so a seek replays at
// most that many records instead of the whole stream.

import { GameState, KILLER_WORLD } from './state.js';
import { RECORDS_PER_SECOND, RoundIndex } from './rounds.js';
import { decodePacket } from './stream.js';

export { RECORDS_PER_SECOND };
export const CHECKPOINT_EVERY = 60;
const ROUND_END = new Set([0, 1, 4]);  // radio codes that close a round

export class DemoPlayer {
    constructor(records = [], options = {}) {
        this.live = options.live ?? false;
        this.records = [];
        this.fresh = [];
        this.index = new RoundIndex();
        this.markers = [];
        this.checkpoints = [];
        this.playing = false;
        this.speed = 1;
        this.carry = 0;  // wall seconds not yet turned into records
        this.events = [];  // per record, its kills and bomb changes
        this.following = null;  // { of: state, position, state } the cached .next
        for (const r of records) this.append(r);
        this.seek(0);
    }

    get length() { return this.records.length; }
    get time() { return this.position / RECORDS_PER_SECOND; }
    get rounds() { return this.index.rounds; }
    get highlights() { return this.index.highlights; }

    append(packets, fresh = false) {
        const record = this.records.length;
        const index = this.index;
        if (record % CHECKPOINT_EVERY === 0) this.checkpoints.push(index.state.clone());
        const resets = index.state.resets;
        // Names in the markers are those known before the record, as a viewer playing it sees.
        const s = index.state;
        const rounds = index.rounds.length;
        const decoded = packets.map((bytes) => decodePacket(bytes));
        this.events.push(decoded.flatMap((d) => d.chunks).filter((c) => c.type === 'death' || c.type === 'bomb')
            .map((c) => ({ ...c, time: (record + 1) / RECORDS_PER_SECOND })));  // when its state shows
        for (const c of decoded.flatMap((d) => d.chunks)) {
            if (c.type === 'death') {
                const killer = c.killer === KILLER_WORLD ? 'world' : s.nameOf(c.killer);
                this.markers.push({ record, kind: 'kill', text: `${killer} killed ${s.nameOf(c.victim)}` });
            } else if (c.type === 'radio' && ROUND_END.has(c.code)) {
                this.markers.push({ record, kind: 'round', text: 'round end' });
            }
        }
        this.records.push(packets);
        this.fresh.push(fresh);
        index.add(packets, fresh, decoded);
        if (index.state.resets !== resets) this.markers.push({ record, kind: 'map', text: 'map start' });
        else if (index.rounds.length !== rounds && rounds > 0) this.markers.push({ record, kind: 'start', text: 'round start' });
    }

    seek(record) {
        const target = Math.max(0, Math.min(this.length, Math.floor(record)));
        const from = Math.min(Math.floor(target / CHECKPOINT_EVERY), this.checkpoints.length - 1);
        this.state = from >= 0 ? this.checkpoints[from].clone() : new GameState();
        this.position = Math.max(from, 0) * CHECKPOINT_EVERY;
        while (this.position < target) this.step();
        this.carry = 0;
    }

    skip(seconds) {
        this.seek(Math.max(this.position + seconds * RECORDS_PER_SECOND, 1));
    }

    step() {
        const f = this.following;
        if (f && f.of === this.state && f.position === this.position) this.state = f.state;
        else this.state.applyElement(this.records[this.position], this.time, this.fresh[this.position]);
        this.position++;
    }

    get next() {
        if (this.position >= this.length) return null;
        const f = this.following;
        if (f && f.of === this.state && f.position === this.position) return f.state;
        const state = this.state.clone();
        state.applyElement(this.records[this.position], this.time, this.fresh[this.position]);
        this.following = { of: this.state, position: this.position, state };
        return state;
    }

    get fraction() { return Math.min(Math.max(this.carry, 0), 1); }

    ahead(seconds) {
        const out = [];
        const end = Math.min(this.length, this.position + Math.ceil(seconds * RECORDS_PER_SECOND));
        for (let r = this.position; r < end; r++) out.push(...this.events[r]);
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

