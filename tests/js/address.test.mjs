// The address round trip, and the labels placed around crowded markers.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readAddress, writeAddress } from '../../dist/addons/kovitv/viewer/address.js';
import { placeLabels } from '../../dist/addons/kovitv/viewer/labels.js';

test('the address gives back the demo, moment and followed player it was written from', () => {
    const cases = [
        { demo: '/demos/120926/1331_de_kovi.kdem', t: 47.5, follow: null, live: false },
        { demo: '../demos/x y/a&b=c#d%.kdem', t: 0, follow: 'Radek <3 & [KT]=#1 Žofie', live: false },
        { demo: null, t: 0, follow: null, live: true },
        { demo: null, t: 312, follow: 'Old Bob', live: true },
        { demo: null, t: 0, follow: 'x', live: true },
    ];
    for (const c of cases) {
        const hash = writeAddress(c);
        assert.deepEqual(readAddress(`#${hash}`), c, hash);
        assert.doesNotMatch(hash, /#/);
    }
    assert.equal(writeAddress({}), '');
    assert.equal(writeAddress({ t: 10 }), 'live&t=10');
    assert.equal(writeAddress({ demo: 'a.kdem', t: 3.26 }), 'demo=a.kdem&t=3');
    // Links of the viewer before: a query from other servers, and nonsense times.
    assert.deepEqual(readAddress('', '?demo=d.kdem&t=12'), { demo: 'd.kdem', t: 12, follow: null, live: false });
    assert.deepEqual(readAddress('#demo=d.kdem&t=-4'), { demo: 'd.kdem', t: 0, follow: null, live: false });
    assert.deepEqual(readAddress('#demo=d.kdem&t=abc').t, 0);
    // The hash wins over the query.
    assert.equal(readAddress('#demo=h.kdem', '?demo=q.kdem').demo, 'h.kdem');
    assert.equal(readAddress('#live', '?demo=q.kdem').live, true);
});

const overlap = (a, b) => Math.min(a.x + a.w, b.x + b.w) > Math.max(a.x, b.x) && Math.min(a.y + a.h, b.y + b.h) > Math.max(a.y, b.y);

test('labels around a crowded spawn overlap neither each other nor a marker', () => {
    const area = { width: 800, height: 600 };
    // Five players within a few pixels of each other (a spawn), two more near the edge.
    const items = [[400, 300], [404, 302], [398, 306], [409, 297], [402, 309], [5, 5], [795, 595]]
        .map(([x, y], i) => ({ x, y, r: 6, w: 40 + 8 * i, h: 13 }));
    const spots = placeLabels(items, area);
    const boxes = spots.map((s, i) => ({ ...s, w: items[i].w, h: items[i].h }));
    for (const [i, a] of boxes.entries()) {
        assert.ok(a.x >= 0 && a.y >= 0 && a.x + a.w <= area.width && a.y + a.h <= area.height, `label ${i} inside`);
        for (const [j, b] of boxes.entries()) if (j > i) assert.equal(overlap(a, b), false, `labels ${i} and ${j}`);
        for (const m of items) {
            const marker = { x: m.x - m.r, y: m.y - m.r, w: 2 * m.r, h: 2 * m.r };
            assert.equal(overlap(a, marker), false, `label ${i} on a marker`);
        }
    }
    // A lone marker's label sits right above it.
    const [lone] = placeLabels([{ x: 100, y: 100, r: 6, w: 30, h: 12 }], area);
    assert.deepEqual(lone, { x: 85, y: 100 - 8 - 12 });
});
