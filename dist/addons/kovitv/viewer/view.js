// The map drawing: overview image (or a grid), players, bomb and grenades on one canvas that
// fills its box, with zoom and pan.
//
//   worldToOverview(map, x, y) -> { u, v }   world units to pixels of the 1024 x 768 overview
//   fitMap(bounds) -> map geometry that shows the given world box, for maps without an overview
//   markerScale(cssWidth) -> how big markers and labels are drawn for a canvas that wide
//   new MapView(canvas)
//     .draw(state, time, overviewImage | null, { selected, hover, follow }, motion)   slots or -1;
//          motion: { players: [{ x, y, yaw }] by slot, where to draw them (interp.js), phase: 0..1
//          into the snapshot's half second, which fades its shots and hits, grenadeAt(g) ->
//          { x, y } where a grenade is drawn }; without it the state's own positions
//     .lookAt(u, v, zoom)   places the view (the director's camera), clamped as any other
//     .zoomAt(x, y, factor), .panBy(dx, dy), .reset()    x, y, dx, dy in CSS pixels of the canvas
//     .pick(x, y) -> the slot of the player drawn nearest that point (within reach), or -1
//     .toScreen(u, v) -> { x, y } CSS pixels of an overview pixel
//     .homeRect() -> { x, y, width, height } CSS pixels where the unzoomed view draws the map
//   contentBox(image) -> { u0, v0, u1, v1 } the part of an overview that is not its background
//
// Unzoomed, the view shows the overview's content (what differs from its corner's colour)
// as large as the canvas allows, so a picture with wide empty margins still fills the space.
//
// The picture's space is the overview's 1024 x 768 pixels, fitted into the canvas and then
// zoomed; markers and labels keep their size in CSS pixels whatever the zoom.

import { BOMB_DROPPED, BOMB_PLANTED, GRENADE_EXPLODED, GRENADE_FLASH, GRENADE_HE, GRENADE_SMOKE, ICON_C4 } from './state.js';
import { STATE_FIRED, STATE_HIT } from './interp.js';
import { placeLabels } from './labels.js';
import { hasSpawned, inTeam, isAlive } from './rules.js';

export const OVERVIEW_WIDTH = 1024;
export const OVERVIEW_HEIGHT = 768;
// At zoom 1 the overview's width covers 8192 world units (the game's own overview convention).
const UNITS_AT_ZOOM_1 = 8192;
const MAX_ZOOM = 8;
const HOME_ZOOM_MAX = 3;  // a picture's content is never blown up more than this unzoomed
const BACKGROUND_TOLERANCE = 24;  // per colour channel
const PICK_REACH = 16;  // CSS pixels
const LABEL_MS = 150;  // labels are placed anew this often

export const TEAM_COLOUR = { 1: '#e8a33a', 2: '#5b9bea' };
const GRENADE_COLOUR = { [GRENADE_SMOKE]: '#b8bcc4', [GRENADE_FLASH]: '#fff6a0', [GRENADE_HE]: '#ff5a3c' };
// What an explosion covers, in world units: a smoke's cloud, a flash's and an HE's reach.
const BURST_UNITS = { [GRENADE_SMOKE]: 150, [GRENADE_FLASH]: 250, [GRENADE_HE]: 300 };

// The map chunk carries the zoom times 100. An overview that is not rotated has the world's x
// axis pointing up the picture; a rotated one has it pointing right.
export function worldToOverview(map, x, y) {
    const zoom = map.zoom > 0 ? map.zoom / 100 : 1;
    const scale = (zoom * OVERVIEW_WIDTH) / UNITS_AT_ZOOM_1;
    const dx = (x - map.originX) * scale;
    const dy = (y - map.originY) * scale;
    if (map.rotated) return { u: OVERVIEW_WIDTH / 2 + dx, v: OVERVIEW_HEIGHT / 2 - dy };
    return { u: OVERVIEW_WIDTH / 2 - dy, v: OVERVIEW_HEIGHT / 2 - dx };
}

