// The live stream over HTTP, and the follower that plays it.
//
// The plugin cuts the delayed stream into fragments of a fixed number of elements (an element is
// the packets of one half-second snapshot) and serves, beside the pages:
//
//   GET /live/sync     JSON, cached up to ten seconds (a second on servers without "hold"):
//                      {"fragment": newest complete fragment number, 0 while there is none,
//                       "elements": elements per fragment, "delay": seconds behind the game,
//                       "map": map name, "overview": the overview image's path in the plugin
//                       folder ("overviews/<map>.png") or "", "server": server name,
//                       "hold": seconds the server holds a request for the fragment after the
//                       newest until it is out (absent on servers that answer 404 at once)}
//   GET /live/N/start  binary, one element: a full state (as a joining spectator would get it)
//                      holding the game just before the first element of fragment N.
//   GET /live/N/body   binary, the elements of fragment N in order, two per second of game time.
//                      A fragment the server no longer holds (or not yet) is 404.
//   GET /live/N/bodies binary, the bodies of fragments N..N+run-1 one after another, for N one
//                      more than a multiple of the sync's "run"; 404 unless all are kept.
//
// Against a server that holds, a follower asks for the fragment after the newest as soon as it
// has the newest: the answer comes when the fragment is out, and the sync is needed only to
// join, after a miss and now and then for the delay and the server's name. Without "hold" it
// polls the sync and never asks beyond the newest.
//
// Binary bodies are a sequence of elements, each:
//   1 byte  flags: 0x01 this element starts a fresh game state (a new map); others are zero
//   1 byte  packet count
//   per packet: 2 bytes length, big-endian (the packet's two reserved bytes included), then the
//           packet's bytes, plain (no mask)
// Fragment numbers count up from 1 while the server runs and start again at 1 when it restarts.
//
// Surface:
//   parseElements(bytes: Uint8Array) -> { elements: [{ fresh, packets }], fault }
//   nextStep(next, sync, queued) -> { action: 'none'|'wait'|'start'|'body'|'jump', fragment }
//   playStep(queued, perFragment) -> milliseconds until the next element is played
//   new Follower({ base, fetch, onSync, onElement(element, stepMs), onStart(fragment), onStatus,
//                  now, setTimer, clearTimer, early }).start() / .stop()
//       onStart: the follower began (again) at that fragment, with its start element
//       early: a promise of the sync's Response (or null) asked for before, taken by the first poll
//   loadHistory(get, first, until, parallel, run) -> elements of fragments first..until-1 (a
//       start, then bodies; whole runs of `run` fragments by /bodies)
//
// The sync also names "first", the oldest fragment the server keeps of the current map (servers
// before it have none): a viewer loads first..joined-1 to rewind to the map's start.

import { readPackets } from './demo.js';

export const FLAG_FRESH = 0x01;
export const POLL_MS = 1000;
export const FOLLOW_POLL_MS = 30000;  // the sync's pace while held requests bring each fragment
const FRESH_POLL_MS = [POLL_MS, 11000];  // after a map start: the new map's overview, also past a cache's 10 s
export const MAX_LAG_S = 20;  // further behind than this, the follower jumps to the newest fragment
export const ELEMENT_MS = 500;  // an element is half a second of game
const FASTEST_MS = 50;
const NOTICE_MS = 6000;  // how long the note about a jump stays up

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
// queued: elements loaded but not yet played. A first start takes the fragment before the newest
// when there is one, so that a poll arriving late never leaves the viewer with nothing to play.
export function nextStep(next, sync, queued) {
    const newest = sync?.fragment;
    const elements = sync?.elements;
    if (!Number.isInteger(newest) || newest < 1 || !Number.isInteger(elements) || elements < 1) {
        return { action: 'none' };
    }
    if (next === null) return { action: 'start', fragment: Math.max(newest - 1, 1) };
    if (newest < next - 1) return { action: 'start', fragment: newest };  // numbers went back: a restart
    const behind = (newest - next + 1) * elements + queued;
    if (behind / 2 > MAX_LAG_S) return { action: 'jump', fragment: newest };
    if (next <= newest) return { action: 'body', fragment: next };
    return { action: 'wait' };
}

// Two elements per second while about two fragments wait; with more, faster with the cube of
// the excess, so a viewer that stalled catches up, and one facing a server whose clock runs fast
// (simhost's) keeps pace without drifting far behind.
export function playStep(queued, perFragment) {
    const calm = 2 * perFragment + 2;
    if (queued <= calm) return ELEMENT_MS;
    return Math.max(FASTEST_MS, ELEMENT_MS * (calm / queued) ** 3);
}

