// The viewer page: live (the broadcast over /live/, kept from the current map's start so it can
// be paused and rewound) or a demo (picked from the server's list, a file from the disk, or named
// in the address), one map canvas with zoom and pan, the panels, the transport controls, the
// timeline with rounds and highlights, and the keys. The first frame that shows a game is marked
// as "kovitv-first-frame" in the page's performance timeline.

import { readAddress, writeAddress } from './address.js';
import { demoLabel, isDemoPath, parseDemo } from './demo.js';
import { Follower, loadHistory } from './fragments.js';
import { renderPanels, renderRounds } from './panels.js';
import { DemoPlayer, RECORDS_PER_SECOND } from './player.js';
import { roundAt } from './rounds.js';
import { decodePacket } from './stream.js';
import { contentBox, MapView } from './view.js';

const $ = (id) => document.getElementById(id);
const view = new MapView($('map'));
const panels = { score: $('score'), round: $('round'), clock: $('clock'), bomb: $('bomb'), teams: $('teams'),
    feed: $('feed'), chat: $('chat') };
const PANEL_MS = 250;  // the text is rebuilt at most this often
const ADDRESS_MS = 1000;  // the address follows the moment this often
const SPEEDS = [0.25, 0.5, 1, 2, 4, 8];
const LIVE_EDGE = 3;  // records behind the newest that still count as live
const JUMP_BEFORE = 6;  // a highlight is shown from this many records before it

// What is shown: { kind: 'live'|'demo', player: DemoPlayer, url, name, follower, sync }
let shown = null;
let lastFrame = performance.now();
let lastPanels = 0, lastAddress = 0, roundsDrawn = '';
let firstFrame = false;
const focus = { selected: -1, hover: -1, follow: -1 };
let followName = null;  // kept by name: slots change hands between maps

// One message in the header. An error stays a while even if the stream has news, so a spectator
// sent to the live game after a bad link reads why.
let stickyUntil = 0;
function status(text, kind = '') {
    const now = performance.now();
    if (!kind && now < stickyUntil) return;
    if (kind === 'error') stickyUntil = now + 10000;
    $('status').textContent = text;
    $('status').className = kind;
}

// Overview pictures by map name, from what the server says it has (the live sync and the demo
// list name each map's file): nothing is asked for that was not named.
const pictures = new Map();  // map -> path in the plugin folder, '' for none
const overviews = new Map();  // path -> Image once loaded, null while loading or failed
const inFolder = (path) => `../${path.split('/').map(encodeURIComponent).join('/')}`;
// What the first frame does not need waits for it (or a second and a half at most), so the
// stream's first fragments do not share the server with a picture of megabytes or a listing.
const waiting = [];
function afterFirstFrame(f) {
    if (firstFrame) f();
    else waiting.push(f);
}
function firstFrameDone() {
    firstFrame = true;
    performance.mark('kovitv-first-frame');
    for (const f of waiting.splice(0)) f();
}
setTimeout(() => { if (!firstFrame) for (const f of waiting.splice(0)) f(); }, 1500);

function learnPicture(map, path) {
    if (typeof map !== 'string' || typeof path !== 'string' || pictures.get(map) === path) return;
    pictures.set(map, path);
    if (path && !overviews.has(path)) afterFirstFrame(() => loadPicture(path));
}
function loadPicture(path) {
    if (!overviews.has(path)) {
        overviews.set(path, null);
        const image = new Image();
        image.onload = () => {
            image.content = contentBox(image);
            overviews.set(path, image);
        };
        image.src = inFolder(path);
    }
}
function overviewFor(state) {
    const path = pictures.get(state.map?.name ?? '');
    return path ? overviews.get(path) ?? null : null;
}

function stop() {
    shown?.follower?.stop();
    shown = null;
    roundsDrawn = '';
    $('transport').hidden = true;
    $('timeline').hidden = true;
    $('live').classList.remove('active');
}

