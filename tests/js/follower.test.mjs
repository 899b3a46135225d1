// The live follower against a simulated plugin: fragments appear on the server's clock, the
// network stalls, the server restarts. Every body element carries its running number in a clock
// chunk, so what the follower plays can be checked for gaps and repeats.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Follower } from '../../dist/addons/kovitv/viewer/fragments.js';
import { decodePacket } from '../../dist/addons/kovitv/viewer/stream.js';

const PER_FRAGMENT = 4;

function element(flags, seconds) {
    const packet = [0, 0, 41, (seconds >> 8) & 0xFF, seconds & 0xFF];
    return [flags, 1, 0, packet.length, ...packet];
}

// A plugin whose stream runs `speed` times real time; `epoch` tells restarted servers apart.
// With `hold` (ms) it holds a request for the fragment after the newest until it is out.
class FakeServer {
    constructor(speed, { hold = 0 } = {}) {
        this.speed = speed;
        this.hold = hold;
        this.down = false;
        this.waiting = [];
        this.requests = 0;
        this.restart(0);
    }
    restart(now) {
        this.began = now;
        this.paused = 0;  // ms of stream time lost to stalls
        this.pausedAt = null;
        this.epoch = (this.epoch ?? 0) + 1;
    }
    stall(now) { this.pausedAt = now; }
    resume(now) { this.paused += now - this.pausedAt; this.pausedAt = null; }
    newest(now) {
        const at = (this.pausedAt ?? now) - this.began - this.paused;
        return Math.floor((at / 1000) * this.speed * 2 / PER_FRAGMENT);
    }
    number(n, i) { return this.epoch * 1000 + (n - 1) * PER_FRAGMENT + i; }
    reply(status, body) {
        return { ok: status === 200, status, json: async () => body, arrayBuffer: async () => Uint8Array.from(body).buffer };
    }
    fragment(k, part, newest) {
        if (k < 1 || k > newest || k <= newest - 30) return this.reply(404, []);
        if (part === 'start') return this.reply(200, element(0, 30000 + k));
        return this.reply(200, Array.from({ length: PER_FRAGMENT },
            (_, i) => element(i === 0 && k === this.mapStart ? 1 : 0, this.number(k, i))).flat());
    }
    respond(path, now) {
        this.requests++;
        if (path === 'sync') (this.syncTimes ??= []).push(now);
        if (path === 'sync') this.syncs = (this.syncs ?? 0) + 1;
        if (this.down) return Promise.reject(new TypeError('fetch failed'));
        const newest = this.newest(now);
        if (path === 'sync') {
            return Promise.resolve(this.reply(200, { fragment: newest, elements: PER_FRAGMENT, delay: 30, map: 'de_kovi',
                overview: '', server: 's', ...(this.hold ? { hold: this.hold / 1000 } : {}) }));
        }
        const [, n, part] = path.match(/^(\d+)\/(start|body)$/);
        const k = Number(n);
        if (this.hold && k === newest + 1) {
            return new Promise((resolve, reject) => this.waiting.push({ k, part, until: now + this.hold, resolve, reject }));
        }
        return Promise.resolve(this.fragment(k, part, newest));
    }
    tick(now) {
        const newest = this.newest(now);
        this.waiting = this.waiting.filter((w) => {
            if (this.down) w.reject(new TypeError('fetch failed'));
            else if (newest >= w.k) w.resolve(this.fragment(w.k, w.part, newest));
            else if (now >= w.until) w.resolve(this.reply(404, []));
            else return true;
            return false;
        });
    }
}

// Runs the follower on a fake clock for `ms`, calling `during(now)` every simulated 50 ms.
async function run(server, ms, during = () => {}) {
    let now = 0;
    let timers = [];
    const played = [];
    const statuses = [];
    const follower = new Follower({
        base: '',
        fetch: (path) => server.respond(path, now),
        now: () => now,
        setTimer: (f, after) => { const t = { at: now + after, f }; timers.push(t); return t; },
        clearTimer: (t) => { timers = timers.filter((x) => x !== t); },
        onElement: (e) => played.push({ at: now, fresh: e.fresh,
            seconds: decodePacket(e.packets[0]).chunks[0].seconds }),
        onStatus: (text) => statuses.push({ at: now, text }),
    });
    follower.start();
    for (; now < ms; now += 10) {
        during(now);
        server.tick(now);
        for (const t of timers.filter((x) => x.at <= now)) {
            timers = timers.filter((x) => x !== t);
            t.f();
        }
        for (let i = 0; i < 5; i++) await Promise.resolve();
    }
    follower.stop();
    return { played, statuses };
}

// Body elements after the last fresh one, checked to follow on from each other.
function contiguousSince(played, from) {
    const body = played.filter((p) => p.at >= from && p.seconds < 30000);
    for (let i = 1; i < body.length; i++) {
        assert.equal(body[i].seconds, body[i - 1].seconds + 1, `gap or repeat at ${body[i].at} ms`);
    }
    return body;
}

