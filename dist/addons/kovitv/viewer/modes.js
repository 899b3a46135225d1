// What is shown and how it moves: live (the broadcast over /live/, kept from the current map's
// start so it can be paused and rewound) or a demo (bytes of a .kdem file, or one fetched by
// URL), and the transport that acts on it.
//
//   new Modes({ status(text, kind), changed(what: 'shown'|'player'|'seek') })
//     .shown      null or { kind: 'live'|'demo', player: DemoPlayer, url, name,
//                           follower, sync, history: null|'loading'|'done'|'none'|'failed',
//                           pending: the next map's DemoPlayer while a map that ended is shown }
//     .startLive(at = 0)        the live game, at `at` seconds into the map once its history is in
//     .startDemo(buffer, name, url, at = 0) -> false when nothing could be replayed
//     .loadDemoUrl(url, at)     fetches and starts a demo; on failure the live game, and why
//     .stop()
//     .atLiveEdge()             live and within LIVE_EDGE records of the newest
//     .behind() -> records between what is shown and the newest live one (0 for a demo)
//     .seek(record), .skip(seconds), .togglePlay(), .setSpeed(speed), .round(step: -1|1),
//     .goLive()   (to the newest map, when a map that ended is shown)
//     .advance(wallSeconds)     plays on (main.js calls it each frame)
//
// A map change while a live spectator is paused or rewound leaves them in the map that ended:
// the new one gathers behind it (pending) until they go back to live, or play on past the old
// map's end into the new one's start.
//
// The page's own controls it keeps in step: #transport and #timeline shown with something to
// play, #live lit while live, #source naming what plays, #speed and #demos.

import { parseDemo } from './demo.js';
import { Follower, loadHistory } from './fragments.js';
import { DemoPlayer, RECORDS_PER_SECOND } from './player.js';
import { roundAt } from './rounds.js';
import { learnPicture } from './pictures.js';
import { opensMap } from './rules.js';
import { decodePacket } from './stream.js';

export const LIVE_EDGE = 3;  // records behind the newest that still count as live
const $ = (id) => document.getElementById(id);

// A link to a moment of this map waits for the map's history: that spectator is not watching the
// newest moment, though they are at it until the history is in.
const awaitsMoment = (live) => live.at > 0 && (live.history === null || live.history === 'loading');

export class Modes {
    constructor({ status, changed }) {
        this.status = status;
        this.changed = changed;
        this.shown = null;
    }

    stop() {
        this.shown?.follower?.stop();
        this.shown = null;
        $('transport').hidden = true;
        $('timeline').hidden = true;
        $('live').classList.remove('active');
        this.changed('shown');
    }

    atLiveEdge() {
        return this.shown?.kind === 'live' && this.behind() <= LIVE_EDGE;
    }

    behind() {
        const s = this.shown;
        if (s?.kind !== 'live') return 0;
        return s.player.length - s.player.position + (s.pending?.length ?? 0);
    }

    startLive(at = 0) {
        this.stop();
        $('demos').value = '';
        $('live').classList.add('active');
        $('source').textContent = 'live broadcast';
        this.status('Connecting to the live stream');
        const player = new DemoPlayer([], { live: true });
        player.playing = true;
        player.speed = 1;
        $('speed').value = '1';
        const live = { kind: 'live', player, sync: null, at, history: null };
        this.shown = live;
        // The sync index.html asked for while the modules loaded: the page's first follower only.
        const early = globalThis.kovitvSync ?? null;
        globalThis.kovitvSync = null;
        live.follower = new Follower({
            early,
            onSync: (sync) => {
                live.sync = sync;
                learnPicture(sync.map, sync.overview);
                $('source').textContent = `live: ${sync.server || 'server'}`;
            },
            onStatus: (text) => this.status(text),
            onStart: (fragment) => this.rewindable(live, fragment),
            onElement: (element) => { if (this.shown === live) this.receive(live, element); },
        });
        live.follower.start();
        $('transport').hidden = false;
        $('timeline').hidden = false;
        this.changed('shown');
    }

    // The follower's newest element { packets, fresh }, decoded once here.
    receive(live, element) {
        const decoded = element.packets.map((bytes) => decodePacket(bytes));
        if (opensMap(decoded) || live.pending) this.nextMap(live, decoded, element);
        else this.onEdge(live, live.player, decoded, element);
    }

    // The newest element, to a player: at the newest moment the follower's pace is the playing pace.
    // Play keeps up to two records behind the newest, so there is always one to move towards
    // (the first is shown at once); falling further behind, it jumps ahead.
    onEdge(live, p, decoded, element) {
        const wasEdge = p.length - p.position <= LIVE_EDGE;
        p.appendDecoded(decoded, element.fresh);
        if (!p.playing || p !== live.player) return;
        if (p.position === 0) p.step();
        else if (wasEdge) {
            while (p.length - p.position > 2) {
                p.step();
                p.carry = Math.max(p.carry - 1, 0);
            }
        }
    }

    // A new map starts a timeline of its own (rewinding goes back to its start). A spectator
    // watching the newest moment moves to it; one paused or rewound stays in the map that ended.
    nextMap(live, decoded, element) {
        const starts = opensMap(decoded) && (live.pending?.length ?? live.player.length) > 0;
        const watching = live.player.playing && live.player.length - live.player.position <= LIVE_EDGE &&
            !live.pending && !awaitsMoment(live);
        if (starts) {
            const next = new DemoPlayer([], { live: true });
            next.playing = true;
            next.speed = live.player.speed;
            if (watching) {
                live.player = next;
                this.changed('player');
            } else {
                live.pending = next;
            }
        }
        this.onEdge(live, live.pending ?? live.player, decoded, element);
    }

