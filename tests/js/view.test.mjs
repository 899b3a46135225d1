// Where the world lands on the overview, and seeking a demo against playing it through.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { worldToOverview, fitMap } from '../../dist/addons/kovitv/viewer/view.js';
import { DemoPlayer, CHECKPOINT_EVERY } from '../../dist/addons/kovitv/viewer/player.js';
import { GameState } from '../../dist/addons/kovitv/viewer/state.js';
import { vectors as v, packet } from './vectors.mjs';

test('the overview places its origin at the centre and covers 8192 / zoom units across', () => {
    const flat = { zoom: 200, rotated: 0, originX: 100, originY: -50 };
    assert.deepEqual(worldToOverview(flat, 100, -50), { u: 512, v: 384 });
    // Not rotated: world x points up the picture, world y to the left.
    assert.deepEqual(worldToOverview(flat, 100 + 1536, -50), { u: 512, v: 0 });
    assert.deepEqual(worldToOverview(flat, 100, -50 + 2048), { u: 0, v: 384 });
    const turned = { ...flat, rotated: 1 };
    assert.deepEqual(worldToOverview(turned, 100 + 2048, -50 - 1536), { u: 1024, v: 768 });
    // A zoom of 0 (no overview description) is read as 1, never a division by zero.
    assert.deepEqual(worldToOverview({ zoom: 0, rotated: 1, originX: 0, originY: 0 }, 4096, 0), { u: 1024, v: 384 });
    const fit = fitMap({ minX: -3000, maxX: 1000, minY: -200, maxY: 200 });
    for (const [x, y] of [[-3000, -200], [1000, 200]]) {
        const { u, v: w } = worldToOverview(fit, x, y);
        assert.equal(u > 0 && u < 1024 && w > 0 && w < 768, true, `${x},${y}`);
    }
});

test('seeking gives the state that playing from the start gives', () => {
    // Records that change something every time, with a map start in the middle.
    const records = Array.from({ length: 3 * CHECKPOINT_EVERY + 7 }, (_, i) => {
        const chunks = [[3, 0x0B, 0, i, 0, 0, 0, 0, i % 100, i % 7, 1], [36, i % 50, 1]];
        if (i === 0 || i === 100) chunks.push(v.kMapEmpty, [3, 0x20, 3, 66, 111, 98]);
        if (i % 9 === 0) chunks.push(v.kDeath, [35, 2, 3, 1, 48 + (i % 10)], [39, i % 32, 0, i, 0, 0, i % 3 ? 1 : 5, 0]);
        return [packet(...chunks)];
    });
    const demo = new DemoPlayer(records);
    assert.deepEqual(demo.markers.filter((m) => m.kind === 'map').map((m) => m.record), [0, 100]);
    for (const target of [0, 1, 59, 60, 61, 100, 101, 187, 999]) {
        const linear = new GameState();
        for (let i = 0; i < Math.min(target, records.length); i++) linear.applyElement(records[i], i / 2);
        demo.seek(target);
        assert.deepEqual({ ...demo.state }, { ...linear }, `seek to ${target}`);
    }
    // Playing after a seek must not change the checkpoints seeking relies on.
    demo.seek(61);
    demo.playing = true;
    demo.advance(40);
    demo.seek(61);
    const again = new GameState();
    for (let i = 0; i < 61; i++) again.applyElement(records[i], i / 2);
    assert.deepEqual({ ...demo.state }, { ...again });
});

test('live, the player waits at the newest record instead of stopping, and skips stay within what came', () => {
    const live = new DemoPlayer([], { live: true });
    const record = (i) => [packet([3, 0x0B, 0, i, 0, 0, 0, 0, i % 100, 0, 1])];
    for (let i = 0; i < 10; i++) live.append(record(i));
    live.seek(10);
    live.playing = true;
    assert.equal(live.advance(5), false);
    assert.equal(live.playing, true);  // a demo would have stopped here
    live.append(record(10));
    live.advance(0.6);
    assert.equal(live.position, 11);
    live.skip(-10);
    assert.equal(live.position, 1);  // never before the first record
    live.skip(60);
    assert.equal(live.position, 11);
    const demo = new DemoPlayer(Array.from({ length: 4 }, (_, i) => record(i)));
    demo.playing = true;
    demo.advance(10);
    assert.deepEqual([demo.position, demo.playing], [4, false]);
});