test('the follower plays every element once, at the pace of a server at real time or up to four times it', async () => {
    for (const speed of [1, 2, 4]) {
        const server = new FakeServer(speed);
        const { played } = await run(server, 60000);
        assert.equal(played.filter((p) => p.fresh).length, 1, `speed ${speed}: started over`);
        const body = contiguousSince(played, 0);
        // Still close to the newest at the end: less than 12 s of game (the jump comes at 20).
        const behind = server.newest(60000) * PER_FRAGMENT - (body[body.length - 1].seconds - 1000);
        assert.ok(behind < 24, `speed ${speed}: ${behind} elements behind`);
    }
});

test('a following viewer asks for the sync once a fragment, and once a second while it has none', async () => {
    const server = new FakeServer(1);
    const { played } = await run(server, 60000);
    contiguousSince(played, 0);
    // 30 fragments in the minute: one sync each, and the first ones before the stream was there.
    assert.ok(server.syncs >= 28 && server.syncs <= 34, `${server.syncs} syncs in 60 s`);

    const stalled = new FakeServer(1);
    await run(stalled, 20000, (now) => { stalled.down = now > 5000; });
    assert.ok(stalled.syncs >= 17, `${stalled.syncs} syncs in 20 s, 15 of them without a server`);
});

test('against a holding server a follower asks once per fragment, and for the sync only to join and twice a minute', async () => {
    for (const speed of [1, 3]) {
        const server = new FakeServer(speed, { hold: 10000 });
        const { played } = await run(server, 60000);
        assert.equal(played.filter((p) => p.fresh).length, 1, `speed ${speed}: started over`);
        const body = contiguousSince(played, 0);
        const fragments = server.newest(60000);
        const behind = fragments * PER_FRAGMENT - (body[body.length - 1].seconds - 1000);
        assert.ok(behind < 24, `speed ${speed}: ${behind} elements behind`);
        // Before the first fragment a sync a second; then one at the join and one per 30 s.
        assert.ok(server.syncs <= 6, `speed ${speed}: ${server.syncs} syncs`);
        assert.ok(server.requests <= fragments + server.syncs + 2, `speed ${speed}: ${server.requests} requests for ${fragments} fragments`);
    }
});

test('when a held fragment starts a map the follower reads the sync soon, for the new overview', async () => {
    const server = new FakeServer(1, { hold: 10000 });
    server.mapStart = 8;  // out at 16 s
    const { played } = await run(server, 40000);
    assert.equal(played.filter((p) => p.fresh).length, 2);  // the join and the map start
    assert.ok(server.syncTimes.some((t) => t > 16000 && t < 17500), `syncs at ${server.syncTimes}`);
    assert.ok(server.syncTimes.some((t) => t > 26000 && t < 28500), `syncs at ${server.syncTimes}`);
});

test('a held request that runs out is a stall, not a restart: the follower goes on where it was', async () => {
    const server = new FakeServer(1, { hold: 10000 });
    const { played, statuses } = await run(server, 70000, (now) => {
        if (now === 20000) server.stall(now);
        if (now === 45000) server.resume(now);
    });
    assert.equal(played.filter((p) => p.fresh).length, 1, 'started over after the stall');
    const body = contiguousSince(played, 0);
    assert.ok(body.at(-1).seconds - 1000 >= (server.newest(70000) - 3) * PER_FRAGMENT, 'did not catch up after the stall');
    assert.ok(!statuses.some((s) => s.at > 20000 && /No live stream/.test(s.text)), 'a stall was reported as a lost stream');

    const restarted = new FakeServer(1, { hold: 10000 });
    const after = await run(restarted, 50000, (now) => { if (now === 30000) restarted.restart(now); });
    const fresh = after.played.filter((p) => p.fresh);
    assert.equal(fresh.length, 2);
    const second = contiguousSince(after.played, fresh[1].at);
    assert.ok(second.length > 0 && second.every((p) => p.seconds >= 2000), 'played the old server after its restart');
});

test('after a stall or a server restart the follower starts over near the newest fragment', async () => {
    const stalled = new FakeServer(1);
    const { played, statuses } = await run(stalled, 70000, (now) => { stalled.down = now > 20000 && now < 45000; });
    assert.ok(statuses.some((s) => s.at > 20000 && /does not answer/.test(s.text)));
    const again = played.filter((p) => p.fresh && p.at > 45000);
    assert.equal(again.length, 1);
    const resumed = contiguousSince(played, again[0].at);
    assert.ok(resumed[0].seconds - 1000 >= (stalled.newest(45000) - 2) * PER_FRAGMENT, 'resumed from old fragments');

    const restarted = new FakeServer(1);
    const after = await run(restarted, 50000, (now) => { if (now === 30000) restarted.restart(now); });
    const fresh = after.played.filter((p) => p.fresh);
    assert.equal(fresh.length, 2);
    const second = contiguousSince(after.played, fresh[1].at);
    assert.ok(second.length > 0 && second.every((p) => p.seconds >= 2000), 'played the old server after its restart');
    assert.ok(after.statuses.some((s) => s.at >= 30000 && /No live stream yet/.test(s.text)));
});

