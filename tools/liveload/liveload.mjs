#!/usr/bin/env node
// Simulated browser viewers of the live stream over HTTP: each runs the viewer's own Follower
// (dist/addons/kovitv/viewer/fragments.js) on its own game clock, and the tool checks that every
// viewer got every fragment, in time and without jumps. With --nginx-log it also counts what
// reached the game server through the cache.
import { readFileSync } from 'node:fs';
import http from 'node:http';
import { performance } from 'node:perf_hooks';
import { Follower, playStep } from '../../dist/addons/kovitv/viewer/fragments.js';

const USAGE = `usage: liveload.mjs --url URL [options]

  --url URL            the viewers' /live/ base, e.g. http://127.0.0.1:8080/live/ (through a cache)
  --origin URL         the game server's own /live/ base, polled every 100 ms to learn when each
                       fragment was published (default: --url)
  --viewers N          simulated viewers (default 1000)
  --seconds S          real seconds the viewers follow the stream (default 40)
  --speed X            game seconds per real second, as simhost's --speed (default 1)
  --ramp S             the viewers join over this many real seconds (default 3)
  --wait S             real seconds to wait for the first fragment (default 120)
  --late S             a viewer must have a fragment's body within S real seconds of its
                       publication (default 5)
  --nginx-log FILE     nginx access log ("$msec $upstream_cache_status $upstream_addr $status
                       $request_uri"): count the requests that reached the game server
  --max-origin-per-fragment N   bound on those per fragment (default 5)
  --help               this text

Prints progress every 5 s, then the figures. Exit status: 0 every bound held, 1 a bound failed,
2 bad command line, 3 the stream never started (nothing answered or no fragment came).`;

function parseArgs(argv) {
    const o = { viewers: 1000, seconds: 40, speed: 1, ramp: 3, wait: 120, late: 5,
                maxOriginPerFragment: 5, url: null, origin: null, nginxLog: null };
    const numeric = { '--viewers': 'viewers', '--seconds': 'seconds', '--speed': 'speed',
                      '--ramp': 'ramp', '--wait': 'wait', '--late': 'late',
                      '--max-origin-per-fragment': 'maxOriginPerFragment' };
    for (let i = 0; i < argv.length; i++) {
        const a = argv[i];
        if (a === '--help' || a === '-h') { console.log(USAGE); process.exit(0); }
        const v = argv[i + 1];
        if (v === undefined) usageError(`${a} needs a value`);
        i++;
        if (a in numeric) {
            const n = Number(v);
            if (!Number.isFinite(n) || n < 0) usageError(`${a} wants a number, not "${v}"`);
            o[numeric[a]] = n;
        } else if (a === '--url') o.url = v.endsWith('/') ? v : `${v}/`;
        else if (a === '--origin') o.origin = v.endsWith('/') ? v : `${v}/`;
        else if (a === '--nginx-log') o.nginxLog = v;
        else usageError(`unknown option ${a}`);
    }
    if (!o.url) usageError('--url is required');
    if (o.viewers < 1 || o.speed <= 0 || o.seconds <= 0) usageError('--viewers, --speed and --seconds must be above 0');
    o.origin ??= o.url;
    return o;
}

function usageError(message) {
    console.error(`liveload: ${message}\n${USAGE}`);
    process.exit(2);
}

const opt = parseArgs(process.argv.slice(2));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const seconds = () => performance.now() / 1000;
const published = new Map();  // fragment -> real second it first showed in the origin's sync
let newestPublished = 0;

// Node's own client with its strict parser (the plugin's header lines end with CRLF, and a bare
// LF would fail the request). A viewer has its own connections, as a browser has, and sends what
// a browser's fetch adds for no-store.
function httpGet(agent, url, init) {
    const headers = init?.cache === 'no-store' ? { 'cache-control': 'no-cache', pragma: 'no-cache' } : {};
    return new Promise((resolve, reject) => {
        const request = http.get(url, { agent, headers }, (response) => {
            const chunks = [];
            response.on('data', (c) => chunks.push(c));
            response.on('error', (e) => reject(new TypeError(`fetch failed: ${e.message}`)));
            response.on('end', () => {
                const b = Buffer.concat(chunks);
                let headerBytes = 17 + (response.statusMessage ?? '').length + 2;
                for (const h of response.rawHeaders) headerBytes += h.length + 2;
                resolve({ ok: response.statusCode >= 200 && response.statusCode < 300,
                          status: response.statusCode, headerBytes,
                          bytes: new Uint8Array(b.buffer, b.byteOffset, b.length) });
            });
        });
        request.on('error', (e) => reject(new TypeError(`fetch failed: ${e.message}`)));
        request.setTimeout(10000, () => request.destroy(new Error('no answer in 10 s')));
    });
}

