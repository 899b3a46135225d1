// Replaying a demo: records at two per second times the speed, with seeking.
//
//   indexDemo(records) -> { markers: [{ record, kind: 'round'|'kill'|'map', text }], checkpoints }
//   new DemoPlayer(records)
//     .seek(record)        the state after records 0..record-1 (a copy, replayed from the
//                          nearest checkpoint before it)
//     .advance(seconds)    plays on by that much wall time; true when something was applied
//     .state, .position (records applied), .time (game seconds), .playing, .speed, .length
//
// A checkpoint is a copy of the state kept every CHECKPOINT_EVERY records, so a seek replays at
// most that many records instead of the whole file.

import { GameState } from './state.js';
import { decodePacket } from './stream.js';

export const RECORDS_PER_SECOND = 2;
export const CHECKPOINT_EVERY = 60;
const ROUND_END = new Set([0, 1, 4]);  // radio codes that close a round

export function indexDemo(records) {
    const markers = [];
    const checkpoints = [];
    const state = new GameState();
    records.forEach((packets, record) => {
        if (record % CHECKPOINT_EVERY === 0) checkpoints.push(state.clone());
        const resets = state.resets;
        for (const bytes of packets) {
            for (const c of decodePacket(bytes).chunks) {
                if (c.type === 'death') {
                    const killer = c.killer < 32 ? state.players[c.killer].name : 'world';
                    markers.push({ record, kind: 'kill', text: `${killer} killed ${state.nameOf(c.victim)}` });
                } else if (c.type === 'radio' && ROUND_END.has(c.code)) {
                    markers.push({ record, kind: 'round', text: 'round end' });
                }
            }
        }
        // Names used above are those known before the record, as a viewer playing it would see.
        state.applyElement(packets, record / RECORDS_PER_SECOND);
        if (state.resets !== resets) markers.push({ record, kind: 'map', text: 'map start' });
    });
    return { markers, checkpoints };
}

export class DemoPlayer {
    constructor(records) {
        this.records = records;
        this.length = records.length;
        Object.assign(this, indexDemo(records));
        this.playing = false;
        this.speed = 1;
        this.carry = 0;  // wall seconds not yet turned into records
        this.seek(0);
    }

    get time() { return this.position / RECORDS_PER_SECOND; }

    seek(record) {
        const target = Math.max(0, Math.min(this.length, Math.floor(record)));
        const from = Math.min(Math.floor(target / CHECKPOINT_EVERY), this.checkpoints.length - 1);
        this.state = from >= 0 ? this.checkpoints[from].clone() : new GameState();
        this.position = Math.max(from, 0) * CHECKPOINT_EVERY;
        while (this.position < target) this.step();
        this.carry = 0;
    }

    step() {
        this.state.applyElement(this.records[this.position], this.time);
        this.position++;
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
        if (this.position >= this.length) this.playing = false;
        return applied;
    }
}
