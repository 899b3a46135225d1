// The map drawing: overview image (or a grid), players, bomb and grenades on one canvas.
//
//   worldToOverview(map, x, y) -> { u, v }   world units to pixels of the 1024 x 768 overview
//   fitMap(bounds) -> map geometry that shows the given world box, for maps without an overview
//   new MapView(canvas).draw(state, time, overviewImage | null)
//
// The drawing space is always the overview's 1024 x 768 pixels; the canvas scales it.

import { BOMB_DROPPED, BOMB_PLANTED, GRENADE_EXPLODED, ICON_C4, STATE_ALIVE } from './state.js';

export const OVERVIEW_WIDTH = 1024;
export const OVERVIEW_HEIGHT = 768;
// At zoom 1 the overview's width covers 8192 world units (the game's own overview convention).
const UNITS_AT_ZOOM_1 = 8192;

export const TEAM_COLOUR = { 1: '#e8a33a', 2: '#5b9bea' };
const GRENADE_COLOUR = { 0: '#c8c8c8', 1: '#ffffff', 2: '#ff5a3c' };

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

export class MapView {
    constructor(canvas) {
        this.canvas = canvas;
        this.ctx = canvas.getContext('2d');
        canvas.width = OVERVIEW_WIDTH;
        canvas.height = OVERVIEW_HEIGHT;
        this.bounds = null;
        this.boundsMap = '';
    }

    // Without an overview picture the area is fitted to every position seen on this map.
    geometry(state, image) {
        const name = state.map?.name ?? '';
        if (name !== this.boundsMap) {
            this.bounds = null;
            this.boundsMap = name;
        }
        for (const p of state.players) {
            if (!state.present(p.slot) || p.team === 0) continue;
            const b = this.bounds ??= { minX: p.x, maxX: p.x, minY: p.y, maxY: p.y };
            b.minX = Math.min(b.minX, p.x); b.maxX = Math.max(b.maxX, p.x);
            b.minY = Math.min(b.minY, p.y); b.maxY = Math.max(b.maxY, p.y);
        }
        if (image && state.map && state.map.zoom > 0) return state.map;
        return fitMap(this.bounds ?? { minX: -512, maxX: 512, minY: -384, maxY: 384 });
    }

    draw(state, time, image) {
        const ctx = this.ctx;
        const map = this.geometry(state, image);
        ctx.setTransform(1, 0, 0, 1, 0, 0);
        ctx.fillStyle = '#101214';
        ctx.fillRect(0, 0, OVERVIEW_WIDTH, OVERVIEW_HEIGHT);
        if (image && state.map?.zoom > 0) ctx.drawImage(image, 0, 0, OVERVIEW_WIDTH, OVERVIEW_HEIGHT);
        else this.drawGrid(map);
        const at = (x, y) => worldToOverview(map, x, y);
        this.drawBomb(state, time, at);
        for (const g of state.grenades.values()) this.drawGrenade(g, time, at);
        for (const p of state.players) {
            if (state.present(p.slot) && (p.team === 1 || p.team === 2)) this.drawPlayer(p, at);
        }
    }

    drawGrid(map) {
        const ctx = this.ctx;
        ctx.strokeStyle = '#24282d';
        ctx.lineWidth = 1;
        const step = 512;  // world units between lines
        const corners = [[0, 0], [OVERVIEW_WIDTH, OVERVIEW_HEIGHT]];
        const span = (UNITS_AT_ZOOM_1 / (map.zoom / 100)) * 0.75;
        for (let w = -Math.ceil(span / step) * step; w <= span; w += step) {
            const a = worldToOverview(map, map.originX + w, map.originY);
            const b = worldToOverview(map, map.originX, map.originY + w);
            ctx.beginPath();
            ctx.moveTo(a.u, corners[0][1]); ctx.lineTo(a.u, corners[1][1]);
            ctx.moveTo(corners[0][0], b.v); ctx.lineTo(corners[1][0], b.v);
            ctx.stroke();
        }
    }