function remember() {
    if (!shown || (shown.kind === 'demo' && !shown.url)) {
        history.replaceState(null, '', location.pathname);
        return;
    }
    const p = shown.player;
    // A live moment is named only once the map's history is in: its times count from the map's
    // first fragment then, the same for every spectator.
    const t = shown.kind === 'live' && (atLiveEdge() || shown.history !== 'done') ? 0 : p.time;
    const hash = writeAddress({ demo: shown.url ?? null, live: shown.kind === 'live', t, follow: followName });
    history.replaceState(null, '', `${location.pathname}${hash ? `#${hash}` : ''}`);
}

const atLiveEdge = () => shown?.kind === 'live' && shown.player.length - shown.player.position <= LIVE_EDGE;

function startLive(at = 0) {
    stop();
    $('demos').value = '';
    $('live').classList.add('active');
    $('source').textContent = 'live broadcast';
    status('Connecting to the live stream');
    const player = new DemoPlayer([], { live: true });
    player.playing = true;
    player.speed = 1;
    $('speed').value = '1';
    const live = { kind: 'live', player, sync: null, at, history: null };
    shown = live;
    live.follower = new Follower({
        onSync: (sync) => {
            live.sync = sync;
            learnPicture(sync.map, sync.overview);
            $('source').textContent = `live: ${sync.server || 'server'}`;
        },
        onStatus: (text) => status(text),
        onStart: (fragment) => rewindable(live, fragment),
        onElement: (element) => {
            if (shown !== live) return;
            // A new map starts a timeline of its own: rewinding goes back to its start.
            if (live.player.length > 0 && opensMap(element)) {
                const next = new DemoPlayer([], { live: true });
                next.playing = true;
                next.speed = live.player.speed;
                live.player = next;
                roundsDrawn = '';
            }
            const p = live.player;
            const wasEdge = p.position === p.length;
            p.append(element.packets, element.fresh);
            // At the newest moment the follower's pace is the playing pace.
            if (wasEdge && p.playing) while (p.position < p.length) p.step();
        },
    });
    live.follower.start();
    $('transport').hidden = false;
    $('timeline').hidden = false;
}

// Live joined at `joined`: the map's earlier fragments the server keeps are loaded behind what
// plays, so pause and rewind reach back to the map's start.
function rewindable(live, joined) {
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
        // A map change meanwhile made the history another map's.
        if (shown !== live || live.player !== before || elements.length === 0) {
            live.history = 'none';
            return;
        }
        // From the map's own first element: what the start before it holds is the map before.
        let from = 0;
        elements.forEach((e, i) => { if (e.fresh) from = i; });
        const next = new DemoPlayer([], { live: true });
        for (const e of elements.slice(from)) next.append(e.packets, e.fresh);
        // The join's start element is the state the history ends in: its body follows on.
        for (let i = 1; i < before.length; i++) next.append(before.records[i], before.fresh[i]);
        next.seek(elements.length - from + Math.max(before.position - 1, 0));
        next.playing = before.playing;
        next.speed = before.speed;
        live.player = next;
        live.history = 'done';
        roundsDrawn = '';
        if (live.at > 0) seekRecord(live.at * RECORDS_PER_SECOND);
    }).catch(() => { live.history = 'failed'; });
}

// An unnamed map chunk starts a map (the rule state.js applies).
const opensMap = (element) => element.packets.some((bytes) =>
    decodePacket(bytes).chunks.some((c) => c.type === 'map' && c.name === ''));

function startDemo(buffer, name, url, at = 0) {
    stop();
    const { records, fault } = parseDemo(buffer);
    if (records.length === 0) {
        status(`${name}: nothing to replay${fault ? ` (${fault.message})` : ''}`, 'error');
        $('source').textContent = 'no demo loaded';
        return false;
    }
    status(fault ? `${name} is damaged at byte ${fault.offset} (${fault.message}); replaying the ${records.length} records before it` : '');
    const player = new DemoPlayer(records);
    // Never before the first record: it holds the map and the players.
    player.seek(Math.max(1, at * RECORDS_PER_SECOND));
    player.playing = true;
    player.speed = Number($('speed').value);
    shown = { kind: 'demo', player, url, name };
    $('source').textContent = `demo: ${name}`;
    $('transport').hidden = false;
    $('timeline').hidden = false;
    applyFollow();
    remember();
    return true;
}

