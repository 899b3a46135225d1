// The browser viewer in headless Chromium against the plugin running in simhost (started by
// scripts/viewer-check.sh): the live broadcast with the scripted match's names, teams and scores
// as simhost's trace has them, a map change, a recorded demo played and sought, screenshots, and
// the time from page load to the first drawn frame.
//
//   node viewer.mjs --base URL --trace FILE --started MS --speed X --delay S --artefacts DIR
//                   [--chromium PATH]
// Exit status 0 when every check passed, 1 when one failed, 2 for a bad command line.
import { mkdirSync } from 'node:fs';
import { parseArgs } from 'node:util';
import puppeteer from 'puppeteer-core';
import { readTrace, stateKey, statesBetween, traceStates } from './trace.mjs';

const USAGE = `Usage: node viewer.mjs --base URL --trace FILE --started MS --speed X --delay S --artefacts DIR [--chromium PATH]
  --base       the plugin's web address, e.g. http://127.0.0.1:27015
  --trace      simhost's --trace file of the running match (its first map de_kovi, then de_kovi_b)
  --started    when simhost was started, milliseconds since the epoch
  --speed      simhost's --speed; --delay: the plugin's delay in game seconds
  --artefacts  folder for the screenshots
  --chromium   the browser (default /usr/bin/chromium)`;

let args;
try {
    args = parseArgs({ options: {
        base: { type: 'string' }, trace: { type: 'string' }, started: { type: 'string' },
        speed: { type: 'string', default: '1' }, delay: { type: 'string', default: '30' },
        artefacts: { type: 'string', default: 'build/artefacts' },
        chromium: { type: 'string', default: '/usr/bin/chromium' }, help: { type: 'boolean' },
    } }).values;
} catch (error) {
    console.error(`viewer.mjs: ${error.message}\n${USAGE}`);
    process.exit(2);
}
if (args.help) { console.log(USAGE); process.exit(0); }
if (!args.base || !args.trace || !args.started) {
    console.error(`viewer.mjs: --base, --trace and --started are needed\n${USAGE}`);
    process.exit(2);
}

const viewer = `${args.base}/viewer/index.html`;
const started = Number(args.started);
const realDelay = Number(args.delay) / Number(args.speed);
const FIRST_MAP = 'de_kovi', SECOND_MAP = 'de_kovi_b';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const since = () => ((Date.now() - started) / 1000).toFixed(1);
mkdirSync(args.artefacts, { recursive: true });

let failed = 0;
const ok = (what) => console.log(`ok: ${what}`);
function fail(what) { console.log(`FAILED: ${what}`); failed++; }

// Polls probe() until it says ok; the last thing seen goes into the failure.
async function until(what, seconds, probe) {
    const end = Date.now() + seconds * 1000;
    let last = null;
    while (Date.now() < end) {
        last = await probe();
        if (last.ok) return last;
        await sleep(250);
    }
    throw new Error(`${what}: not within ${seconds} s; last seen: ${JSON.stringify(last?.seen ?? last)}`);
}

// The scoreboard as a reader sees it: map, team scores, the names listed under each team.
function readBoard(page) {
    return page.evaluate(() => {
        const text = (id) => document.getElementById(id).textContent;
        const tables = [...document.querySelectorAll('#teams .team')];
        const names = (i) => [...(tables[i]?.querySelectorAll('td.name') ?? [])].map((td) => td.textContent);
        const score = text('score').match(/^(\S*)\s+T (-?\d+) : (-?\d+) CT$/);
        return { map: score?.[1] ?? '', t: names(0), ct: names(1), scoreT: Number(score?.[2]),
            scoreCT: Number(score?.[3]), status: text('status'), source: text('source'),
            position: text('position') };
    });
}
const boardKey = (b) => stateKey(b.map, b.t, b.ct, b.scoreT, b.scoreCT);

// Waits for a scoreboard of `map` that is one of the trace's states (of the segments given, or
// of every segment of that map) and satisfies `also`.
async function matchTrace(page, what, seconds, map, also = () => true) {
    return until(what, seconds, async () => {
        const board = await readBoard(page);
        if (board.map !== map || !also(board)) return { ok: false, seen: board };
        const states = traceStates(readTrace(args.trace)).filter((s) => s.map === map);
        return { ok: states.some((s) => s.key === boardKey(board)), seen: board, board };
    });
}

const browser = await puppeteer.launch({
    executablePath: args.chromium, headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run'],
});
const pageErrors = [];
async function openPage(url) {
    const page = await browser.newPage();
    page.on('pageerror', (error) => pageErrors.push(error.message));
    await page.setViewport({ width: 1400, height: 1000 });
    await page.goto(url, { waitUntil: 'load' });
    return page;
}

