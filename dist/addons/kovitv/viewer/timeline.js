// The timeline under the controls: what has been played, map and round starts, kills, highlights
// and marked moments along the records of what is shown, and seeking by click, drag or touch.
//
//   drawTimeline(canvas, player, marks = [])   marks: record numbers to point out (a stat's moments)
//   attachTimeline(canvas, { player: () => DemoPlayer | null, seek(record) })
//       pointer seeking; the title names the markers near the pointer

import { formatClock } from './rules.js';

const MARKER_COLOUR = { round: '#ffffff', kill: '#e04040', map: '#f5c542', start: '#777777' };
const HIGHLIGHT_COLOUR = { opening: '#ff8a6a', multikill: '#ff4040', clutch: '#c08aff', defuse: '#6ad26a' };
const MARK_COLOUR = '#48e0d0';

export function drawTimeline(canvas, p, marks = []) {
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
    ctx.fillStyle = MARK_COLOUR;
    for (const record of marks) {  // triangles in the middle, pointing down
        const mx = x(record);
        ctx.beginPath();
        ctx.moveTo(mx - 4, height / 2 - 6); ctx.lineTo(mx + 4, height / 2 - 6); ctx.lineTo(mx, height / 2 + 2);
        ctx.fill();
    }
    ctx.fillStyle = '#f5c542';
    ctx.fillRect(x(p.position) - 1.5, 0, 3, height);
}

export function attachTimeline(canvas, { player, seek }) {
    const recordAt = (event) => {
        const box = canvas.getBoundingClientRect();
        return ((event.clientX - box.left) / box.width) * (player()?.length ?? 0);
    };
    canvas.addEventListener('pointerdown', (event) => {
        seek(recordAt(event));
        canvas.setPointerCapture(event.pointerId);
    });
    canvas.addEventListener('pointermove', (event) => {
        const p = player();
        if (!p) return;
        const record = recordAt(event);
        if (event.buttons & 1) seek(record);
        const near = [...p.highlights, ...p.markers].filter((m) => Math.abs(m.record - record) < Math.max(p.length / 150, 2));
        canvas.title = near.map((m) => `${formatClock(m.record / 2)} ${m.text}`).join('\n') || formatClock(record / 2);
    });
}