async function loadDemoUrl(url, at) {
    stop();
    status(`Loading ${url}`);
    $('source').textContent = 'loading a demo';
    try {
        const response = await fetch(url, { cache: 'no-store' });  // a demo being recorded grows
        if (!response.ok) {
            throw new Error(response.status === 404 ? 'the server has no such file (HTTP 404)' : `HTTP ${response.status}`);
        }
        // The file's own name is enough in the header; the address keeps the whole path.
        const name = decodeURIComponent(url.split('/').pop() || url);
        if (!startDemo(await response.arrayBuffer(), name, url, at)) startLive();
    } catch (error) {
        // The page stays useful: the live game instead, the reason in the header.
        startLive();
        status(`Cannot open the demo ${url}: ${error.message}. Showing the live game instead.`, 'error');
    }
}

const clock = (seconds) => {
    const s = Math.max(0, Math.floor(seconds));
    return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
};

const MARKER_COLOUR = { round: '#ffffff', kill: '#e04040', map: '#f5c542', start: '#777777' };
const HIGHLIGHT_COLOUR = { opening: '#ff8a6a', multikill: '#ff4040', clutch: '#c08aff', defuse: '#6ad26a' };

function drawTimeline(p) {
    const canvas = $('timeline');
    const width = canvas.clientWidth, height = canvas.clientHeight;
    const dpr = devicePixelRatio || 1;
    if (canvas.width !== Math.round(width * dpr)) canvas.width = Math.round(width * dpr);
    if (canvas.height !== Math.round(height * dpr)) canvas.height = Math.round(height * dpr);
    const ctx = canvas.getContext('2d');
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    const x = (record) => (record / Math.max(p.length, 1)) * width;
    ctx.fillStyle = '#24282d';
    ctx.fillRect(0, 0, width, height);
    ctx.fillStyle = '#3a4f66';
    ctx.fillRect(0, 0, x(p.position), height);
    for (const m of p.markers) {
        ctx.fillStyle = MARKER_COLOUR[m.kind];
        const tall = m.kind === 'kill' ? 10 : m.kind === 'start' ? 6 : height;
        ctx.fillRect(Math.floor(x(m.record)), height - tall, m.kind === 'kill' ? 1 : 2, tall);
    }
    for (const h of p.highlights) {  // diamonds along the top
        const hx = x(h.record);
        ctx.fillStyle = HIGHLIGHT_COLOUR[h.kind];
        ctx.beginPath();
        ctx.moveTo(hx, 1); ctx.lineTo(hx + 5, 7); ctx.lineTo(hx, 13); ctx.lineTo(hx - 5, 7);
        ctx.fill();
    }
    ctx.fillStyle = '#f5c542';
    ctx.fillRect(x(p.position) - 1.5, 0, 3, height);
}

function applyFollow() {
    if (!shown || !followName) { focus.follow = -1; return; }
    const s = shown.player.state;
    focus.follow = s.players.findIndex((p) => p.name === followName && s.present(p.slot));
}