export class Follower {
    constructor(options) {
        this.base = options.base ?? '../live/';
        this.fetch = options.fetch ?? ((...a) => globalThis.fetch(...a));
        this.onSync = options.onSync ?? (() => {});
        this.onElement = options.onElement;
        this.onStatus = options.onStatus ?? (() => {});
        this.onStart = options.onStart ?? (() => {});
        this.now = options.now ?? (() => performance.now());
        this.setTimer = options.setTimer ?? ((f, ms) => setTimeout(f, ms));
        this.clearTimer = options.clearTimer ?? ((t) => clearTimeout(t));
        this.next = null;
        this.queue = [];
        this.sync = null;
        this.running = false;
        this.timers = [];
        this.dueAt = 0;
        this.noticeUntil = 0;  // a note about a jump stays up until then
        this.polledNewest = null;  // the newest fragment the previous poll found
        this.pumping = false;  // fetching fragments (a held request may take a fragment's time)
        this.missed = false;  // a held request came back empty: the next sync decides
        this.pollTimer = null;
        this.playTimer = null;
        this.freshPolls = [];  // the poll delays after a map start
        this.early = options.early ?? null;
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
        return t;
    }

    status(text, notice = false) {
        const now = this.now();
        if (notice) this.noticeUntil = now + NOTICE_MS;
        else if (text === '' && now < this.noticeUntil) return;
        this.onStatus(text);
    }

    async get(path, binary) {
        // Fragments never change: the browser's cache may keep them (and a cache in front of the
        // server sees no no-cache request for them); the sync is always asked for anew.
        const early = path === 'sync' ? this.early : null;
        if (early) this.early = null;
        const response = (early && await early) || await this.fetch(this.base + path, { cache: binary ? 'default' : 'no-store' });
        if (!response.ok) {
            const error = new Error(`${path}: HTTP ${response.status}`);
            error.status = response.status;
            throw error;
        }
        return binary ? new Uint8Array(await response.arrayBuffer()) : response.json();
    }

    async poll() {
        this.pollTimer = null;
        try {
            const sync = await this.get('sync', false);
            if (!this.running) return;
            // After a held request came back empty, a sync that lags behind what was played is
            // a restarted server (a cached sync is at most a few fragments old, and shows the
            // stall that made the hold run out).
            if (this.missed && this.next !== null && Number.isInteger(sync?.fragment) && sync.fragment < this.next - 1) {
                this.next = null;
            }
            this.missed = false;
            this.sync = sync;
            this.onSync(sync);
            this.kick();
        } catch (error) {
            if (!this.running) return;
            if (!this.pumping) this.failed(error);
        }
        if (this.pollTimer === null) this.schedulePoll(this.pollDelay());
    }

    schedulePoll(ms) {
        if (this.pollTimer !== null) {
            this.clearTimer(this.pollTimer);
            this.timers = this.timers.filter((x) => x !== this.pollTimer);
        }
        this.pollTimer = this.later(() => this.poll(), ms);
    }

    failed(error) {
        // Whatever comes back may be a restarted server with fragment numbers of its own:
        // begin again from its newest start rather than trust the old count.
        this.next = null;
        if (error instanceof TypeError) this.status('No live stream: the server does not answer');  // what fetch throws then
        else if (error.status === 404) this.status('No live stream: this server does not offer the broadcast to browsers');
        else this.status(`No live stream: ${error.message}`);
    }

    holds() { return Number.isInteger(this.sync?.hold) && this.sync.hold > 0; }

    // A poll that found just one new fragment while following has the next a fragment's time
    // away: a sync a second fetched the same answer twice in three, and syncs were most of a
    // viewer's requests. Found none (early) or several (a server clock running fast): a second.
    // Against a holding server the held requests bring the fragments, and the sync is rare.
    pollDelay() {
        const newest = this.sync?.fragment, elements = this.sync?.elements;
        const found = Number.isInteger(newest) && Number.isInteger(this.polledNewest) ? newest - this.polledNewest : 0;
        this.polledNewest = newest;
        if (this.next === null || this.missed) return POLL_MS;
        if (this.holds()) return this.freshPolls.shift() ?? FOLLOW_POLL_MS;
        if (found !== 1 || !Number.isInteger(elements) || elements < 1) return POLL_MS;
        return Math.max(POLL_MS, elements * ELEMENT_MS);
    }

    kick() {
        if (this.pumping) return;
        this.pumping = true;
        this.pump().catch((error) => { if (this.running) this.failed(error); })
            .finally(() => { this.pumping = false; });
    }

