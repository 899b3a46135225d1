// The viewer page: live mode (the broadcast over /live/) or demo mode (a recorded demo picked
// from the server's list, a file from the disk, or #demo=URL with &t=SECONDS to start there), one
// map canvas, the panels and, for demos, the controls and the timeline. The first frame that
// shows a game is marked as "kovitv-first-frame" in the page's performance timeline.

import { demoLabel, isDemoPath, parseDemo } from './demo.js';
import { Follower } from './fragments.js';
import { renderPanels } from './panels.js';
import { DemoPlayer } from './player.js';
import { GameState } from './state.js';
import { MapView } from './view.js';

const $ = (id) => document.getElementById(id);
const view = new MapView($('map'));
const panels = { score: $('score'), clock: $('clock'), bomb: $('bomb'), teams: $('teams'), feed: $('feed'),
    chat: $('chat') };
const PANEL_MS = 250;  // the text is rebuilt at most this often

let live = null;  // { follower, state, time, at, step, sync, pictures: map name -> overview }
let demo = null;  // DemoPlayer
let lastFrame = performance.now();
let lastPanels = 0;
let firstFrame = false;

function status(text) { $('status').textContent = text; }

// Overview pictures by map name; null while loading or when there is none. Live, the sync names
// the picture; for a demo the kinds the plugin looks for are tried in its order.
const OVERVIEW_KINDS = ['png', 'jpg', 'gif', 'bmp'];
const overviews = new Map();
const inFolder = (path) => `../${path.split('/').map(encodeURIComponent).join('/')}`;
function overview(map, paths) {
    const key = `${map}\n${paths.join('\n')}`;
    if (!overviews.has(key)) {
        overviews.set(key, null);
        const image = new Image();
        let tried = 0;
        image.onload = () => overviews.set(key, image);
        image.onerror = () => { if (++tried < paths.length) image.src = inFolder(paths[tried]); };
        if (paths.length > 0) image.src = inFolder(paths[0]);
    }
    return overviews.get(key);
}

function overviewFor(state) {
    const name = state.map?.name;
    if (!name || /[/\\]/.test(name)) return null;
    if (live) return live.pictures.get(name) ? overview(name, [live.pictures.get(name)]) : null;
    return overview(name, OVERVIEW_KINDS.map((kind) => `overviews/${name}.${kind}`));
}

function stop() {
    live?.follower.stop();
    live = null;
    demo = null;
    $('demo-controls').hidden = true;
    $('timeline').hidden = true;
    $('live').classList.remove('active');
}