function frame(now) {
    const seconds = Math.min((now - lastFrame) / 1000, 1);
    lastFrame = now;
    if (shown) {
        const p = shown.player;
        p.advance(seconds);
        const state = p.state;
        applyFollow();
        $('play').textContent = p.playing ? 'Pause' : 'Play';
        if (shown.kind === 'live') {
            const behind = (p.length - p.position) / RECORDS_PER_SECOND;
            const delay = Number.isInteger(shown.sync?.delay) ? shown.sync.delay : 0;
            const edge = atLiveEdge();
            $('golive').hidden = edge && p.playing;
            $('delay').textContent = edge && p.playing ? `live, ${delay} s behind the game` : `${Math.round(delay + behind)} s behind the game (${clock(behind)} behind live)`;
            $('delay').className = edge ? '' : 'behind';
            $('position').textContent = `${clock(p.time)} / ${clock(p.length / RECORDS_PER_SECOND)}`;
        } else {
            $('golive').hidden = true;
            $('delay').textContent = '';
            $('position').textContent = `${clock(p.time)} / ${clock(p.length / RECORDS_PER_SECOND)}`;
        }
        if (p.length > 0) drawTimeline(p);
        const picture = overviewFor(state);
        view.setContent(picture && state.map?.zoom > 0 ? picture.content ?? null : null);
        view.draw(state, p.time, picture, focus);
        if (!firstFrame && state.map) firstFrameDone();  // drawn from the stream, not an empty start
        if (now - lastPanels > PANEL_MS) {
            const current = roundAt(p.rounds, p.position);
            renderPanels(panels, state, p.time, [focus.selected, focus.follow], current?.number);
            const key = `${p.rounds.length}/${p.highlights.length}/${current?.start}/${current?.end}`;
            if (key !== roundsDrawn) {
                renderRounds({ rounds: $('rounds'), highlights: $('highlights') }, p.rounds, p.highlights, current);
                roundsDrawn = key;
            }
            lastPanels = now;
        }
        if (now - lastAddress > ADDRESS_MS) {
            remember();
            lastAddress = now;
        }
    }
    requestAnimationFrame(frame);
}

// --- controls: every one goes through these, keys included
function seekRecord(record) {
    if (!shown) return;
    shown.player.seek(Math.max(1, Math.min(record, shown.player.length)));
    lastPanels = 0;
    lastAddress = 0;
}
function skip(seconds) { if (shown) seekRecord(shown.player.position + seconds * RECORDS_PER_SECOND); }
function togglePlay() {
    if (!shown) return;
    const p = shown.player;
    if (!p.playing && !p.live && p.position >= p.length) seekRecord(0);
    p.playing = !p.playing;
}
function setSpeed(speed) {
    $('speed').value = String(speed);
    if (shown) shown.player.speed = speed;
}
function round(step) {
    if (!shown) return;
    const p = shown.player;
    const current = roundAt(p.rounds, p.position);
    const i = current ? p.rounds.indexOf(current) : -1;
    // Back: to this round's start, or the previous one's when just past the start.
    if (step < 0) {
        const target = current && p.position - current.start > 2 * RECORDS_PER_SECOND ? current : p.rounds[i - 1];
        if (target) seekRecord(target.start);
    } else if (p.rounds[i + 1]) {
        seekRecord(p.rounds[i + 1].start);
    }
}
function goLive() {
    if (shown?.kind !== 'live') return;
    shown.player.playing = true;
    setSpeed(1);
    seekRecord(shown.player.length);
}
function follow() {
    if (!shown) return;
    const s = shown.player.state;
    let slot = focus.selected >= 0 && focus.selected !== focus.follow ? focus.selected : -1;
    if (slot < 0) {  // the next player alive after the one followed
        const alive = s.players.filter((p) => s.present(p.slot) && (p.team === 1 || p.team === 2) && p.health > 0);
        if (alive.length === 0) return;
        slot = (alive.find((p) => p.slot > focus.follow) ?? alive[0]).slot;
    }
    followName = s.players[slot].name;
    focus.selected = slot;
    if (view.zoom < 2) view.zoom = 2.5;
    applyFollow();
    lastAddress = 0;
}
function unfollow() {
    followName = null;
    focus.follow = -1;
    lastAddress = 0;
}
function showHelp(on = $('help').hidden) { $('help').hidden = !on; }

$('live').addEventListener('click', () => startLive());
$('golive').addEventListener('click', goLive);
$('play').addEventListener('click', togglePlay);
$('back10').addEventListener('click', () => skip(-10));
$('back5').addEventListener('click', () => skip(-5));
$('fwd5').addEventListener('click', () => skip(5));
$('fwd10').addEventListener('click', () => skip(10));
$('prevround').addEventListener('click', () => round(-1));
$('nextround').addEventListener('click', () => round(1));
$('speed').addEventListener('change', () => setSpeed(Number($('speed').value)));
$('helpbutton').addEventListener('click', () => showHelp());
$('help').addEventListener('click', () => showHelp(false));