// A rotated overview geometry that holds the box with a margin (bounds: minX maxX minY maxY).
export function fitMap(bounds) {
    const w = Math.max(bounds.maxX - bounds.minX, 1024) * 1.2;
    const h = Math.max(bounds.maxY - bounds.minY, 768) * 1.2;
    const zoom = Math.min(UNITS_AT_ZOOM_1 / w, (UNITS_AT_ZOOM_1 * 0.75) / h);
    return { zoom: zoom * 100, rotated: 1, originX: (bounds.minX + bounds.maxX) / 2,
        originY: (bounds.minY + bounds.maxY) / 2 };
}

// A phone's narrow canvas keeps labels readable (11 CSS px at least); a wide one grows them a bit.
export function markerScale(cssWidth) {
    return Math.min(Math.max(cssWidth / 900, 1), 1.4);
}

export function contentBox(image) {
    const w = 256, h = 192;  // a quarter of the overview is precise enough
    const canvas = typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(w, h) : null;
    const ctx = canvas?.getContext('2d');
    if (!ctx) return null;
    ctx.drawImage(image, 0, 0, w, h);
    const data = ctx.getImageData(0, 0, w, h).data;
    const [r, g, b] = data;
    let u0 = w, v0 = h, u1 = -1, v1 = -1;
    for (let y = 0; y < h; y++) {
        for (let x = 0; x < w; x++) {
            const i = (y * w + x) * 4;
            if (Math.abs(data[i] - r) <= BACKGROUND_TOLERANCE && Math.abs(data[i + 1] - g) <= BACKGROUND_TOLERANCE &&
                Math.abs(data[i + 2] - b) <= BACKGROUND_TOLERANCE) continue;
            if (x < u0) u0 = x; if (x > u1) u1 = x;
            if (y < v0) v0 = y; if (y > v1) v1 = y;
        }
    }
    if (u1 < 0) return null;
    const k = OVERVIEW_WIDTH / w;
    return { u0: u0 * k, v0: v0 * k, u1: (u1 + 1) * k, v1: (v1 + 1) * k };
}

export class MapView {
    constructor(canvas) {
        this.canvas = canvas;
        this.ctx = canvas.getContext('2d');
        this.bounds = null;
        this.boundsMap = '';
        this.reset();
        this.drawn = [];  // { slot, x, y } of the players last drawn, CSS pixels
        this.placed = null;  // where the labels were last placed, beside their markers
        this.widths = new Map();  // label texts' widths by font
        this.sprites = new Map();  // labels drawn, by font, colour and text
        this.seen = null;  // { w, h } the canvas's size as last laid out
        if (typeof ResizeObserver === 'function') {
            new ResizeObserver(([entry]) => {
                const box = entry.contentRect;
                this.seen = box.width > 0 && box.height > 0 ? { w: box.width, h: box.height } : null;
            }).observe(canvas);
        }
    }

    reset() {
        this.zoom = 1;
        this.centre = this.homeCentre();
    }

    // The unzoomed view: the picture's content fitted (or the whole overview).
    home() {
        const box = this.box ?? { u0: 0, v0: 0, u1: OVERVIEW_WIDTH, v1: OVERVIEW_HEIGHT };
        return { box, centre: { u: (box.u0 + box.u1) / 2, v: (box.v0 + box.v1) / 2 } };
    }
    homeCentre() { return { ...this.home().centre }; }

    // Sets the picture whose content the unzoomed view fits; null fits the whole overview.
    setContent(box) {
        if (this.box === box) return;
        const unzoomed = this.zoom === 1;
        this.box = box;
        if (unzoomed) this.reset();
    }

    // The canvas's CSS size as the page last laid it out. Read from a resize observer: asking the
    // element would lay the page out again in the middle of a frame after any change of text.
    size() {
        if (this.seen) return this.seen;
        return { w: this.canvas.clientWidth || OVERVIEW_WIDTH, h: this.canvas.clientHeight || OVERVIEW_HEIGHT };
    }

    // CSS pixels of the canvas box, and the factor from overview pixels to them.
    frame() {
        const { w, h } = this.size();
        const { box } = this.home();
        const fit = Math.min(w / (box.u1 - box.u0), h / (box.v1 - box.v0),
            HOME_ZOOM_MAX * Math.min(w / OVERVIEW_WIDTH, h / OVERVIEW_HEIGHT));
        return { w, h, scale: fit * this.zoom };
    }

