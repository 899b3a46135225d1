// The viewer page: wires what is shown (modes.js) to the map, the panels, the timeline and the
// controls, and draws them at the display's pace. The address names the moment shown (and the
// followed player); a hand-made change to it opens what it names.
//
//   window.kovitv   read-only probes for the scripts that check the page (tests/browser/)
//
// Between the stream's two snapshots a second the players are drawn where interp.js eases them,
// every displayed frame; the automatic camera (camera.js) is on by default on small screens.

import { readAddress, writeAddress } from './address.js';
import { Camera } from './camera.js';
import { KILL_AHEAD } from './director.js';
import { attachDemoList, chooseListed, listDemos } from './demolist.js';
import { attachInput } from './input.js';
import { Motion, STATE_FIRED, STATE_HIT } from './interp.js';
import { Modes } from './modes.js';
import { renderPanels, renderRounds } from './panels.js';
import { renderStats } from './statspanel.js';
import { afterFirstFrame, firstFrameDone, firstFrameDrawn, overviewFor } from './pictures.js';
import { RECORDS_PER_SECOND } from './player.js';
import { roundAt } from './rounds.js';
import { formatClock, inTeam, isAlive } from './rules.js';
import { attachTimeline, drawTimeline } from './timeline.js';
import { MapView } from './view.js';

const $ = (id) => document.getElementById(id);
const view = new MapView($('map'));
const panels = { score: $('score'), round: $('round'), clock: $('clock'), bomb: $('bomb'), teams: $('teams'),
    feed: $('feed'), chat: $('chat') };
const PANEL_MS = 250;  // the text is rebuilt at most this often
const ADDRESS_MS = 1000;  // the address follows the moment this often
const FOLLOW_ZOOM = 2.5;

let lastFrame = performance.now();
let lastPanels = 0, lastAddress = 0, roundsDrawn = '', statsDrawn = '';
// The stats panel's span of rounds (null: the map) and the moments marked from it.
let statsSpan = null;
let marks = { records: [], player: null };
const focus = { selected: -1, hover: -1, follow: -1 };
let followName = null;  // kept by name: slots change hands between maps
const motion = new Motion();
const drawing = { players: motion.players, phase: 0, grenadeAt: (g) => motion.grenadeAt(g) };
const camera = new Camera(view, { button: $('director'), unfollow: () => unfollow() });
let timelineDrawn = '', timelineWidth = 0;
new ResizeObserver(([entry]) => { timelineWidth = entry.contentRect.width; }).observe($('timeline'));
let stepAt = 0, stepPosition = -1;  // when the shown record was reached, for the live edge's fades

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

const modes = new Modes({
    status,
    changed: (what) => {
        if (what !== 'seek') roundsDrawn = statsDrawn = '';
        camera.reset();
        lastPanels = 0;
        lastAddress = 0;
    },
});