    async pump() {
        while (this.running) {
            // What a held request brought is out, however old the (cached) sync is.
            const holding = this.holds() && this.next !== null;
            const sync = holding ? { ...this.sync, fragment: Math.max(this.sync.fragment, this.next - 1) } : this.sync;
            let step = nextStep(this.next, sync, this.queue.length);
            if (step.action === 'none') {
                this.next = null;
                const delay = Number.isInteger(this.sync?.delay) ? ` (the game is shown ${this.sync.delay} s after it is played)` : '';
                this.status(`No live stream yet: the server has no broadcast to show${delay}`);
                return;
            }
            if (step.action === 'wait') {
                if (!holding || this.missed) return;
                step = { action: 'body', fragment: this.next, held: true };
            }
            try {
                if (step.action === 'body') {
                    const body = this.elements(await this.get(`${step.fragment}/body`, true));
                    if (!this.running) return;
                    this.queue.push(...body);
                    if (holding && body.some((e) => e.fresh)) {  // a new map: its overview is in the sync
                        this.freshPolls = [...FRESH_POLL_MS];
                        this.schedulePoll(this.freshPolls.shift());
                    }
                } else {
                    const [startBytes, bodyBytes] = await Promise.all([this.get(`${step.fragment}/start`, true),
                        this.get(`${step.fragment}/body`, true)]);
                    const start = this.elements(startBytes), body = this.elements(bodyBytes);
                    if (!this.running) return;
                    for (const e of start) e.fresh = true;  // a jump: nothing shown before counts
                    this.queue = [...start, ...body];
                    this.dueAt = 0;
                    this.onStart(step.fragment);
                    this.playNow();  // a joining viewer's first frame waits on this element
                    if (step.action === 'jump') {
                        this.status('This browser fell behind the broadcast: skipped ahead to the newest moment', true);
                    }
                }
                this.next = step.fragment + 1;
                this.status('');
            } catch (error) {
                if (error.status !== 404) throw error;
                if (step.held) {
                    // Not out within the hold (a stall), or this server restarted: the sync tells.
                    this.missed = true;
                    this.schedulePoll(POLL_MS);
                    return;
                }
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

    // Plays what is due; a timer that fired late (a background tab) plays the elements it owes
    // at once, up to a fragment's worth, rather than drift behind.
    play() {
        const now = this.now();
        const perFragment = this.sync?.elements ?? 4;
        for (let owed = 0; owed < Math.max(perFragment, 1) && this.queue.length > 0 && now >= this.dueAt; owed++) {
            const step = playStep(this.queue.length, perFragment);
            this.onElement(this.queue.shift(), step);
            this.dueAt = (this.dueAt < now - step ? now : this.dueAt) + step;
        }
        this.playTimer = this.later(() => this.play(), 50);
    }

    playNow() {
        if (this.playTimer !== null) {
            this.clearTimer(this.playTimer);
            this.timers = this.timers.filter((x) => x !== this.playTimer);
        }
        this.play();
    }
}

// A fragment that is missing (evicted meanwhile, or lost on the server) breaks the chain of
// deltas: the history then begins after the last one missing, from that fragment's own start.
// With `run` (the sync's "run": servers that have /bodies) the whole runs in the span come a run
// per request; a run the server cannot give is asked for fragment by fragment.
export async function loadHistory(get, first, until, parallel = 6, run = 0) {
    const numbers = [];
    for (let n = first; n < until; n++) numbers.push(n);
    const bodies = new Array(numbers.length).fill(null);
    const units = [];  // [index, count]: count 1 a body, else a run
    for (let i = 0; i < numbers.length;) {
        const whole = run > 1 && (numbers[i] - 1) % run === 0 && i + run <= numbers.length;
        units.push([i, whole ? run : 1]);
        i += whole ? run : 1;
    }
    const one = async (i) => {
        try {
            bodies[i] = await get(`${numbers[i]}/body`);
        } catch (error) {
            if (error.status !== 404) throw error;
        }
    };
    let next = 0;
    const worker = async () => {
        while (next < units.length) {
            const [i, count] = units[next++];
            if (count === 1) {
                await one(i);
                continue;
            }
            try {
                bodies[i] = await get(`${numbers[i]}/bodies`);
                bodies.fill(new Uint8Array(0), i + 1, i + count);  // their elements are in the run's
            } catch (error) {
                if (error.status !== 404) throw error;
                for (let k = i; k < i + count; k++) await one(k);
            }
        }
    };
    await Promise.all(Array.from({ length: Math.min(parallel, units.length) }, worker));
    let from = 0;
    bodies.forEach((b, i) => { if (b === null) from = i + 1; });
    if (from >= numbers.length) return [];
    let start;
    try {
        start = await get(`${numbers[from]}/start`);
    } catch (error) {
        if (error.status !== 404) throw error;
        return loadHistory(get, numbers[from] + 1, until, parallel, run);
    }
    const elements = [];
    for (const bytes of [start, ...bodies.slice(from)]) {
        const got = parseElements(bytes);
        if (got.fault) throw new Error(`damaged fragment at byte ${got.fault.offset}: ${got.fault.message}`);
        elements.push(...got.elements);
    }
    elements[0].fresh = true;
    return elements;
}