    // Where the unzoomed view draws the picture's content: { x, y, width, height } CSS pixels
    // of the canvas.
    homeRect() {
        const f = this.frame();
        const scale = f.scale / this.zoom;
        const { box, centre } = this.home();
        return { x: f.w / 2 + (box.u0 - centre.u) * scale, y: f.h / 2 + (box.v0 - centre.v) * scale,
            width: (box.u1 - box.u0) * scale, height: (box.v1 - box.v0) * scale };
    }

    toScreen(u, v) {
        const f = this.frame();
        return { x: f.w / 2 + (u - this.centre.u) * f.scale, y: f.h / 2 + (v - this.centre.v) * f.scale };
    }

    toOverview(x, y) {
        const f = this.frame();
        return { u: this.centre.u + (x - f.w / 2) / f.scale, v: this.centre.v + (y - f.h / 2) / f.scale };
    }

    zoomAt(x, y, factor) {
        const before = this.toOverview(x, y);
        this.zoom = Math.min(Math.max(this.zoom * factor, 1), MAX_ZOOM);
        const after = this.toOverview(x, y);
        this.centre.u += before.u - after.u;
        this.centre.v += before.v - after.v;
        this.clamp();
    }

    lookAt(u, v, zoom) {
        this.zoom = Math.min(Math.max(zoom, 1), MAX_ZOOM);
        this.centre = { u, v };
        this.clamp();
    }

    panBy(dx, dy) {
        const f = this.frame();
        this.centre.u -= dx / f.scale;
        this.centre.v -= dy / f.scale;
        this.clamp();
    }

    // Unzoomed the home view shows; zoomed in, the view stays over the picture's content.
    clamp() {
        if (this.zoom <= 1) {
            this.reset();
            return;
        }
        const f = this.frame();
        const { box } = this.home();
        const halfU = f.w / 2 / f.scale, halfV = f.h / 2 / f.scale;
        const clampTo = (c, half, lo, hi) => (half * 2 >= hi - lo ? (lo + hi) / 2 : Math.min(Math.max(c, lo + half), hi - half));
        this.centre.u = clampTo(this.centre.u, halfU, box.u0, box.u1);
        this.centre.v = clampTo(this.centre.v, halfV, box.v0, box.v1);
    }

    pick(x, y) {
        let best = -1, bestD = PICK_REACH;
        for (const d of this.drawn) {
            const dist = Math.hypot(d.x - x, d.y - y);
            if (dist < bestD) { best = d.slot; bestD = dist; }
        }
        return best;
    }

    // Without an overview picture the area is fitted to every position seen on this map.
    geometry(state, image) {
        const name = state.map?.name ?? '';
        if (name !== this.boundsMap) {
            this.bounds = null;
            this.boundsMap = name;
        }
        for (const p of state.players) {
            if (!state.present(p.slot) || p.team === 0 || !hasSpawned(p)) continue;
            const b = this.bounds ??= { minX: p.x, maxX: p.x, minY: p.y, maxY: p.y };
            b.minX = Math.min(b.minX, p.x); b.maxX = Math.max(b.maxX, p.x);
            b.minY = Math.min(b.minY, p.y); b.maxY = Math.max(b.maxY, p.y);
        }
        if (image && state.map && state.map.zoom > 0) return state.map;
        return fitMap(this.bounds ?? { minX: -512, maxX: 512, minY: -384, maxY: 384 });
    }