for (const tab of ['game', 'rounds', 'feed']) {
    $(`tab-${tab}`).addEventListener('click', () => {
        for (const other of ['game', 'rounds', 'feed']) {
            $(`panel-${other}`).hidden = other !== tab;
            $(`tab-${other}`).classList.toggle('active', other === tab);
        }
    });
}
// Lists are rebuilt while they are looked at: pointerdown on the list, not click on an item.
for (const list of ['rounds', 'highlights']) {
    $(list).addEventListener('pointerdown', (event) => {
        const record = event.target.closest('[data-record]')?.dataset.record;
        if (record === undefined) return;
        seekRecord(Number(record) - (list === 'highlights' ? JUMP_BEFORE : 0));
        if (shown) shown.player.playing = true;
    });
}
$('teams').addEventListener('pointerdown', (event) => {
    const slot = event.target.closest('[data-slot]')?.dataset.slot;
    if (slot !== undefined) focus.selected = Number(slot) === focus.selected ? -1 : Number(slot);
});

// Timeline: click, drag or touch to seek; the markers near the pointer as its title.
function timelineRecord(event) {
    const box = $('timeline').getBoundingClientRect();
    return ((event.clientX - box.left) / box.width) * (shown?.player.length ?? 0);
}
$('timeline').addEventListener('pointerdown', (event) => {
    seekRecord(timelineRecord(event));
    $('timeline').setPointerCapture(event.pointerId);
});
$('timeline').addEventListener('pointermove', (event) => {
    if (!shown) return;
    const record = timelineRecord(event);
    if (event.buttons & 1) seekRecord(record);
    const p = shown.player;
    const near = [...p.highlights, ...p.markers].filter((m) => Math.abs(m.record - record) < Math.max(p.length / 150, 2));
    $('timeline').title = near.map((m) => `${clock(m.record / 2)} ${m.text}`).join('\n') || clock(record / 2);
});

// Map: wheel and pinch zoom, drag pans, a tap chooses a player, double-click resets.
const pointers = new Map();
let dragged = false, pinch = 0;
const local = (event) => {
    const box = $('map').getBoundingClientRect();
    return { x: event.clientX - box.left, y: event.clientY - box.top };
};
$('map').addEventListener('wheel', (event) => {
    event.preventDefault();
    const { x, y } = local(event);
    view.zoomAt(x, y, Math.exp(-event.deltaY / 400));
}, { passive: false });
$('map').addEventListener('pointerdown', (event) => {
    pointers.set(event.pointerId, local(event));
    $('map').setPointerCapture(event.pointerId);
    dragged = false;
    if (pointers.size === 2) {
        const [a, b] = [...pointers.values()];
        pinch = Math.hypot(a.x - b.x, a.y - b.y);
    }
});
$('map').addEventListener('pointermove', (event) => {
    const at = local(event);
    if (!pointers.has(event.pointerId)) {
        focus.hover = view.pick(at.x, at.y);
        return;
    }
    const was = pointers.get(event.pointerId);
    pointers.set(event.pointerId, at);
    if (pointers.size === 2) {
        const [a, b] = [...pointers.values()];
        const d = Math.hypot(a.x - b.x, a.y - b.y);
        if (pinch > 0) view.zoomAt((a.x + b.x) / 2, (a.y + b.y) / 2, d / pinch);
        pinch = d;
        dragged = true;
    } else if (Math.hypot(at.x - was.x, at.y - was.y) > 0) {
        dragged ||= Math.hypot(at.x - was.x, at.y - was.y) > 2;
        view.panBy(at.x - was.x, at.y - was.y);
        if (dragged && followName) unfollow();  // panning away from the followed player
    }
});
const release = (event) => {
    if (pointers.size === 1 && !dragged) {
        const { x, y } = local(event);
        focus.selected = view.pick(x, y);
    }
    pointers.delete(event.pointerId);
    if (pointers.size < 2) pinch = 0;
};
$('map').addEventListener('pointerup', release);
$('map').addEventListener('pointercancel', (event) => { pointers.delete(event.pointerId); pinch = 0; });
$('map').addEventListener('pointerleave', () => { focus.hover = -1; });
$('map').addEventListener('dblclick', () => view.reset());