const originAgent = new http.Agent({ keepAlive: true, maxSockets: 1 });
async function originSync() {
    try {
        const r = await httpGet(originAgent, `${opt.origin}sync`, { cache: 'no-store' });
        return r.ok ? JSON.parse(new TextDecoder().decode(r.bytes)) : null;
    } catch {
        return null;
    }
}

async function watchOrigin(until) {
    while (seconds() < until) {
        const sync = await originSync();
        const n = sync?.fragment;
        if (Number.isInteger(n) && n > newestPublished) {
            const at = seconds();
            for (let f = newestPublished + 1; f <= n; f++) published.set(f, at);
            newestPublished = n;
        }
        await sleep(100);
    }
}

// The viewer's follower, with its game clock scaled to simhost's and a coarser play timer (the
// page's 50 ms timer times a thousand viewers would be most of this tool's work).
class LoadViewer extends Follower {
    play() {
        const now = this.now();
        const perFragment = this.sync?.elements ?? 4;
        while (this.queue.length > 0 && now >= this.dueAt) {
            const step = playStep(this.queue.length, perFragment);
            this.onElement(this.queue.shift(), step);
            this.dueAt = (this.dueAt < now - step ? now : this.dueAt) + step;
        }
        // An element was due and none had come: the picture stood still.
        if (this.queue.length === 0 && this.dueAt > 0 && now >= this.dueAt + 250) this.stat.dry++;
        if (this.dueAt > 0) this.stat.checks++;
        this.later(() => this.play(), 250);
    }
}

function makeViewer() {
    const stat = { bodies: new Map(), starts: [], requests: 0, payload: 0, headers: 0,
                   kind: { sync: 0, start: 0, body: 0 }, errors: new Map(), dry: 0, checks: 0, elements: 0, joined: 0,
                   joinBytes: null, joinAt: 0 };
    const agent = new http.Agent({ keepAlive: true, maxSockets: 6 });
    const viewer = new LoadViewer({
        base: opt.url,
        fetch: async (url, init) => {
            stat.requests++;
            const response = await httpGet(agent, url, init);
            const bytes = response.bytes;
            stat.payload += bytes.length;
            stat.headers += response.headerBytes;
            const m = /\/(\d+)\/(start|body)$/.exec(url);
            stat.kind[m ? m[2] : 'sync'] += bytes.length;
            if (response.ok && m) {
                if (m[2] === 'body') stat.bodies.set(Number(m[1]), seconds());
                else stat.starts.push(Number(m[1]));
            }
            return { ok: response.ok, status: response.status,
                     arrayBuffer: async () => bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length),
                     json: async () => JSON.parse(new TextDecoder().decode(bytes)) };
        },
        onElement: () => { stat.elements++; },
        // What the join cost (its sync, start and first body) ends here: a UDP spectator's
        // first full state is not in its figure either.
        onStart: () => { if (stat.joinBytes === null) { stat.joinBytes = stat.payload + stat.headers; stat.joinAt = seconds(); } },
        onStatus: (text) => { if (text) stat.errors.set(text, (stat.errors.get(text) ?? 0) + 1); },
        now: () => performance.now() * opt.speed,
        setTimer: (f, ms) => setTimeout(f, ms / opt.speed),
    });
    viewer.stat = stat;
    viewer.agent = agent;
    return viewer;
}

// Requests in the nginx log from `from` to `to` (epoch seconds) under /live/: all, and those
// that went on to the game server.
function countLog(file, from, to) {
    const counts = { served: 0, origin: 0, statuses: new Map() };
    let text = '';
    try { text = readFileSync(file, 'utf8'); } catch (e) { return null; }
    for (const line of text.split('\n')) {
        const [msec, cache, upstream, status, uri] = line.split(' ');
        const at = Number(msec);
        if (!uri || !uri.startsWith('/live/') || at < from || at > to) continue;
        counts.served++;
        if (upstream !== '-') counts.origin++;
        const key = `${status} ${cache}`;
        counts.statuses.set(key, (counts.statuses.get(key) ?? 0) + 1);
    }
    return counts;
}

const percentile = (sorted, p) => sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))] : 0;