    draw(state, time, image, focus = {}, motion = null) {
        const ctx = this.ctx;
        const dpr = globalThis.devicePixelRatio || 1;
        const { w: cw, h: ch } = this.size();
        if (this.canvas.width !== Math.round(cw * dpr) || this.canvas.height !== Math.round(ch * dpr)) {
            this.canvas.width = Math.round(cw * dpr);
            this.canvas.height = Math.round(ch * dpr);
        }
        const map = this.geometry(state, image);
        this.geometryNow = map;
        const follow = focus.follow ?? -1;
        const place = motion?.players ?? state.players;
        if (follow >= 0 && this.zoom > 1 && state.present(follow)) {
            this.centre = worldToOverview(map, place[follow].x, place[follow].y);
            this.clamp();
        }
        const f = this.frame();
        this.unit = markerScale(cw);
        this.drawBackground(image && state.map?.zoom > 0 ? image : null, map, f, cw, ch, dpr);
        // Everything else in CSS pixels, placed through the same transform.
        ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
        // One frame() for the whole drawing: each reads the canvas's size from the page.
        const { u: cu, v: cv } = this.centre;
        const at = (x, y) => {
            const o = worldToOverview(map, x, y);
            return { x: cw / 2 + (o.u - cu) * f.scale, y: ch / 2 + (o.v - cv) * f.scale };
        };
        const unitsToPx = ((map.zoom > 0 ? map.zoom / 100 : 1) * OVERVIEW_WIDTH / UNITS_AT_ZOOM_1) * f.scale;
        for (const g of state.grenades.values()) this.drawGrenade(g, motion?.grenadeAt?.(g) ?? g, time, at, unitsToPx);
        const labels = [];
        this.drawBomb(state, time, at, labels);
        this.drawn = [];
        // Players not yet spawned on this map have no position to be drawn at.
        const shown = state.players.filter((p) => state.present(p.slot) && inTeam(p) && hasSpawned(p));
        // The dead first, so the living are drawn over them.
        const alive = isAlive;
        const inside = (pos) => pos.x > -20 && pos.y > -20 && pos.x < cw + 20 && pos.y < ch + 20;
        const phase = motion?.phase ?? 0;
        for (const p of [...shown.filter((p) => !alive(p)), ...shown.filter(alive)]) {
            const where = place[p.slot];
            const pos = at(where.x, where.y);
            if (!inside(pos)) continue;  // zoomed away: neither marker nor label
            this.drawn.push({ slot: p.slot, x: pos.x, y: pos.y });
            const lit = p.slot === focus.selected || p.slot === focus.hover || p.slot === follow;
            const ahead = this.screenAngle(where, (where.yaw * Math.PI) / 180);
            if (p.state & (STATE_FIRED | STATE_HIT)) this.drawShot(p, pos, ahead, alive(p), phase);
            this.drawPlayer(p, pos, ahead, alive(p), lit);
            const text = lit && alive(p) ? `${p.name} ${p.health}` : p.name;
            labels.push({ key: p.slot, text, x: pos.x, y: pos.y, colour: alive(p) ? '#ffffff' : '#9a9a9a',
                rank: lit ? 0 : alive(p) ? 2 : 3, bold: lit });
        }
        this.drawLabels(labels, cw, ch);
    }

    // The picture (or the grid), in overview pixels. While the view stands still it is copied
    // as drawn the frame it stopped: a copy pixel for pixel costs much less than drawing the
    // picture scaled. A moving view (the automatic camera, a drag) draws it straight.
    drawBackground(image, map, f, cw, ch, dpr) {
        const { width, height } = this.canvas;
        const key = `${width}x${height}/${f.scale}/${this.centre.u}/${this.centre.v}/${map.zoom}/${map.rotated}/${map.originX}/${map.originY}`;
        const still = key === this.backgroundKey && image === this.backgroundImage;
        this.backgroundKey = key;
        this.backgroundImage = image;
        if (!still || typeof OffscreenCanvas !== 'function') {
            this.background = null;
            this.paintBackground(this.ctx, image, map, f, cw, ch, dpr);
            return;
        }
        if (!this.background) {
            this.background = new OffscreenCanvas(width, height);
            this.paintBackground(this.background.getContext('2d'), image, map, f, cw, ch, dpr);
        }
        this.ctx.setTransform(1, 0, 0, 1, 0, 0);
        this.ctx.drawImage(this.background, 0, 0);
    }

    paintBackground(ctx, image, map, f, cw, ch, dpr) {
        ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
        ctx.fillStyle = '#101214';
        ctx.fillRect(0, 0, cw, ch);
        ctx.setTransform(dpr * f.scale, 0, 0, dpr * f.scale, dpr * (cw / 2 - this.centre.u * f.scale),
            dpr * (ch / 2 - this.centre.v * f.scale));
        if (image) ctx.drawImage(image, 0, 0, OVERVIEW_WIDTH, OVERVIEW_HEIGHT);
        else this.drawGrid(ctx, map);
    }

