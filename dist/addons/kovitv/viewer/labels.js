// Placing the players' name labels so that none covers another label or a marker.
//
//   placeLabels(items, area) -> [{ x, y }] the top-left corner of each item's label
//     items: [{ x, y, w, h, r }] a marker at x, y (screen pixels) of radius r, its label w x h
//     area:  { width, height } labels are kept inside it where they fit
//
// Greedy, in the order given (the caller puts the most important first): each label takes the
// first of its candidate places around the marker, nearest first, that overlaps nothing placed
// so far and no marker; when every one overlaps, the one that overlaps least.

// It runs a few times a second over up to 33 labels: flat arrays, nothing allocated per try.
const RINGS = 4, PER_RING = 6;
const MAX = 64;
const placedBoxes = new Float64Array(MAX * 4);  // x, y, w, h of each label placed so far
const markerBoxes = new Float64Array(MAX * 4);

const overlap = (ax, ay, aw, ah, boxes, i) => Math.max(0, Math.min(ax + aw, boxes[i] + boxes[i + 2]) - Math.max(ax, boxes[i])) *
    Math.max(0, Math.min(ay + ah, boxes[i + 1] + boxes[i + 3]) - Math.max(ay, boxes[i + 1]));

// The k-th place tried around a marker, nearest first: above, below, right and left, rings out.
function candidate(it, k, out) {
    const gap = it.r + 2, ring = Math.floor(k / PER_RING), side = k % PER_RING;
    const up = gap + ring * (it.h + 1), step = ring * (it.h + 1);
    switch (side) {
        case 0: out[0] = it.x - it.w / 2; out[1] = it.y - up - it.h; break;
        case 1: out[0] = it.x - it.w / 2; out[1] = it.y + up; break;
        case 2: out[0] = it.x + gap + ring * 8; out[1] = it.y - it.h / 2 - step; break;
        case 3: out[0] = it.x - gap - it.w - ring * 8; out[1] = it.y - it.h / 2 - step; break;
        case 4: out[0] = it.x + gap + ring * 8; out[1] = it.y - it.h / 2 + step; break;
        default: out[0] = it.x - gap - it.w - ring * 8; out[1] = it.y - it.h / 2 + step;
    }
}

export function placeLabels(items, area) {
    const n = Math.min(items.length, MAX);
    for (let i = 0; i < n; i++) {
        const it = items[i];
        markerBoxes[i * 4] = it.x - it.r; markerBoxes[i * 4 + 1] = it.y - it.r;
        markerBoxes[i * 4 + 2] = it.r * 2; markerBoxes[i * 4 + 3] = it.r * 2;
    }
    const at = [0, 0];
    const out = [];
    for (let i = 0; i < items.length; i++) {
        const it = items[i];
        let bestX = 0, bestY = 0, bestCost = Infinity;
        for (let k = 0; k < RINGS * PER_RING; k++) {
            candidate(it, k, at);
            const x = Math.min(Math.max(at[0], 0), Math.max(area.width - it.w, 0));
            const y = Math.min(Math.max(at[1], 0), Math.max(area.height - it.h, 0));
            let cost = 0;
            for (let j = 0; j < Math.min(i, MAX) && cost < bestCost; j++) cost += overlap(x, y, it.w, it.h, placedBoxes, j * 4);
            for (let j = 0; j < n && cost < bestCost; j++) cost += overlap(x, y, it.w, it.h, markerBoxes, j * 4);
            if (cost < bestCost) { bestX = x; bestY = y; bestCost = cost; }
            if (cost === 0) break;
        }
        if (i < MAX) {
            placedBoxes[i * 4] = bestX; placedBoxes[i * 4 + 1] = bestY;
            placedBoxes[i * 4 + 2] = it.w; placedBoxes[i * 4 + 3] = it.h;
        }
        out.push({ x: bestX, y: bestY });
    }
    return out;
}