async function main() {
    console.log(`liveload: waiting for the first fragment at ${opt.origin}sync`);
    const waitUntil = seconds() + opt.wait;
    while (newestPublished === 0) {
        const n = (await originSync())?.fragment;
        if (Number.isInteger(n) && n > 0) { newestPublished = n; published.set(n, seconds()); break; }
        if (seconds() > waitUntil) { console.error(`liveload: no fragment within ${opt.wait} s`); process.exit(3); }
        await sleep(200);
    }
    const begin = seconds();
    const wallBegin = Date.now() / 1000;
    const end = begin + opt.ramp + opt.seconds;
    const watching = watchOrigin(end);
    console.log(`liveload: fragment ${newestPublished} is out; ${opt.viewers} viewers join over ${opt.ramp} s and follow for ${opt.seconds} s at ${opt.speed}x`);

    const viewers = [];
    for (let i = 0; i < opt.viewers; i++) {
        const v = makeViewer();
        viewers.push(v);
        setTimeout(() => { v.stat.joined = seconds(); v.start(); }, (opt.ramp * 1000 * i) / opt.viewers);
    }
    const progress = setInterval(() => {
        const requests = viewers.reduce((s, v) => s + v.stat.requests, 0);
        console.log(`liveload: ${Math.round(seconds() - begin)} s, newest fragment ${newestPublished}, ${requests} viewer requests`);
    }, 5000);
    await watching;
    clearInterval(progress);
    for (const v of viewers) { v.stop(); v.agent.destroy(); }
    const wallEnd = Date.now() / 1000;
    const stopAt = seconds();

    // Every fragment published at least `late` seconds before the end must have reached every
    // viewer, from the one it started at on.
    let missing = 0, jumps = 0, lateCount = 0, silent = 0, checked = 0;
    const lateness = [];
    let payload = 0, headers = 0, requests = 0, dry = 0, checks = 0, following = 0, followingSeconds = 0;
    const errors = new Map();
    const kind = { sync: 0, start: 0, body: 0 };
    for (const v of viewers) {
        const s = v.stat;
        for (const k in kind) kind[k] += s.kind[k];
        payload += s.payload; headers += s.headers; requests += s.requests; dry += s.dry; checks += s.checks;
        if (s.joinBytes !== null) {
            following += s.payload + s.headers - s.joinBytes;
            followingSeconds += (stopAt - s.joinAt) * opt.speed;
        }
        for (const [k, n] of s.errors) errors.set(k, (errors.get(k) ?? 0) + n);
        if (s.starts.length === 0) { silent++; continue; }
        jumps += s.starts.length - 1;
        const first = s.starts[0];
        for (const [f, at] of published) {
            if (f < first || at > stopAt - opt.late) continue;
            checked++;
            const got = s.bodies.get(f);
            if (got === undefined) { missing++; continue; }
            const delay = got - Math.max(at, s.joined);
            lateness.push(delay);
            if (delay > opt.late) lateCount++;
        }
    }
    lateness.sort((a, b) => a - b);
    const fragments = [...published.keys()].filter((f) => published.get(f) >= begin).length;
    const gameSeconds = (stopAt - begin - opt.ramp / 2) * opt.speed;

    console.log(`liveload: ${opt.viewers} viewers, ${fragments} fragments published while they followed (${(stopAt - begin).toFixed(0)} s)`);
    console.log(`liveload: ${checked} viewer-fragments due, ${missing} missing, ${lateCount} later than ${opt.late} s, ${jumps} jumps, ${silent} viewers never started`);
    console.log(`liveload: publication to viewer: median ${percentile(lateness, 0.5).toFixed(2)} s, 99% ${percentile(lateness, 0.99).toFixed(2)} s, max ${(lateness.at(-1) ?? 0).toFixed(2)} s`);
    console.log(`liveload: per viewer ${(requests / opt.viewers).toFixed(1)} requests, ${(payload / opt.viewers / gameSeconds).toFixed(0)} B per game second of content, ${((payload + headers) / opt.viewers / gameSeconds).toFixed(0)} B with headers; playback stood still ${(100 * dry / Math.max(1, checks)).toFixed(1)}% of the time`);
    console.log(`liveload: following, after the join: ${(following / Math.max(1, followingSeconds)).toFixed(0)} B per game second with headers`);
    const rate = (n) => (n / opt.viewers / gameSeconds).toFixed(0);
    console.log(`liveload: of that, B per game second: sync ${rate(kind.sync)}, starts ${rate(kind.start)}, bodies ${rate(kind.body)}`);
    for (const [k, n] of errors) console.log(`liveload: status "${k}" ${n} times`);

    let failed = missing > 0 || lateCount > 0 || jumps > 0 || silent > 0;
    if (opt.nginxLog) {
        await sleep(500);  // nginx writes its log lines as requests end
        const c = countLog(opt.nginxLog, wallBegin, wallEnd + 1);
        if (!c) { console.error(`liveload: cannot read ${opt.nginxLog}`); process.exit(1); }
        const perFragment = c.origin / Math.max(1, fragments);
        console.log(`liveload: through the cache: ${c.served} requests served, ${c.origin} reached the game server`);
        console.log(`liveload: ${(c.served / Math.max(1, c.origin)).toFixed(1)} viewer requests served per origin request, ${perFragment.toFixed(2)} origin requests per fragment (bound ${opt.maxOriginPerFragment})`);
        console.log(`liveload: by status and cache: ${[...c.statuses].map(([k, n]) => `${k}=${n}`).join(' ')}`);
        if (perFragment > opt.maxOriginPerFragment) failed = true;
    }
    console.log(failed ? 'liveload: FAILED: a bound did not hold' : 'liveload: every bound held');
    process.exit(failed ? 1 : 0);
}

main().catch((e) => { console.error(`liveload: ${e.stack ?? e}`); process.exit(1); });