    drawGrid(ctx, map) {
        ctx.strokeStyle = '#24282d';
        ctx.lineWidth = 1;
        const step = 512;  // world units between lines
        const span = (UNITS_AT_ZOOM_1 / (map.zoom / 100)) * 0.75;
        for (let w = -Math.ceil(span / step) * step; w <= span; w += step) {
            const a = worldToOverview(map, map.originX + w, map.originY);
            const b = worldToOverview(map, map.originX, map.originY + w);
            ctx.beginPath();
            ctx.moveTo(a.u, 0); ctx.lineTo(a.u, OVERVIEW_HEIGHT);
            ctx.moveTo(0, b.v); ctx.lineTo(OVERVIEW_WIDTH, b.v);
            ctx.stroke();
        }
    }

    // A fired shot: a flash along the view; a hit: a red ring that spreads. Both fade out over
    // the half second the snapshot covers (its bits say only that it happened in it).
    drawShot(p, { x, y }, ahead, alive, phase) {
        const ctx = this.ctx;
        const k = this.unit;
        const fade = 1 - Math.min(Math.max(phase, 0), 1) * 0.85;
        if ((p.state & STATE_FIRED) && alive) {
            const from = 8 * k, to = 8 * k + 64 * k * (0.6 + 0.4 * fade);
            const c = Math.cos(ahead), s = Math.sin(ahead);
            ctx.strokeStyle = '#fff3b0';
            ctx.globalAlpha = 0.9 * fade;
            ctx.lineWidth = 2.5 * k;
            ctx.beginPath();
            ctx.moveTo(x + c * from, y + s * from);
            ctx.lineTo(x + c * to, y + s * to);
            ctx.stroke();
            ctx.fillStyle = '#ffd24a';  // the muzzle
            ctx.beginPath();
            ctx.arc(x + c * from, y + s * from, 3 * k, 0, Math.PI * 2);
            ctx.fill();
        }
        if (p.state & STATE_HIT) {
            ctx.strokeStyle = '#ff3b30';
            ctx.globalAlpha = 0.9 * fade;
            ctx.lineWidth = 3 * k;
            ctx.beginPath();
            ctx.arc(x, y, (10 + 8 * (1 - fade)) * k, 0, Math.PI * 2);
            ctx.stroke();
        }
        ctx.globalAlpha = 1;
    }

    drawPlayer(p, { x, y }, ahead, alive, lit) {
        const ctx = this.ctx;
        const k = this.unit;
        const colour = TEAM_COLOUR[p.team];
        ctx.lineWidth = 2 * k;
        if (!alive) {
            const r = 5 * k;
            ctx.strokeStyle = colour;
            ctx.globalAlpha = 0.6;
            ctx.beginPath();
            ctx.moveTo(x - r, y - r); ctx.lineTo(x + r, y + r);
            ctx.moveTo(x + r, y - r); ctx.lineTo(x - r, y + r);
            ctx.stroke();
            ctx.globalAlpha = 1;
            return;
        }
        // The view direction (ahead): the yaw in degrees, counter-clockwise from the world's x.
        ctx.fillStyle = colour;
        ctx.globalAlpha = 0.35;
        ctx.beginPath();
        ctx.moveTo(x, y);
        ctx.arc(x, y, 24 * k, ahead - 0.45, ahead + 0.45);
        ctx.closePath();
        ctx.fill();
        ctx.globalAlpha = 1;
        ctx.beginPath();
        ctx.arc(x, y, 6.5 * k, 0, Math.PI * 2);
        ctx.fill();
        ctx.strokeStyle = lit ? '#ffffff' : '#000000';
        ctx.lineWidth = (lit ? 2.5 : 1) * k;
        ctx.stroke();
        if (p.icons & ICON_C4) {  // the bomb carrier: a red ring and a dot
            ctx.strokeStyle = '#ff3030';
            ctx.lineWidth = 2 * k;
            ctx.beginPath();
            ctx.arc(x, y, 10 * k, 0, Math.PI * 2);
            ctx.stroke();
            ctx.fillStyle = '#ff3030';
            ctx.fillRect(x - 2 * k, y - 2 * k, 4 * k, 4 * k);
        }
        // Health as a bar under the marker: green, red when low.
        ctx.fillStyle = '#000000';
        ctx.fillRect(x - 10 * k, y + 9 * k, 20 * k, 3 * k);
        ctx.fillStyle = p.health > 30 ? '#5ad25a' : '#e04040';
        ctx.fillRect(x - 10 * k, y + 9 * k, (20 * k * Math.min(p.health, 100)) / 100, 3 * k);
    }