    drawPlayer(p, at) {
        const ctx = this.ctx;
        const { u, v } = at(p.x, p.y);
        const colour = TEAM_COLOUR[p.team];
        const alive = (p.state & STATE_ALIVE) !== 0 && p.health > 0;
        ctx.lineWidth = 2;
        if (!alive) {
            ctx.strokeStyle = colour;
            ctx.globalAlpha = 0.55;
            ctx.beginPath();
            ctx.moveTo(u - 5, v - 5); ctx.lineTo(u + 5, v + 5);
            ctx.moveTo(u + 5, v - 5); ctx.lineTo(u - 5, v + 5);
            ctx.stroke();
            this.label(p.name, u, v - 9, '#bbbbbb');
            ctx.globalAlpha = 1;
            return;
        }
        const yaw = (p.yaw * Math.PI) / 180;
        const ahead = at(p.x + Math.cos(yaw) * 100, p.y + Math.sin(yaw) * 100);
        const du = ahead.u - u, dv = ahead.v - v;
        const length = Math.hypot(du, dv) || 1;
        ctx.strokeStyle = colour;
        ctx.beginPath();
        ctx.moveTo(u, v);
        ctx.lineTo(u + (du / length) * 16, v + (dv / length) * 16);
        ctx.stroke();
        ctx.fillStyle = colour;
        ctx.beginPath();
        ctx.arc(u, v, 6, 0, Math.PI * 2);
        ctx.fill();
        if (p.icons & ICON_C4) {
            ctx.strokeStyle = '#ff3030';
            ctx.beginPath();
            ctx.arc(u, v, 9, 0, Math.PI * 2);
            ctx.stroke();
        }
        this.label(p.name, u, v - 10, '#ffffff');
        ctx.fillStyle = '#000000';
        ctx.fillRect(u - 10, v + 9, 20, 3);
        ctx.fillStyle = p.health > 30 ? '#5ad25a' : '#e04040';
        ctx.fillRect(u - 10, v + 9, (20 * Math.min(p.health, 100)) / 100, 3);
    }

    label(text, u, v, colour) {
        const ctx = this.ctx;
        ctx.font = '12px sans-serif';
        ctx.textAlign = 'center';
        ctx.lineWidth = 3;
        ctx.strokeStyle = 'rgba(0,0,0,0.8)';
        ctx.strokeText(text, u, v);
        ctx.fillStyle = colour;
        ctx.fillText(text, u, v);
    }

    // A carried bomb is shown by its carrier's ring; only a dropped or planted one has a place.
    drawBomb(state, time, at) {
        const b = state.bomb;
        if (!b || (b.state !== BOMB_DROPPED && b.state !== BOMB_PLANTED)) return;
        const ctx = this.ctx;
        const { u, v } = at(b.x, b.y);
        const planted = b.state === BOMB_PLANTED;
        if (b.defused) ctx.fillStyle = '#40c040';
        else ctx.fillStyle = planted ? (Math.floor(time * 2) % 2 ? '#ff2020' : '#801010') : '#ff9a20';
        ctx.fillRect(u - 6, v - 6, 12, 12);
        this.label(b.defused ? 'C4 defused' : planted ? 'C4 planted' : 'C4', u, v - 9, '#ffcc66');
    }

    drawGrenade(g, time, at) {
        const ctx = this.ctx;
        const { u, v } = at(g.x, g.y);
        ctx.fillStyle = GRENADE_COLOUR[g.kind] ?? '#ffffff';
        ctx.strokeStyle = ctx.fillStyle;
        if (g.event === GRENADE_EXPLODED) {
            ctx.globalAlpha = 0.5;
            ctx.lineWidth = 2;
            ctx.beginPath();
            ctx.arc(u, v, 8 + Math.min(time - g.time, 2) * 8, 0, Math.PI * 2);
            ctx.stroke();
            ctx.globalAlpha = 1;
            return;
        }
        ctx.beginPath();
        ctx.arc(u, v, 3, 0, Math.PI * 2);
        ctx.fill();
    }
}
