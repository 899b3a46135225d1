// The viewer page: wires what is shown (modes.js) to the map, the panels, the timeline and the
// controls, and draws them at the display's pace. The address names the moment shown (and the
// followed player); a hand-made change to it opens what it names.
//
//   window.kovitv   read-only probes for the scripts that check the page (tests/browser/)

import { readAddress, writeAddress } from './address.js';
import { attachDemoList, chooseListed, listDemos } from './demolist.js';
import { attachInput } from './input.js';
import { Modes } from './modes.js';
import { renderPanels, renderRounds } from './panels.js';
import { afterFirstFrame, firstFrameDone, firstFrameDrawn, overviewFor } from './pictures.js';
import { RECORDS_PER_SECOND } from './player.js';
import { roundAt } from './rounds.js';
import { formatClock } from './rules.js';
import { attachTimeline, drawTimeline } from './timeline.js';
import { MapView } from './view.js';

const $ = (id) => document.getElementById(id);
const view = new MapView($('map'));
const panels = { score: $('score'), round: $('round'), clock: $('clock'), bomb: $('bomb'), teams: $('teams'),
    feed: $('feed'), chat: $('chat') };
const PANEL_MS = 250;  // the text is rebuilt at most this often
const ADDRESS_MS = 1000;  // the address follows the moment this often

let lastFrame = performance.now();
let lastPanels = 0, lastAddress = 0, roundsDrawn = '';
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

const modes = new Modes({
    status,
    changed: (what) => {
        if (what !== 'seek') roundsDrawn = '';
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

function applyFollow() {
    if (!modes.shown || !followName) { focus.follow = -1; return; }
    const s = modes.shown.player.state;
    focus.follow = s.players.findIndex((p) => p.name === followName && s.present(p.slot));
}

function transportText(shown, p) {
    $('play').textContent = p.playing ? 'Pause' : 'Play';
    $('position').textContent = `${formatClock(p.time)} / ${formatClock(p.length / RECORDS_PER_SECOND)}`;
    if (shown.kind !== 'live') {
        $('golive').hidden = true;
        $('delay').textContent = '';
        return;
    }
    const behind = (p.length - p.position) / RECORDS_PER_SECOND;
    const delay = Number.isInteger(shown.sync?.delay) ? shown.sync.delay : 0;
    const edge = modes.atLiveEdge();
    $('golive').hidden = edge && p.playing;
    $('delay').textContent = edge && p.playing ? `live, ${delay} s behind the game` : `${Math.round(delay + behind)} s behind the game (${formatClock(behind)} behind live)`;
    $('delay').className = edge ? '' : 'behind';
}

function frame(now) {
    const seconds = Math.min((now - lastFrame) / 1000, 1);
    lastFrame = now;
    const shown = modes.shown;
    if (shown) {
        const p = shown.player;
        p.advance(seconds);
        const state = p.state;
        applyFollow();
        transportText(shown, p);
        if (p.length > 0) drawTimeline($('timeline'), p);
        const picture = overviewFor(state);
        view.setContent(picture && state.map?.zoom > 0 ? picture.content ?? null : null);
        view.draw(state, p.time, picture, focus);
        if (!firstFrameDrawn() && state.map) firstFrameDone();  // drawn from the stream, not an empty start
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

function follow() {
    if (!modes.shown) return;
    const s = modes.shown.player.state;
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

attachInput({ modes, view, focus, follow, unfollow, following: () => followName !== null, showHelp });
attachTimeline($('timeline'), { player: () => modes.shown?.player ?? null, seek: (record) => modes.seek(record) });
attachDemoList({
    open: (path) => modes.loadDemoUrl(path, 0),
    openFile: (buffer, name) => modes.startDemo(buffer, name, null),
});

// The address names what to show; editing it by hand opens that.
function openNamed() {
    const named = readAddress(location.hash, location.search);
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

// For scripts that check the page (tests/browser/viewer.mjs): what is shown, read-only.
window.kovitv = Object.freeze({
    kind: () => modes.shown?.kind ?? null,
    time: () => modes.shown?.player.time ?? null,
    length: () => modes.shown?.player.length ?? 0,
    playing: () => modes.shown?.player.playing ?? false,
    speed: () => modes.shown?.player.speed ?? null,
    history: () => modes.shown?.history ?? null,
    follow: () => followName,
    zoom: () => view.zoom,
    labelPx: () => Math.round(12 * (view.unit ?? 1)),
    rounds: () => (modes.shown?.player.rounds ?? []).map((r) => ({ number: r.number, start: r.start, end: r.end, winner: r.winner, how: r.how })),
    highlights: () => (modes.shown?.player.highlights ?? []).map((h) => ({ ...h })),
    // Device pixels of the map canvas where an overview pixel is drawn.
    overviewToCanvas: (u, v) => {
        const { x, y } = view.toScreen(u, v);
        return { x: x * devicePixelRatio, y: y * devicePixelRatio };
    },
});