    // Two world points give the direction on screen whatever the overview's rotation.
    screenAngle(p, yaw) {
        const geometry = this.geometryNow;
        const o1 = worldToOverview(geometry, p.x, p.y);
        const o2 = worldToOverview(geometry, p.x + Math.cos(yaw) * 100, p.y + Math.sin(yaw) * 100);
        return Math.atan2(o2.v - o1.v, o2.u - o1.u);
    }

    // Placing labels costs more than drawing them: they are placed anew a few times a second
    // (or when the view changes), and in between keep their place beside their moving marker.
    drawLabels(labels, w, h) {
        const ctx = this.ctx;
        const size = Math.round(12 * this.unit);
        labels.sort((a, b) => a.rank - b.rank);
        const now = performance.now();
        const was = this.placed;
        const view = `${w}/${h}/${size}/${Math.round(Math.log2(this.zoom) * 4)}`;  // a pan moves labels and markers alike
        let fresh = !was || now - was.at > LABEL_MS || was.view !== view || was.offsets.size !== labels.length;
        for (let i = 0; !fresh && i < labels.length; i++) fresh = was.offsets.get(labels[i].key)?.text !== labels[i].text;
        if (fresh) {
            const items = labels.map((l) => ({ x: l.x, y: l.y, r: 7 * this.unit, w: this.textWidth(l.text, l.bold, size) + 4, h: size + 2 }));
            const spots = placeLabels(items, { width: w, height: h });
            const offsets = new Map();
            labels.forEach((l, i) => offsets.set(l.key, { text: l.text, dx: spots[i].x - l.x, dy: spots[i].y - l.y }));
            this.placed = { at: now, view, offsets };
        }
        const offsets = this.placed.offsets;
        // Each label is drawn once into a picture of its own and then copied: outlined text is
        // the dearest thing on the map to draw, and labels change far less often than frames.
        const dpr = globalThis.devicePixelRatio || 1;
        for (const l of labels) {
            const o = offsets.get(l.key);
            const sprite = this.labelSprite(l.text, l.bold, l.colour, size, dpr);
            if (!sprite) continue;
            const x = Math.round((l.x + o.dx) * dpr) / dpr, y = Math.round((l.y + o.dy) * dpr) / dpr;
            ctx.drawImage(sprite, x, y, sprite.width / dpr, sprite.height / dpr);
        }
    }

    labelSprite(text, bold, colour, size, dpr) {
        const key = `${bold ? 'b' : ''}${size}/${dpr}/${colour}/${text}`;
        let sprite = this.sprites.get(key);
        if (sprite !== undefined) return sprite;
        if (this.sprites.size > 400) this.sprites.clear();
        const w = Math.ceil((this.textWidth(text, bold, size) + 4) * dpr), h = Math.ceil((size * 1.35 + 4) * dpr);  // descenders and outline
        sprite = typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(w, h) : null;
        const ctx = sprite?.getContext('2d');
        if (!ctx) return null;
        ctx.scale(dpr, dpr);
        ctx.font = `${bold ? 'bold ' : ''}${size}px sans-serif`;
        ctx.textAlign = 'left';
        ctx.textBaseline = 'top';
        ctx.lineJoin = 'round';  // a mitred outline grows spikes from letters like M
        ctx.lineWidth = 3;
        ctx.strokeStyle = 'rgba(0,0,0,0.85)';
        ctx.strokeText(text, 2, 1.5);
        ctx.fillStyle = colour;
        ctx.fillText(text, 2, 1.5);
        this.sprites.set(key, sprite);
        return sprite;
    }

    textWidth(text, bold, size) {
        const key = `${bold ? 'b' : ''}${size}:${text}`;
        let width = this.widths.get(key);
        if (width === undefined) {
            if (this.widths.size > 500) this.widths.clear();
            this.ctx.font = `${bold ? 'bold ' : ''}${size}px sans-serif`;
            width = this.ctx.measureText(text).width;
            this.widths.set(key, width);
        }
        return width;
    }