document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    if (['INPUT', 'SELECT', 'TEXTAREA'].includes(event.target.tagName)) return;
    const key = event.key;
    const actions = {
        ' ': togglePlay, ArrowLeft: () => skip(-5), ArrowRight: () => skip(5), j: () => skip(-10), l: () => skip(10),
        '[': () => round(-1), ']': () => round(1), f: follow, g: goLive, '?': () => showHelp(),
        Escape: () => { showHelp(false); unfollow(); },
    };
    const action = actions[key.length === 1 ? key.toLowerCase() : key] ?? (/^[1-6]$/.test(key) ? () => setSpeed(SPEEDS[Number(key) - 1]) : null);
    if (!action) return;
    event.preventDefault();
    action();
});

// The server's recorded demos, newest first; the picker stays hidden where there is no list.
// Each entry names its map's overview picture, if the server has one.
let listedAt = -Infinity;
async function listDemos() {
    if (performance.now() - listedAt < 5000) return;
    listedAt = performance.now();
    try {
        const response = await fetch('../demos/', { cache: 'no-store' });
        if (!response.ok) throw new Error(`HTTP ${response.status}`);
        const demos = ((await response.json()).demos ?? []).filter((d) => isDemoPath(d?.path));
        for (const d of demos) learnPicture(d.map, d.overview);
        const chosen = $('demos').value;
        const none = new Option(demos.length ? 'Recorded maps' : 'none recorded yet', '');
        $('demos').replaceChildren(none, ...demos.map((d) => new Option(demoLabel(d), d.path)));
        $('demos').value = demos.some((d) => d.path === chosen) ? chosen : '';
        $('recorded').hidden = false;
    } catch {
        $('recorded').hidden = true;
    }
}
$('demos').addEventListener('focus', listDemos);
$('demos').addEventListener('pointerdown', listDemos);
$('demos').addEventListener('change', () => {
    const path = $('demos').value;
    if (path) loadDemoUrl(path, 0);
});
$('file').addEventListener('change', async () => {
    const file = $('file').files[0];
    if (!file) return;
    $('demos').value = '';
    startDemo(await file.arrayBuffer(), file.name, null);
});

// The list's entry for a demo named by any URL that leads to it.
function listed(url) {
    const target = new URL(url, location.href).href;
    return [...$('demos').options].find((o) => o.value && new URL(o.value, location.href).href === target);
}

// The address names what to show; editing it by hand opens that.
function openNamed() {
    const named = readAddress(location.hash, location.search);
    followName = named.follow;
    if (named.demo) {
        if (shown?.kind === 'demo' && shown.url === named.demo) seekRecord(named.t * RECORDS_PER_SECOND);
        else loadDemoUrl(named.demo, named.t);
    } else if (shown?.kind !== 'live') {
        startLive(named.t);
    }
    return named.demo;
}
window.addEventListener('hashchange', openNamed);  // replaceState fires none: only a hand-made change
const first = openNamed();
afterFirstFrame(() => listDemos().then(() => { if (first) $('demos').value = listed(first)?.value ?? ''; }));
requestAnimationFrame(frame);

// For scripts that check the page (tests/browser/viewer.mjs): what is shown, read-only.
window.kovitv = Object.freeze({
    kind: () => shown?.kind ?? null,
    time: () => shown?.player.time ?? null,
    length: () => shown?.player.length ?? 0,
    playing: () => shown?.player.playing ?? false,
    speed: () => shown?.player.speed ?? null,
    history: () => shown?.history ?? null,
    follow: () => followName,
    zoom: () => view.zoom,
    labelPx: () => Math.round(12 * (view.unit ?? 1)),
    rounds: () => (shown?.player.rounds ?? []).map((r) => ({ number: r.number, start: r.start, end: r.end, winner: r.winner, how: r.how })),
    highlights: () => (shown?.player.highlights ?? []).map((h) => ({ ...h })),
    // Device pixels of the map canvas where an overview pixel is drawn.
    overviewToCanvas: (u, v) => {
        const { x, y } = view.toScreen(u, v);
        return { x: x * devicePixelRatio, y: y * devicePixelRatio };
    },
});