test('the history behind a join runs on from the last fragment the server lacks', async () => {
    const { loadHistory } = await import('../../dist/addons/kovitv/viewer/fragments.js');
    const missing = new Set();
    const asked = [];
    const get = async (path) => {
        asked.push(path);
        const [, n, part] = path.match(/^(\d+)\/(start|body)$/);
        if (missing.has(`${n}/${part}`)) throw Object.assign(new Error('gone'), { status: 404 });
        const k = Number(n);
        if (part === 'start') return Uint8Array.from(element(0, 30000 + k));
        return Uint8Array.from(Array.from({ length: PER_FRAGMENT }, (_, i) => element(0, k * 10 + i)).flat());
    };
    const seconds = (elements) => elements.map((e) => decodePacket(e.packets[0]).chunks[0].seconds);
    const whole = await loadHistory(get, 3, 6);
    assert.deepEqual(seconds(whole), [30003, 30, 31, 32, 33, 40, 41, 42, 43, 50, 51, 52, 53]);
    assert.deepEqual(whole.map((e) => e.fresh), [true, ...Array(12).fill(false)]);
    assert.equal(asked.filter((p) => p.endsWith('/start')).length, 1);
    // A gap at 4: its deltas are lost, so the history starts again at 5 from 5's own start.
    missing.add('4/body');
    assert.deepEqual(seconds(await loadHistory(get, 3, 6)), [30005, 50, 51, 52, 53]);
    missing.add('5/start');
    assert.deepEqual(await loadHistory(get, 3, 6), []);
    assert.deepEqual(await loadHistory(get, 6, 6), []);
    // Other failures are the caller's to report.
    await assert.rejects(loadHistory(async () => { throw new TypeError('fetch failed'); }, 1, 3), TypeError);

    // With runs of 3 (4-6, 7-9) those come a request each; what lies around them body by body.
    missing.clear();
    const bodyOf = (k) => Array.from({ length: PER_FRAGMENT }, (_, i) => element(0, k * 10 + i)).flat();
    const runs = async (path) => {
        const m = path.match(/^(\d+)\/bodies$/);
        if (!m) return get(path);
        asked.push(path);
        const k = Number(m[1]);
        if ((k - 1) % 3 !== 0 || [k, k + 1, k + 2].some((n) => missing.has(`${n}/body`))) {
            throw Object.assign(new Error('no run'), { status: 404 });
        }
        return Uint8Array.from([k, k + 1, k + 2].flatMap(bodyOf));
    };
    asked.length = 0;
    const byRuns = await loadHistory(runs, 3, 12, 6, 3);
    assert.deepEqual(seconds(byRuns), [30003, ...[3, 4, 5, 6, 7, 8, 9, 10, 11].flatMap((k) => [0, 1, 2, 3].map((i) => k * 10 + i))]);
    assert.deepEqual(asked.sort(), ['10/body', '11/body', '3/body', '3/start', '4/bodies', '7/bodies']);
    // A run with a fragment gone is asked for body by body, and the gap is where it was.
    missing.add('6/body');
    assert.deepEqual(seconds(await loadHistory(runs, 3, 12, 6, 3)).slice(0, 2), [30007, 70]);
});

test('a sync the page asked for early is the first poll\'s answer, once; a failed one is asked for again', async () => {
    const asked = [];
    const answer = (fragment) => ({ ok: true, status: 200, json: async () => ({ fragment }) });
    const follower = (early) => new Follower({ base: '/live/', early, onElement: () => {},
        fetch: async (url, init) => { asked.push([url, init.cache]); return answer(9); } });
    const f = follower(Promise.resolve(answer(5)));
    assert.deepEqual(await f.get('sync', false), { fragment: 5 });
    assert.deepEqual(asked, []);
    assert.deepEqual(await f.get('sync', false), { fragment: 9 });
    assert.deepEqual(asked, [['/live/sync', 'no-store']], 'the follower\'s own sync is never from a cache either');
    // The early request failed (the page's inline fetch gives null then): the follower asks itself.
    assert.deepEqual(await follower(Promise.resolve(null)).get('sync', false), { fragment: 9 });
    assert.equal(asked.length, 2);
    // A fragment never takes the sync's answer.
    const g = follower(Promise.resolve(answer(5)));
    await g.get('1/body', true).catch(() => {});
    assert.deepEqual(asked[2], ['/live/1/body', 'default']);
    assert.deepEqual(await g.get('sync', false), { fragment: 5 });
});
