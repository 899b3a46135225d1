// The live stream over HTTP, and the follower that plays it.
//
// The plugin cuts the delayed stream into fragments of a fixed number of elements (an element is
// the packets of one half-second snapshot) and serves, beside the pages:
//
//   GET /live/sync     JSON, never cached:
//                      {"fragment": newest complete fragment number, -1 while there is none,
//                       "elements": elements per fragment, "delay": seconds behind the game,
//                       "map": map name, "overview": overview image file name or "",
//                       "server": server name}
//                      The image is served from the plugin folder as /overviews/<overview>.
//   GET /live/N/start  binary, one element: a full state (as a joining spectator would get it)
//                      holding the game just before the first element of fragment N.
//   GET /live/N/body   binary, the elements of fragment N in order, two per second of game time.
//                      A fragment the server no longer holds (or not yet) is 404.
//
// Binary bodies are a sequence of elements, each:
//   1 byte  flags: 0x01 this element starts a fresh game state (a new map); others are zero
//   1 byte  packet count
//   per packet: 2 bytes length, big-endian (the packet's two reserved bytes included), then the
//           packet's bytes, plain (no mask)
// Fragment numbers grow by one per fragment while the server runs and start again at 0 when it
// restarts.
//
// Surface:
//   parseElements(bytes: Uint8Array) -> { elements: [{ fresh, packets }], fault }
//   nextStep(next, sync, queued) -> { action: 'none'|'wait'|'start'|'body', fragment }
//   new Follower({ base, fetch, onSync, onElement, onStatus, now, setTimer, clearTimer })
//       .start() / .stop()

import { readPackets } from './demo.js';

export const FLAG_FRESH = 0x01;
export const POLL_MS = 1000;
export const MAX_LAG_S = 20;  // further behind than this, the follower jumps to the newest fragment

export function parseElements(bytes) {
    const elements = [];
    let at = 0;
    while (at < bytes.length) {
        if (at + 2 > bytes.length) return { elements, fault: { offset: at, message: 'element cut short in its head' } };
        const flags = bytes[at];
        const count = bytes[at + 1];
        if (count === 0) return { elements, fault: { offset: at, message: 'element without packets' } };
        const got = readPackets(bytes, at + 2, count, 0);
        if (got.fault) return { elements, fault: got.fault };
        elements.push({ fresh: (flags & FLAG_FRESH) !== 0, packets: got.packets });
        at = got.end;
    }
    return { elements, fault: null };
}

// What to fetch next. next: the fragment whose body comes next, null before the first start;
// queued: elements loaded but not yet played.
export function nextStep(next, sync, queued) {
    const newest = sync?.fragment;
    const elements = sync?.elements;
    if (!Number.isInteger(newest) || newest < 0 || !Number.isInteger(elements) || elements < 1) {
        return { action: 'none' };
    }
    if (next === null) return { action: 'start', fragment: newest };
    if (newest < next - 1) return { action: 'start', fragment: newest };  // numbers went back: a restart
    const behind = (newest - next + 1) * elements + queued;
    if (behind / 2 > MAX_LAG_S) return { action: 'start', fragment: newest };
    if (next <= newest) return { action: 'body', fragment: next };
    return { action: 'wait' };
}

export class Follower {
    constructor(options) {
        this.base = options.base ?? '../live/';
        this.fetch = options.fetch ?? ((...a) => globalThis.fetch(...a));
        this.onSync = options.onSync ?? (() => {});
        this.onElement = options.onElement;
        this.onStatus = options.onStatus ?? (() => {});
        this.now = options.now ?? (() => performance.now());
        this.setTimer = options.setTimer ?? ((f, ms) => setTimeout(f, ms));
        this.clearTimer = options.clearTimer ?? ((t) => clearTimeout(t));
        this.next = null;
        this.queue = [];
        this.sync = null;
        this.running = false;
        this.timers = [];
        this.dueAt = 0;
    }

    start() {
        this.running = true;
        this.poll();
        this.play();
    }

    stop() {
        this.running = false;
        for (const t of this.timers) this.clearTimer(t);
        this.timers = [];
    }

    later(f, ms) {
        const t = this.setTimer(() => {
            this.timers = this.timers.filter((x) => x !== t);
            if (this.running) f();
        }, ms);
        this.timers.push(t);
    }

    async get(path, binary) {
        const response = await this.fetch(this.base + path, { cache: 'no-store' });
        if (!response.ok) {
            const error = new Error(`${path}: HTTP ${response.status}`);
            error.status = response.status;
            throw error;
        }
        return binary ? new Uint8Array(await response.arrayBuffer()) : response.json();
    }

    async poll() {
        try {
            this.sync = await this.get('sync', false);
            this.onSync(this.sync);
            await this.pump();
        } catch (error) {
            // Whatever comes back may be a restarted server with fragment numbers of its own:
            // begin again from its newest start rather than trust the old count.
            this.next = null;
            this.onStatus(error instanceof TypeError  // what fetch throws when nothing answers
                ? 'No live stream: the server does not answer' : `No live stream: ${error.message}`);
        }
        this.later(() => this.poll(), POLL_MS);
    }

    async pump() {
        for (;;) {
            const step = nextStep(this.next, this.sync, this.queue.length);
            if (step.action === 'none') {
                this.onStatus('No live stream: the broadcast has not started yet');
                return;
            }
            if (step.action === 'wait') return;
            try {
                if (step.action === 'start') {
                    const start = this.elements(await this.get(`${step.fragment}/start`, true));
                    const body = this.elements(await this.get(`${step.fragment}/body`, true));
                    for (const e of start) e.fresh = true;  // a jump: nothing shown before counts
                    this.queue = [...start, ...body];
                    this.dueAt = 0;
                } else {
                    this.queue.push(...this.elements(await this.get(`${step.fragment}/body`, true)));
                }
                this.next = step.fragment + 1;
                this.onStatus('');
            } catch (error) {
                if (error.status !== 404) throw error;
                this.next = null;  // that fragment is gone (or never came): start over at the newest
                return;
            }
        }
    }

    elements(bytes) {
        const got = parseElements(bytes);
        if (got.fault) throw new Error(`damaged fragment at byte ${got.fault.offset}: ${got.fault.message}`);
        return got.elements;
    }

    // Two elements per second; a quarter faster while more than two fragments wait, so a viewer
    // that stalled catches up instead of staying behind.
    play() {
        const now = this.now();
        const perFragment = this.sync?.elements ?? 20;
        const step = this.queue.length > 2 * perFragment ? 400 : 500;
        if (this.queue.length > 0 && now >= this.dueAt) {
            this.onElement(this.queue.shift());
            this.dueAt = (this.dueAt < now - step ? now : this.dueAt) + step;
        }
        this.later(() => this.play(), 50);
    }
}
