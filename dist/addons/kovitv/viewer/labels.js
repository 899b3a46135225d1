// Placing the players' name labels so that none covers another label or a marker.
//
//   placeLabels(items, area) -> [{ x, y }] the top-left corner of each item's label
//     items: [{ x, y, w, h, r }] a marker at x, y (screen pixels) of radius r, its label w x h
//     area:  { width, height } labels are kept inside it where they fit
//
// Greedy, in the order given (the caller puts the most important first): each label takes the
// first of its candidate places around the marker, nearest first, that overlaps nothing placed
// so far and no marker; when every one overlaps, the one that overlaps least.

const overlap = (a, b) => Math.max(0, Math.min(a.x + a.w, b.x + b.w) - Math.max(a.x, b.x)) *
    Math.max(0, Math.min(a.y + a.h, b.y + b.h) - Math.max(a.y, b.y));

function candidates(it) {
    const gap = it.r + 2;
    const out = [];
    for (let ring = 0; ring < 4; ring++) {
        const up = gap + ring * (it.h + 1);
        out.push([it.x - it.w / 2, it.y - up - it.h], [it.x - it.w / 2, it.y + up],
            [it.x + gap + ring * 8, it.y - it.h / 2 - ring * (it.h + 1)], [it.x - gap - it.w - ring * 8, it.y - it.h / 2 - ring * (it.h + 1)],
            [it.x + gap + ring * 8, it.y - it.h / 2 + ring * (it.h + 1)], [it.x - gap - it.w - ring * 8, it.y - it.h / 2 + ring * (it.h + 1)]);
    }
    return out;
}

export function placeLabels(items, area) {
    const markers = items.map((it) => ({ x: it.x - it.r, y: it.y - it.r, w: it.r * 2, h: it.r * 2 }));
    const placed = [];
    return items.map((it) => {
        let best = null, bestCost = Infinity;
        for (const [cx, cy] of candidates(it)) {
            const box = { x: Math.min(Math.max(cx, 0), Math.max(area.width - it.w, 0)),
                y: Math.min(Math.max(cy, 0), Math.max(area.height - it.h, 0)), w: it.w, h: it.h };
            let cost = 0;
            for (const p of placed) cost += overlap(box, p);
            for (const m of markers) cost += overlap(box, m);
            if (cost < bestCost) { best = box; bestCost = cost; }
            if (cost === 0) break;
        }
        placed.push(best);
        return { x: best.x, y: best.y };
    });
}