async function firstFrameMs(url) {
    const page = await openPage(url);
    await page.waitForFunction(() => performance.getEntriesByName('kovitv-first-frame').length > 0, { timeout: 30000 });
    const ms = await page.evaluate(() => performance.getEntriesByName('kovitv-first-frame')[0].startTime);
    await page.close();
    return ms;
}
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

try {
    // --- live, from simhost's start on
    const page = await openPage(viewer);
    const overviewLoads = [];
    page.on('response', (r) => { if (r.url().includes('/overviews/')) overviewLoads.push({ url: r.url(), status: r.status(), type: r.headers()['content-type'] }); });
    const waiting = await until('the viewer says it waits for the broadcast', 20, async () => {
        const b = await readBoard(page);
        return { ok: /No live stream yet/.test(b.status) || b.t.length > 0, seen: b };
    });
    ok(`before the delay has passed the page says: "${waiting.seen.status}"`);

    const live = await matchTrace(page, 'live: the match\'s players as the trace has them', realDelay * 2 + 40,
        FIRST_MAP, (b) => b.t.length + b.ct.length >= 8);
    ok(`live after ${since()} s (the delay is ${realDelay} s of real time): T ${live.board.t.join(', ')} | CT ${live.board.ct.join(', ')}`);
    if (/Viewer Check Arena/.test(live.board.source)) ok(`the page names the server: "${live.board.source}"`);
    else fail(`the server's name is missing: "${live.board.source}"`);

    const scored = await matchTrace(page, 'live: a round\'s score as the trace has it', 150, FIRST_MAP,
        (b) => b.scoreT + b.scoreCT > 0 && b.t.length + b.ct.length >= 8);
    ok(`live score T ${scored.board.scoreT} : ${scored.board.scoreCT} CT with the trace's teams, after ${since()} s`);
    await page.screenshot({ path: `${args.artefacts}/viewer-live.png` });

    // The overview picture simhost drew: fetched, and what the map canvas shows behind the markers.
    const picture = overviewLoads.find((o) => o.url.endsWith(`/overviews/${FIRST_MAP}.bmp`));
    if (picture?.status === 200 && picture.type === 'image/bmp') ok(`the overview ${picture.url} was loaded`);
    else fail(`the overview picture was not loaded: ${JSON.stringify(overviewLoads)}`);
    const same = await page.evaluate(async (url) => {
        const image = new Image();
        image.src = url;
        await image.decode();
        const copy = new OffscreenCanvas(1024, 768).getContext('2d');
        copy.drawImage(image, 0, 0);
        const shown = document.getElementById('map').getContext('2d');
        let equal = 0;
        for (let i = 0; i < 40; i++) {
            const u = 40 + (i % 8) * 130, v = 40 + Math.floor(i / 8) * 150;
            const a = copy.getImageData(u, v, 1, 1).data, b = shown.getImageData(u, v, 1, 1).data;
            if (a.every((x, k) => Math.abs(x - b[k]) <= 2)) equal++;
        }
        return equal;
    }, `${args.base}/overviews/${FIRST_MAP}.bmp`);
    if (same >= 30) ok(`the map canvas shows the overview picture (${same} of 40 sample points)`);
    else fail(`the map canvas differs from the overview picture at ${40 - same} of 40 sample points`);

    // --- the map change
    const second = await matchTrace(page, `live: the map change to ${SECOND_MAP}`, 240, SECOND_MAP,
        (b) => b.t.length + b.ct.length >= 8);
    ok(`followed the map change after ${since()} s: ${second.board.map}, T ${second.board.t.length} and CT ${second.board.ct.length} players as the trace has them`);
    await sleep(1500);
    await page.screenshot({ path: `${args.artefacts}/viewer-map-change.png` });

    // --- page load to first frame, with the stream running
    const liveMs = [];
    for (let i = 0; i < 3; i++) liveMs.push(await firstFrameMs(viewer));
    console.log(`benchmark: page load to first drawn frame, live: ${median(liveMs).toFixed(0)} ms median of ${liveMs.map((x) => x.toFixed(0)).join(', ')}`);

    // --- a recorded demo from the server's list
    const picked = await until('the recorded demo of the first map is listed', 20, async () => {
        await page.focus('#demos');  // the list is fetched again when it is opened
        const options = await page.$$eval('#demos option', (os) => os.map((o) => ({ value: o.value, text: o.textContent })));
        const hidden = await page.$eval('#recorded', (e) => e.hidden);
        // Newest first: the last of the first map's name is the first map's (the cycle comes back to it).
        const demo = options.filter((o) => o.value.endsWith(`_${FIRST_MAP}.kdem`)).pop();
        return { ok: !hidden && demo !== undefined, seen: { hidden, options }, demo };
    });
    ok(`the server lists the demo: "${picked.demo.text}"`);
    await page.select('#demos', picked.demo.value);
    const loaded = await until('the demo is loaded', 30, async () => {
        const b = await readBoard(page);
        return { ok: /^0:0\d \/ \d+:\d\d$/.test(b.position), seen: b };
    });
    const [, lengthText] = loaded.seen.position.split(' / ');
    const length = Number(lengthText.split(':')[0]) * 60 + Number(lengthText.split(':')[1]);
    const events = readTrace(args.trace);
    const firstMap = traceStates(events).filter((s) => s.segment === 0);
    const mapEnd = firstMap[firstMap.length - 1].time;
    if (length >= mapEnd - 3 && length <= mapEnd + 30) ok(`the demo covers the first map: ${loaded.seen.position} (its last round ended at ${mapEnd.toFixed(0)} s)`);
    else fail(`the demo's length ${lengthText} does not fit the first map (last round end at ${mapEnd.toFixed(0)} s)`);

    await page.click('#play');  // pause
    const box = await (await page.$('#timeline')).boundingBox();
    await page.mouse.click(box.x + box.width * 0.8, box.y + box.height / 2);
    await sleep(800);  // the panels are redrawn four times a second
    const sought = await readBoard(page);
    const [m, s] = sought.position.split(' / ')[0].split(':').map(Number);
    const at = m * 60 + s;
    if (Math.abs(at - 0.8 * length) <= 2) ok(`seeking to 80 % of the timeline shows ${sought.position}`);
    else fail(`seeking to 80 % of ${length} s shows ${sought.position}`);
    // Record r of the demo is game time 1 + r / 2 of the map (the engine starts a map at 1 s).
    const around = statesBetween(traceStates(events), 0, 1 + at - 2, 1 + at + 2).map((x) => x.key);
    if (around.includes(boardKey(sought))) ok(`after the seek the scoreboard is the trace's at ${at} s: T ${sought.scoreT} : ${sought.scoreCT} CT, ${sought.t.length} + ${sought.ct.length} players`);
    else fail(`after the seek to ${at} s the scoreboard ${boardKey(sought)} is none of the trace's then: ${around.join(' ')}`);
    await page.screenshot({ path: `${args.artefacts}/viewer-demo.png` });

    await sleep(1000);
    if ((await readBoard(page)).position === sought.position) ok('paused, the demo stays where it is');
    else fail('the demo moved on while paused');
    await page.click('#timeline', { offset: { x: box.width * 0.1, y: box.height / 2 } });
    await page.select('#speed', '4');
    await page.click('#play');
    const before = Date.now();
    const fromAt = Math.round(0.1 * length);
    await sleep(2000);
    const [pm, ps] = (await readBoard(page)).position.split(' / ')[0].split(':').map(Number);
    const advanced = pm * 60 + ps - fromAt, wall = (Date.now() - before) / 1000;
    if (advanced >= 1.5 * wall && advanced <= 6 * wall) ok(`playing at 4x: ${advanced} s of game in ${wall.toFixed(1)} s`);
    else fail(`playing at 4x moved ${advanced} s of game in ${wall.toFixed(1)} s`);

    // The start page's link for a demo named after its '?' opens the viewer on that demo.
    const start = await openPage(`${args.base}/?${picked.demo.value.slice(1)}`);
    const link = await start.$eval('#viewer', (a) => a.href);
    await start.goto(link, { waitUntil: 'load' });
    const linked = await until('the start page\'s link plays its demo', 20, async () => {
        const b = await readBoard(start);
        return { ok: b.position.endsWith(` / ${lengthText}`), seen: b };
    });
    ok(`the start page links the demo to the viewer: ${link.slice(args.base.length)} shows ${linked.seen.position}`);
    await start.close();

    const demoMs = [];
    const demoUrl = `${viewer}#demo=${encodeURIComponent(picked.demo.value)}`;
    for (let i = 0; i < 3; i++) demoMs.push(await firstFrameMs(demoUrl));
    console.log(`benchmark: page load to first drawn frame, demo of ${length} s: ${median(demoMs).toFixed(0)} ms median of ${demoMs.map((x) => x.toFixed(0)).join(', ')}`);
} catch (error) {
    fail(error.message);
}

if (pageErrors.length > 0) fail(`errors in the page: ${pageErrors.join('; ')}`);
else ok('no script errors in the page');
await browser.close();
process.exit(failed > 0 ? 1 : 0);