    // A carried bomb is shown by its carrier's ring; only a dropped or planted one has a place.
    drawBomb(state, time, at, labels) {
        // A defused bomb stays where it was planted, though the game took it off the radar.
        const r = state.round;
        const b = r?.defused && r.plantedAt ? { ...r.plantedAt, state: BOMB_PLANTED } : state.bomb;
        if (!b || (b.state !== BOMB_DROPPED && b.state !== BOMB_PLANTED)) return;
        const ctx = this.ctx;
        const k = this.unit;
        const { x, y } = at(b.x, b.y);
        const planted = b.state === BOMB_PLANTED;
        const defused = state.round?.defused;
        if (defused) ctx.fillStyle = '#40c040';
        else ctx.fillStyle = planted ? (Math.floor(time * 2) % 2 ? '#ff2020' : '#801010') : '#ff9a20';
        ctx.fillRect(x - 6 * k, y - 6 * k, 12 * k, 12 * k);
        if (x > 0 && y > 0 && x < this.size().w && y < this.size().h) {
            labels.push({ key: 'bomb', text: defused ? 'C4 defused' : planted ? 'C4 planted' : 'C4', x, y, colour: '#ffcc66', rank: 1 });
        }
    }

    // `where`: the grenade's eased place between snapshots (g's own at rest).
    drawGrenade(g, where, time, at, unitsToPx) {
        const ctx = this.ctx;
        const k = this.unit;
        const colour = GRENADE_COLOUR[g.kind] ?? '#ffffff';
        const { x, y } = at(where.x, where.y);
        if (g.trail.length > 0) {  // the path so far, fading towards its start
            ctx.strokeStyle = colour;
            ctx.lineWidth = 1.5 * k;
            ctx.setLineDash([4 * k, 3 * k]);
            ctx.globalAlpha = g.event === GRENADE_EXPLODED ? 0.3 : 0.7;
            ctx.beginPath();
            g.trail.forEach(([tx, ty], i) => { const p = at(tx, ty); if (i === 0) ctx.moveTo(p.x, p.y); else ctx.lineTo(p.x, p.y); });
            if (where !== g) { const p = at(g.x, g.y); ctx.lineTo(p.x, p.y); }  // through the snapshot's point
            ctx.lineTo(x, y);
            ctx.stroke();
            ctx.setLineDash([]);
            ctx.globalAlpha = 1;
        }
        if (g.event === GRENADE_EXPLODED) {
            const age = Math.max(0, time - g.time);
            const reach = Math.max((BURST_UNITS[g.kind] ?? 200) * unitsToPx, 8 * k);
            ctx.fillStyle = colour;
            ctx.strokeStyle = colour;
            if (g.kind === GRENADE_SMOKE) {  // a cloud that stays, then thins
                ctx.globalAlpha = 0.45 * Math.min(1, Math.max(0.2, (15 - age) / 3));
                ctx.beginPath();
                ctx.arc(x, y, reach * Math.min(1, 0.4 + age), 0, Math.PI * 2);
                ctx.fill();
            } else {  // a flash or an HE: a ring that spreads and fades
                ctx.globalAlpha = Math.max(0, 0.8 - age * 0.35);
                ctx.lineWidth = (g.kind === GRENADE_FLASH ? 3 : 2) * k;
                ctx.beginPath();
                ctx.arc(x, y, reach * Math.min(1, 0.3 + age), 0, Math.PI * 2);
                if (g.kind === GRENADE_HE) { ctx.globalAlpha *= 0.5; ctx.fill(); ctx.globalAlpha *= 2; }
                ctx.stroke();
            }
            ctx.globalAlpha = 1;
            return;
        }
        ctx.fillStyle = colour;
        ctx.strokeStyle = '#000000';
        ctx.lineWidth = 1;
        ctx.beginPath();
        if (g.kind === GRENADE_FLASH) {  // a diamond
            const r = 4.5 * k;
            ctx.moveTo(x, y - r); ctx.lineTo(x + r, y); ctx.lineTo(x, y + r); ctx.lineTo(x - r, y);
            ctx.closePath();
        } else if (g.kind === GRENADE_SMOKE) {
            ctx.rect(x - 3.5 * k, y - 3.5 * k, 7 * k, 7 * k);
        } else {
            ctx.arc(x, y, 4 * k, 0, Math.PI * 2);
        }
        ctx.fill();
        ctx.stroke();
    }
}