function remember() {
    const shown = modes.shown;
    if (!shown || (shown.kind === 'demo' && !shown.url)) {
        history.replaceState(null, '', location.pathname);
        return;
    }
    const p = shown.player;
    // A live moment is named only once the map's history is in: its times count from the map's
    // first fragment then, the same for every spectator.
    const t = shown.kind === 'live' && (modes.atLiveEdge() || shown.history !== 'done') ? 0 : p.time;
    const hash = writeAddress({ demo: shown.url ?? null, live: shown.kind === 'live', t, follow: followName });
    history.replaceState(null, '', `${location.pathname}${hash ? `#${hash}` : ''}`);
}

// A followed player is seen up close: the first time they are found (a link that follows them
// included), the view zooms in on them unless the spectator zoomed already.
let followFound = false;
function applyFollow() {
    if (!modes.shown || !followName) { focus.follow = -1; followFound = false; return; }
    const s = modes.shown.player.state;
    focus.follow = s.players.findIndex((p) => p.name === followName && s.present(p.slot));
    if (focus.follow >= 0 && !followFound) {
        followFound = true;
        if (view.zoom < 2) view.zoom = FOLLOW_ZOOM;
    }
}

// Written only when it changes: a write, even of the same text, has the page laid out again.
function put(id, field, value) {
    const e = $(id);
    if (e[field] !== value) e[field] = value;
}

function transportText(shown, p) {
    put('play', 'textContent', p.playing ? 'Pause' : 'Play');
    put('position', 'textContent', `${formatClock(p.time)} / ${formatClock(p.length / RECORDS_PER_SECOND)}`);
    if (shown.kind !== 'live') {
        put('golive', 'hidden', true);
        put('delay', 'textContent', '');
        return;
    }
    const behind = modes.behind() / RECORDS_PER_SECOND;
    const delay = Number.isInteger(shown.sync?.delay) ? shown.sync.delay : 0;
    const edge = modes.atLiveEdge();
    put('golive', 'hidden', edge && p.playing);
    put('delay', 'textContent', edge && p.playing ? `live, ${delay} s behind the game` : `${Math.round(delay + behind)} s behind the game (${formatClock(behind)} behind live)`);
    put('delay', 'className', edge ? '' : 'behind');
}

function renderText() {
    const p = modes.shown?.player;
    if (!p) return;
    const current = roundAt(p.rounds, p.position);
    renderPanels(panels, p.state, p.time, [focus.selected, focus.follow], current?.number);
    const key = `${p.rounds.length}/${p.highlights.length}/${current?.start}/${current?.end}`;
    if (key !== roundsDrawn) {
        renderRounds({ rounds: $('rounds'), highlights: $('highlights') }, p.rounds, p.highlights, current);
        roundsDrawn = key;
    }
    if (!$('stats').hidden) drawStats(p);
}

function frame(now) {
    const started = performance.now();
    const seconds = Math.min((now - lastFrame) / 1000, 1);
    lastFrame = now;
    const shown = modes.shown;
    if (shown) {
        modes.advance(seconds);
        const p = modes.shown.player;
        const state = p.state;
        applyFollow();
        if (p.position !== stepPosition) { stepPosition = p.position; stepAt = now; }
        // Between this record and the next; at the live edge, with none yet, a fade by the clock.
        const next = p.next;
        motion.at(state, next, p.fraction);
        drawing.phase = next ? p.fraction : Math.min((now - stepAt) * p.speed * RECORDS_PER_SECOND / 1000, 1);
        camera.update(state, motion.players, () => p.ahead(KILL_AHEAD + 0.5).map((e) => ({ ...e, time: (e.record + 1) / RECORDS_PER_SECOND })), p.time + p.fraction / RECORDS_PER_SECOND,
            seconds, focus.follow >= 0);
        transportText(shown, p);
        // The timeline changes only with a record, a mark or the window: not redrawn every frame.
        const shownMarks = marks.player === p ? marks.records : [];
        const drawnAs = `${p.position}/${p.length}/${p.markers.length}/${p.highlights.length}/${timelineWidth}/${shownMarks.length}/${shownMarks[0]}`;
        if (p.length > 0 && drawnAs !== timelineDrawn) {
            drawTimeline($('timeline'), p, shownMarks);
            timelineDrawn = drawnAs;
        }
        const picture = overviewFor(state);
        view.setContent(picture && state.map?.zoom > 0 ? picture.content ?? null : null);
        view.draw(state, p.time, picture, focus, drawing);
        if (!firstFrameDrawn() && state.map) firstFrameDone();  // drawn from the stream, not an empty start
        // The panels' text in a task of its own after the frame: rebuilding it takes longer than
        // drawing the map and need not hold the frame up (which reads no layout it dirties).
        if (now - lastPanels > PANEL_MS) {
            lastPanels = now;
            setTimeout(renderText, 0);
        }
        if (now - lastAddress > ADDRESS_MS) {
            remember();
            lastAddress = now;
        }
        frames.note(now, performance.now() - started, motion.players, state);
    }
    requestAnimationFrame(frame);
}

function follow() {
    if (!modes.shown) return;
    const s = modes.shown.player.state;
    let slot = focus.selected >= 0 && focus.selected !== focus.follow ? focus.selected : -1;
    if (slot < 0) {  // the next player alive after the one followed
        const alive = s.players.filter((p) => s.present(p.slot) && inTeam(p) && isAlive(p));
        if (alive.length === 0) return;
        slot = (alive.find((p) => p.slot > focus.follow) ?? alive[0]).slot;
    }
    followName = s.players[slot].name;
    focus.selected = slot;
    followFound = false;
    applyFollow();
    lastAddress = 0;
}
function unfollow() {
    followName = null;
    focus.follow = -1;
    lastAddress = 0;
}
function showHelp(on = $('help').hidden) { $('help').hidden = !on; }

// Rebuilt when a round ends or starts, not while a spectator picks in it.
function drawStats(p) {
    const key = `${p.rounds.length}/${p.rounds.at(-1)?.end}/${statsSpan?.from}/${statsSpan?.to}`;
    if (key === statsDrawn) return;
    statsDrawn = key;
    renderStats($('statsbody'), p, statsSpan, {
        onSpan: (span) => { statsSpan = span; statsDrawn = ''; drawStats(p); },
        onMark: (records, label) => {
            marks = { records: [...records].sort((a, b) => a - b), player: p };
            showStats(false);
            nextMark(-Infinity);
            status(`${label}: ${records.length === 1 ? 'one moment' : `${records.length} moments`} marked on the timeline (N: the next)`);
        },
    });
}
function showStats(on = $('stats').hidden) {
    $('stats').hidden = !on;
    statsDrawn = '';
    if (on && modes.shown) drawStats(modes.shown.player);
}
const MARK_BEFORE = 6;  // a marked moment is shown from this many records before it
function nextMark(after = modes.shown?.player.position ?? 0) {
    if (!modes.shown || marks.player !== modes.shown.player) return;
    const next = marks.records.find((r) => r - MARK_BEFORE > after) ?? marks.records[0];
    if (next === undefined) return;
    modes.seek(next - MARK_BEFORE);
    modes.shown.player.playing = true;
}
function clearMarks() { marks = { records: [], player: null }; }

attachInput({ modes, view, focus, follow, unfollow, following: () => followName !== null, showHelp,
    keys: { s: () => showStats(), n: () => nextMark(), d: () => camera.toggle(),
        Escape: () => { showHelp(false); showStats(false); unfollow(); clearMarks(); $('menu').hidden = true; } } });
$('statsbutton').addEventListener('click', () => showStats());
$('statsclose').addEventListener('click', () => showStats(false));
$('stats').addEventListener('click', (event) => { if (event.target === $('stats')) showStats(false); });
$('director').addEventListener('click', () => camera.toggle());
$('menubutton').addEventListener('click', () => listDemos());  // the recorded maps are in the menu
// A phone or a small window starts with the automatic camera; elsewhere it is a button away.
camera.toggle(matchMedia('(max-width: 700px), (max-height: 500px)').matches);
attachTimeline($('timeline'), { player: () => modes.shown?.player ?? null, seek: (record) => modes.seek(record) });
attachDemoList({
    open: (path) => modes.loadDemoUrl(path, 0),
    openFile: (buffer, name) => modes.startDemo(buffer, name, null),
});

// The address names what to show; editing it by hand opens that.
function openNamed() {
    const named = readAddress(location.hash, location.search);
    if (named.follow !== followName) followFound = false;
    followName = named.follow;
    const shown = modes.shown;
    if (named.demo) {
        if (shown?.kind === 'demo' && shown.url === named.demo) modes.seek(named.t * RECORDS_PER_SECOND);
        else modes.loadDemoUrl(named.demo, named.t);
    } else if (shown?.kind !== 'live') {
        modes.startLive(named.t);
    }
    return named.demo;
}
window.addEventListener('hashchange', openNamed);  // replaceState fires none: only a hand-made change
const first = openNamed();
afterFirstFrame(() => listDemos().then(() => { if (first) chooseListed(first); }));
requestAnimationFrame(frame);

// The last frames drawn, for the page's checks: when, how long the frame's work took, and
// whether a player was drawn anywhere else than the frame before.
const frames = {
    size: 1024, count: 0, at: new Float64Array(1024), ms: new Float32Array(1024), moved: new Uint8Array(1024),
    last: new Float64Array(64),
    note(now, ms, players, state) {
        let moved = 0;
        for (let slot = 0; slot < 32; slot++) {
            if (!state.present(slot)) continue;
            const p = players[slot];
            if (p.x !== this.last[slot * 2] || p.y !== this.last[slot * 2 + 1]) moved = 1;
            this.last[slot * 2] = p.x; this.last[slot * 2 + 1] = p.y;
        }
        const i = this.count++ % this.size;
        this.at[i] = now; this.ms[i] = ms; this.moved[i] = moved;
    },
    since(t) {
        const out = [];
        for (let k = Math.max(0, this.count - this.size); k < this.count; k++) {
            const i = k % this.size;
            if (this.at[i] >= t) out.push({ at: this.at[i], ms: this.ms[i], moved: this.moved[i] });
        }
        return out;
    },
};

// For scripts that check the page (tests/browser/viewer.mjs): what is shown, read-only.
window.kovitv = Object.freeze({
    kind: () => modes.shown?.kind ?? null,
    time: () => modes.shown?.player.time ?? null,
    length: () => modes.shown?.player.length ?? 0,
    playing: () => modes.shown?.player.playing ?? false,
    speed: () => modes.shown?.player.speed ?? null,
    history: () => modes.shown?.history ?? null,
    pending: () => modes.shown?.pending?.length ?? 0,  // records of a newer map behind the one shown
    follow: () => followName,
    zoom: () => view.zoom,
    // Frames drawn since `t` (performance.now() milliseconds): [{ at, ms, moved }].
    frames: (t) => frames.since(t),
    director: () => ({ on: camera.on, reason: camera.choice?.reason ?? null }),
    // Players whose record says they fired or were hit in the half second shown.
    shots: () => (modes.shown?.player.state.players ?? []).filter((p) => p.state & (STATE_FIRED | STATE_HIT)).length,
    players: () => (modes.shown ? modes.shown.player.state.players.filter((p) => modes.shown.player.state.present(p.slot)).length : 0),
    // CSS pixels of the page where the whole unzoomed map is drawn.
    mapArea: () => {
        const box = document.getElementById('map').getBoundingClientRect();
        const r = view.homeRect();
        return { x: box.left + r.x, y: box.top + r.y, width: r.width, height: r.height };
    },
    labelPx: () => Math.round(12 * (view.unit ?? 1)),
    rounds: () => (modes.shown?.player.rounds ?? []).map((r) => ({ number: r.number, start: r.start, end: r.end, winner: r.winner, how: r.how })),
    highlights: () => (modes.shown?.player.highlights ?? []).map((h) => ({ ...h })),
    // Device pixels of the map canvas where an overview pixel is drawn.
    overviewToCanvas: (u, v) => {
        const { x, y } = view.toScreen(u, v);
        return { x: x * devicePixelRatio, y: y * devicePixelRatio };
    },
});