// The address says what is shown, so a reload or a shared link shows it again. It goes after
// '#', which browsers never send: the plugin refuses requests whose query holds '=', '&', '%'
// or "..".
function remember(hash) {
    history.replaceState(null, '', `${location.pathname}${hash ? `#${hash}` : ''}`);
}

function startLive() {
    stop();
    remember('');
    $('demos').value = '';
    $('live').classList.add('active');
    $('source').textContent = 'live broadcast';
    status('Connecting to the live stream');
    const state = new GameState();
    live = { state, time: 0, at: performance.now(), step: 500, sync: null, pictures: new Map() };
    live.follower = new Follower({
        onSync: (sync) => {
            live.sync = sync;
            // Sync tells the newest fragment's map, which the page shows a little later.
            if (typeof sync.map === 'string' && typeof sync.overview === 'string') {
                live.pictures.set(sync.map, sync.overview);
                if (sync.overview) overview(sync.map, [sync.overview]);  // loading before it is needed
            }
            $('source').textContent = `live: ${sync.server || 'server'}, ${sync.delay} s behind the game`;
        },
        onStatus: status,
        onElement: (element, step) => {
            live.time += 0.5;
            live.at = performance.now();
            live.step = step;
            const faults = live.state.applyElement(element.packets, live.time, element.fresh);
            if (faults.truncated || faults.invalid) status('Some of the stream arrived damaged');
        },
    });
    live.follower.start();
}

// Never before the first record: it holds the map and the players, so the start shows them at
// once instead of half a second of empty map.
function seekDemo(record) { demo.seek(Math.max(1, record)); }

function startDemo(buffer, name, at = 0) {
    stop();
    const { records, fault } = parseDemo(buffer);
    if (records.length === 0) {
        status(`${name}: nothing to replay${fault ? ` (${fault.message})` : ''}`);
        return;
    }
    status(fault ? `${name} is damaged at byte ${fault.offset} (${fault.message}); replaying the ${records.length} records before it` : '');
    demo = new DemoPlayer(records);
    seekDemo(at * 2);
    demo.playing = true;
    $('source').textContent = `demo: ${name}`;
    $('demo-controls').hidden = false;
    $('timeline').hidden = false;
    demo.speed = Number($('speed').value);
}

async function loadDemoUrl(url, at) {
    status(`Loading ${url}`);
    remember(`demo=${encodeURIComponent(url)}${at ? `&t=${at}` : ''}`);
    try {
        const response = await fetch(url, { cache: 'no-store' });  // a demo being recorded grows
        if (!response.ok) throw new Error(`HTTP ${response.status}`);
        startDemo(await response.arrayBuffer(), url, at);
    } catch (error) {
        status(`Cannot load the demo ${url}: ${error.message}`);
    }
}

function clock(seconds) {
    const s = Math.floor(seconds);
    return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

const MARKER_COLOUR = { round: '#ffffff', kill: '#e04040', map: '#f5c542' };

function drawTimeline() {
    const canvas = $('timeline');
    const width = canvas.clientWidth;
    if (canvas.width !== width) canvas.width = width;
    const ctx = canvas.getContext('2d');
    const x = (record) => (record / Math.max(demo.length, 1)) * width;
    ctx.fillStyle = '#24282d';
    ctx.fillRect(0, 0, width, canvas.height);
    ctx.fillStyle = '#3a4f66';
    ctx.fillRect(0, 0, x(demo.position), canvas.height);
    for (const m of demo.markers) {
        ctx.fillStyle = MARKER_COLOUR[m.kind];
        const tall = m.kind === 'kill' ? 10 : canvas.height;
        ctx.fillRect(Math.floor(x(m.record)), canvas.height - tall, m.kind === 'kill' ? 1 : 2, tall);
    }
    ctx.fillStyle = '#f5c542';
    ctx.fillRect(x(demo.position) - 1, 0, 3, canvas.height);
}

function frame(now) {
    const seconds = Math.min((now - lastFrame) / 1000, 1);
    lastFrame = now;
    let state = null, time = 0;
    if (demo) {
        demo.advance(seconds);
        state = demo.state;
        time = demo.time;
        $('play').textContent = demo.playing ? 'Pause' : 'Play';
        $('position').textContent = `${clock(demo.time)} / ${clock(demo.length / 2)}`;
        drawTimeline();
    } else if (live) {
        state = live.state;
        time = live.time + 0.5 * Math.min((now - live.at) / live.step, 1);
    }
    if (state) {
        view.draw(state, time, overviewFor(state));
        if (!firstFrame && state.map) {  // drawn from the stream, not an empty start
            firstFrame = true;
            performance.mark('kovitv-first-frame');
        }
        if (now - lastPanels > PANEL_MS) {
            renderPanels(panels, state, time);
            lastPanels = now;
        }
    }
    requestAnimationFrame(frame);
}

function seekTo(event) {
    if (!demo) return;
    const box = $('timeline').getBoundingClientRect();
    seekDemo(((event.clientX - box.left) / box.width) * demo.length);
    lastPanels = 0;
}

function markerAt(event) {
    const box = $('timeline').getBoundingClientRect();
    const record = ((event.clientX - box.left) / box.width) * demo.length;
    const near = demo.markers.filter((m) => Math.abs(m.record - record) < demo.length / 200);
    return near.map((m) => `${clock(m.record / 2)} ${m.text}`).join('\n') || clock(record / 2);
}

// The server's recorded demos, newest first; the picker stays hidden where there is no list.
let listedAt = -Infinity;
async function listDemos() {
    if (performance.now() - listedAt < 5000) return;
    listedAt = performance.now();
    try {
        const response = await fetch('../demos/', { cache: 'no-store' });
        if (!response.ok) throw new Error(`HTTP ${response.status}`);
        const demos = ((await response.json()).demos ?? []).filter((d) => isDemoPath(d?.path));
        const chosen = $('demos').value;
        const none = new Option(demos.length ? 'choose a recorded map' : 'none recorded yet', '');
        $('demos').replaceChildren(none, ...demos.map((d) => new Option(demoLabel(d), d.path)));
        $('demos').value = demos.some((d) => d.path === chosen) ? chosen : '';
        $('recorded').hidden = false;
    } catch {
        $('recorded').hidden = true;
    }
}

$('live').addEventListener('click', startLive);
$('demos').addEventListener('focus', listDemos);
$('demos').addEventListener('change', () => {
    const path = $('demos').value;
    if (path) loadDemoUrl(path, 0);
});
$('file').addEventListener('change', async () => {
    const file = $('file').files[0];
    if (!file) return;
    remember('');
    $('demos').value = '';
    startDemo(await file.arrayBuffer(), file.name);
});
$('play').addEventListener('click', () => {
    if (!demo) return;
    if (!demo.playing && demo.position >= demo.length) seekDemo(0);
    demo.playing = !demo.playing;
});
$('speed').addEventListener('change', () => { if (demo) demo.speed = Number($('speed').value); });
$('timeline').addEventListener('pointerdown', (event) => {
    seekTo(event);
    $('timeline').setPointerCapture(event.pointerId);
});
$('timeline').addEventListener('pointermove', (event) => {
    if (!demo) return;
    if (event.buttons & 1) seekTo(event);
    $('timeline').title = markerAt(event);
});
document.addEventListener('keydown', (event) => {
    if (event.key === ' ' && demo && event.target === document.body) {
        event.preventDefault();
        $('play').click();
    }
});

// #demo=URL&t=SECONDS opens a demo at that moment of game time; so does ?demo=URL&t=SECONDS from
// servers other than the plugin.
function named() {
    const hash = new URLSearchParams(location.hash.slice(1));
    const query = new URLSearchParams(location.search);
    const from = hash.has('demo') ? hash : query;
    return { url: from.get('demo'), at: Number(from.get('t')) || 0 };
}

// The list's entry for a demo named by any URL that leads to it.
function listed(url) {
    const target = new URL(url, location.href).href;
    return [...$('demos').options].find((o) => o.value && new URL(o.value, location.href).href === target);
}

function openNamed() {
    const { url, at } = named();
    if (url) loadDemoUrl(url, at);
    else startLive();
    return url;
}

window.addEventListener('hashchange', openNamed);
const first = openNamed();
listDemos().then(() => { if (first) $('demos').value = listed(first)?.value ?? ''; });
requestAnimationFrame(frame);