    // Leaves the map that ended for the newest one, at `record` of it (its end when omitted).
    leaveEndedMap(record) {
        const live = this.shown;
        if (!live?.pending) return false;
        const next = live.pending;
        live.pending = null;
        next.playing = true;
        next.speed = live.player.speed;
        live.player = next;
        this.changed('player');
        this.seek(record ?? next.length);
        return true;
    }

    // Live joined at `joined`: the map's earlier fragments the server keeps are loaded behind
    // what plays, so pause and rewind reach back to the map's start.
    rewindable(live, joined) {
        if (live.history) return;  // once: a later start is a jump ahead, its past already here
        const first = live.sync?.first;
        if (!Number.isInteger(first) || first < 1 || first >= joined) {
            live.history = 'none';
            return;
        }
        live.history = 'loading';
        const before = live.player;
        const run = Number.isInteger(live.sync?.run) ? live.sync.run : 0;
        loadHistory((path) => live.follower.get(path, true), first, joined, 6, run).then((elements) => {
            // A map change followed meanwhile made the history another map's (one left pending
            // did not: the history is still the shown map's).
            if (this.shown !== live || live.player !== before || elements.length === 0) {
                live.history = 'none';
                return;
            }
            // From the map's own first element: what the start before it holds is the map before.
            let from = 0;
            elements.forEach((e, i) => { if (e.fresh) from = i; });
            const next = new DemoPlayer([], { live: true });
            for (const e of elements.slice(from)) next.append(e.packets, e.fresh);
            // The join's start element is the state the history ends in: its body follows on.
            for (let i = 1; i < before.length; i++) next.appendDecoded(before.compact[i], before.fresh[i]);
            next.seek(elements.length - from + Math.max(before.position - 1, 0));
            next.playing = before.playing;
            next.speed = before.speed;
            live.player = next;
            live.history = 'done';
            this.changed('player');
            if (live.at > 0) this.seek(live.at * RECORDS_PER_SECOND);
        }).catch(() => { live.history = 'failed'; });
    }

    startDemo(buffer, name, url, at = 0) {
        this.stop();
        const { records, fault } = parseDemo(buffer);
        if (records.length === 0) {
            this.status(`${name}: nothing to replay${fault ? ` (${fault.message})` : ''}`, 'error');
            $('source').textContent = 'no demo loaded';
            return false;
        }
        this.status(fault ? `${name} is damaged at byte ${fault.offset} (${fault.message}); replaying the ${records.length} records before it` : '');
        const player = new DemoPlayer(records);
        player.seek(Math.max(player.start, at * RECORDS_PER_SECOND));
        player.playing = true;
        player.speed = Number($('speed').value);
        this.shown = { kind: 'demo', player, url, name };
        $('source').textContent = `demo: ${name}`;
        $('transport').hidden = false;
        $('timeline').hidden = false;
        this.changed('shown');
        return true;
    }

    async loadDemoUrl(url, at) {
        this.stop();
        this.status(`Loading ${url}`);
        $('source').textContent = 'loading a demo';
        try {
            const response = await fetch(url, { cache: 'no-store' });  // a demo being recorded grows
            if (!response.ok) {
                throw new Error(response.status === 404 ? 'the server has no such file (HTTP 404)' : `HTTP ${response.status}`);
            }
            // The file's own name is enough in the header; the address keeps the whole path.
            const name = decodeURIComponent(url.split('/').pop() || url);
            if (!this.startDemo(await response.arrayBuffer(), name, url, at)) this.startLive();
        } catch (error) {
            // The page stays useful: the live game instead, the reason in the header.
            this.startLive();
            this.status(`Cannot open the demo ${url}: ${error.message}. Showing the live game instead.`, 'error');
        }
    }

    // Never before the map's first moment with a name: the records before it hold nothing to see.
    seek(record) {
        if (!this.shown) return;
        const p = this.shown.player;
        p.seek(Math.max(p.start, Math.min(record, p.length)));
        this.changed('seek');
    }

    skip(seconds) { if (this.shown) this.seek(this.shown.player.position + seconds * RECORDS_PER_SECOND); }

    togglePlay() {
        if (!this.shown) return;
        const p = this.shown.player;
        if (!p.playing && !p.live && p.position >= p.length) this.seek(0);
        p.playing = !p.playing;
    }

    setSpeed(speed) {
        $('speed').value = String(speed);
        if (this.shown) this.shown.player.speed = speed;
    }

    round(step) {
        if (!this.shown) return;
        const p = this.shown.player;
        const current = roundAt(p.rounds, p.position);
        const i = current ? p.rounds.indexOf(current) : -1;
        // Back: to this round's start, or the previous one's when just past the start. A round's
        // start is shown with its first record applied: the players spawned, the freeze time.
        if (step < 0) {
            const target = current && p.position - current.start > 2 * RECORDS_PER_SECOND ? current : p.rounds[i - 1];
            if (target) this.seek(target.start + 1);
        } else if (p.rounds[i + 1]) {
            this.seek(p.rounds[i + 1].start + 1);
        }
    }

    goLive() {
        if (this.shown?.kind !== 'live') return;
        this.setSpeed(1);
        if (this.leaveEndedMap()) return;
        this.shown.player.playing = true;
        this.seek(this.shown.player.length);
    }

    // Each frame: plays on, and past the end of a map that ended into the next one's start.
    advance(seconds) {
        const p = this.shown?.player;
        if (!p) return;
        p.advance(seconds);
        const live = this.shown;
        if (live.pending && p.playing && p.position >= p.length && live.pending.length > 0 && !awaitsMoment(live)) {
            this.leaveEndedMap(0);
        }
    }
}
