// Demo files and live fragments: good, cut and garbage bytes; what the follower fetches next.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { demoLabel, isDemoPath, parseDemo } from '../../dist/addons/kovitv/viewer/demo.js';
import { parseElements, nextStep, playStep } from '../../dist/addons/kovitv/viewer/fragments.js';
import { vectors as v, packet } from './vectors.mjs';

const masked = (bytes) => bytes.map((b) => b ^ 0x6D);
const framed = (bytes) => [bytes.length >> 8, bytes.length & 0xFF, ...bytes];

const first = packet(v.kMapEmpty, v.kHeartbeat);
const big = packet(...Array(30).fill(v.kPlayerFull));
const second = big.slice(0, 512);
const demo = Uint8Array.from([2, 1, ...framed(masked(first)), 2, ...framed(masked(packet(v.kHeartbeat))),
    ...framed(masked(second))]);

test('a demo file gives its records unmasked, two packets of 512 bytes included', () => {
    const got = parseDemo(demo.buffer);
    assert.equal(got.fault, null);
    assert.deepEqual(got.records, [[first], [packet(v.kHeartbeat), second]]);
    // The bytes the recorder writes for a heartbeat-only snapshot.
    const beat = parseDemo(Uint8Array.from([2, 1, 0, 6, ...masked(packet(v.kHeartbeat))]));
    assert.deepEqual(beat.records, [[packet(v.kHeartbeat)]]);
});

test('a cut or damaged demo keeps the whole records before the first fault', () => {
    for (let cut = 1 + 1 + 2 + first.length + 1; cut < demo.length; cut++) {
        const got = parseDemo(demo.subarray(0, cut));
        assert.equal(got.records.length, 1, `cut at ${cut}`);
        assert.equal(got.fault.offset >= 1 + 2 + first.length, true);
    }
    assert.equal(parseDemo(demo.subarray(0, 1)).fault, null);
    assert.match(parseDemo(new Uint8Array()).fault.message, /empty/);
    assert.match(parseDemo(Uint8Array.from([80, 75, 3, 4])).fault.message, /not a demo file/);
    const zero = parseDemo(Uint8Array.from([2, 0, 1]));
    assert.deepEqual([zero.records.length, zero.fault.offset], [0, 1]);
    for (const length of [0, 1, 513, 0xFFFF]) {
        const got = parseDemo(Uint8Array.from([2, 1, 0, 6, ...masked(packet(v.kHeartbeat)), 1, length >> 8, length & 0xFF]));
        assert.deepEqual([got.records.length, got.fault.offset], [1, 11], `length ${length}`);
    }
    // Garbage of every kind ends somewhere, never throws, and keeps only whole records.
    let seed = 7;
    for (let n = 0; n < 300; n++) {
        const junk = Uint8Array.from({ length: 1 + (n % 50) * 7 }, () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24);
        junk[0] = 2;
        const got = parseDemo(junk);
        for (const r of got.records) for (const p of r) assert.equal(p.length >= 2 && p.length <= 512, true);
    }
});

test('fragment elements carry the fresh flag and plain packets', () => {
    const bytes = Uint8Array.from([1, 1, ...framed(first), 0, 2, ...framed(packet(v.kHeartbeat)), ...framed(second)]);
    const got = parseElements(bytes);
    assert.equal(got.fault, null);
    assert.deepEqual(got.elements, [
        { fresh: true, packets: [first] },
        { fresh: false, packets: [packet(v.kHeartbeat), second] },
    ]);
    assert.deepEqual(parseElements(new Uint8Array()), { elements: [], fault: null });
    for (const cut of [1, 3, 2 + 2 + first.length + 3]) {
        const partial = parseElements(bytes.subarray(0, cut));
        assert.notEqual(partial.fault, null, `cut at ${cut}`);
        assert.equal(partial.elements.length, cut > 10 ? 1 : 0);
    }
    assert.notEqual(parseElements(Uint8Array.from([0, 0])).fault, null);
});

test('the follower starts a fragment before the newest, follows it, and jumps when lost', () => {
    const sync = (fragment) => ({ fragment, elements: 10 });
    assert.deepEqual(nextStep(null, sync(7), 0), { action: 'start', fragment: 6 });
    assert.deepEqual(nextStep(null, sync(1), 0), { action: 'start', fragment: 1 });
    assert.deepEqual(nextStep(8, sync(7), 10), { action: 'wait' });
    assert.deepEqual(nextStep(8, sync(8), 4), { action: 'body', fragment: 8 });
    assert.deepEqual(nextStep(8, sync(10), 4), { action: 'body', fragment: 8 });
    // 34 s of game not yet shown: too far behind.
    assert.deepEqual(nextStep(8, sync(13), 8), { action: 'jump', fragment: 13 });
    // The server restarted: its numbers went back.
    assert.deepEqual(nextStep(8, sync(2), 0), { action: 'start', fragment: 2 });
    // 0 is the plugin's "nothing complete yet".
    for (const s of [sync(0), sync(-1), { fragment: 3 }, null, { fragment: '3', elements: 10 }]) {
        assert.deepEqual(nextStep(8, s, 0), { action: 'none' });
    }
});

test('playing keeps two elements a second until the queue grows, then speeds up', () => {
    assert.equal(playStep(0, 4), 500);
    assert.equal(playStep(10, 4), 500);
    assert.equal(playStep(20, 4), 62.5);
    assert.equal(playStep(1000, 4), 50);
});

test('the server\'s demo list is shown with month-first folder dates and only its own paths are followed', () => {
    assert.equal(demoLabel({ path: '/demos/120826/1240_de_kovi.kdem', map: 'de_kovi', date: '120826', time: '1240', bytes: 1234567 }),
        '2026-12-08 12:40 de_kovi (1.2 MB)');
    assert.equal(demoLabel({ map: 'de_x', date: '010125', time: '0905', bytes: 999 }), '2025-01-01 09:05 de_x (1 kB)');
    assert.equal(isDemoPath('/demos/120826/1240_de_kovi.kdem'), true);
    for (const bad of ['/demos/120826/../../config.ini', 'http://elsewhere/demos/120826/1240_x.kdem',
        '/demos/1208/1240_x.kdem', '/demos/120826/1240_x.kdem?x', '/demos/120826/1240_a/b.kdem', null]) {
        assert.equal(isDemoPath(bad), false, String(bad));
    }
});
