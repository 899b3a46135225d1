// The packet decoder against the C++ tests' vectors, delta forms, name lengths and cut packets.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { decodePacket } from '../../dist/addons/kovitv/viewer/stream.js';
import { vectors as v, packet } from './vectors.mjs';

const strip = ({ offset, ...rest }) => rest;

test('every vector decodes to what the C++ reader reads back, in order', () => {
    const all = packet(v.kPlayerFull, v.kMap, v.kScore, v.kBomb, v.kRoundOver, v.kDeath,
        v.kRadioBombPlanted, v.kChat, v.kHeartbeat, v.kGrenade, v.kPlayerDelta, v.kRoundTime,
        v.kMapEmpty, v.kChatEmpty);
    const got = decodePacket(all);
    assert.equal(got.truncated, false);
    assert.equal(got.skipped, 0);
    assert.deepEqual(got.chunks.map(strip), [
        { type: 'player', slot: 3, mask: 0xFF, x: -1, y: 0x1234, yaw: 90, health: 100, state: 0x24,
            kills: 5, deaths: 2, team: 2, name: 'Bob', weapon: 28, icons: 0x08 },
        { type: 'map', name: 'de_kovi', zoom: 123, rotated: 1, originX: -200, originY: 350 },
        { type: 'score', t: 44, ct: 2 },
        { type: 'bomb', x: -1000, y: 512, state: 2 },
        { type: 'clock', seconds: -1 },
        { type: 'death', killer: 255, victim: 4, headshot: 1, weapon: 'knife' },
        { type: 'radio', code: 2, a1: 0, a2: 0 },
        { type: 'chat', kind: 2, sender: 7, text: 'gg' },
        { type: 'heartbeat', bytes: [2, 0, 0] },
        { type: 'grenade', id: 31, x: 100, y: -100, event: 11, kind: 2 },
        // The delta carries only its groups: nothing else appears on the object.
        { type: 'player', slot: 3, mask: 0x09, x: -1, y: 0x1234, yaw: -45, kills: 5, deaths: 3 },
        { type: 'clock', seconds: 115 },
        { type: 'map', name: '', zoom: 0, rotated: 0, originX: 0, originY: 0 },
        { type: 'chat', kind: 2, sender: 7, text: '' },
    ]);
    assert.equal(got.chunks[1].offset, 2 + v.kPlayerFull.length);
});

test('scores are signed bytes and every slot below 32 is a player', () => {
    const got = decodePacket(packet([36, 0xFF, 0x80], [31, 0x02, 7], [0, 0x00]));
    assert.deepEqual(got.chunks.map(strip), [
        { type: 'score', t: -1, ct: -128 },
        { type: 'player', slot: 31, mask: 0x02, health: 7 },
        { type: 'player', slot: 0, mask: 0 },
    ]);
});

test('names of 0, 63, 64 and 255 bytes: 63 kept, every byte stepped over', () => {
    for (const length of [0, 63, 64, 255]) {
        const name = Array.from({ length }, (_, i) => 97 + (i % 26));
        const kept = String.fromCharCode(...name.slice(0, 63));
        const player = decodePacket(packet([5, 0x60, length, ...name, 9], v.kHeartbeat));
        const map = decodePacket(packet([32, length, ...name, 0, 100, 0, 0, 1, 0, 2], v.kHeartbeat));
        assert.equal(player.truncated || map.truncated, false, `length ${length}`);
        assert.deepEqual([...player.chunks, ...map.chunks].map(strip), [
            { type: 'player', slot: 5, mask: 0x60, name: kept, weapon: 9 },
            { type: 'heartbeat', bytes: [2, 0, 0] },
            { type: 'map', name: kept, zoom: 100, rotated: 0, originX: 1, originY: 2 },
            { type: 'heartbeat', bytes: [2, 0, 0] },
        ]);
    }
    // Bytes that are no UTF-8 still give a name, and a character cut at 63 bytes too.
    const bad = decodePacket(packet([1, 0x20, 2, 0xFF, 0x41]));
    assert.equal(bad.chunks[0].name, '\uFFFDA');
    const euro = [0xE2, 0x82, 0xAC];
    const cut = decodePacket(packet([1, 0x20, 64, ...Array(62).fill(0x41), ...euro.slice(0, 2)]));
    assert.equal(cut.chunks[0].name, 'A'.repeat(62) + '\uFFFD');
});

test('unknown headers are stepped over one byte at a time', () => {
    const got = decodePacket(packet([37, 42, 200, 255], v.kHeartbeat));
    assert.equal(got.skipped, 4);
    assert.deepEqual(got.chunks.map((c) => [c.type, c.offset]), [['heartbeat', 6]]);
});

test('a chunk claiming more than the packet holds ends the walk there', () => {
    const cut = [
        [38, 2, 0],
        [3, 0x20, 10, 97, 98],
        [3, 0xFF, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 1],  // icons byte missing after the name
        [32, 3, 97, 98, 99, 0, 100, 0],
        [33, 1, 2, 0, 9, 107],
        [35, 1, 2, 200],
        [39, 1, 2, 3],
        [40, 1, 2, 3, 4],
        [41, 0],
        [36, 1],
        [34, 1, 2],
        [7],
    ];
    for (const bytes of cut) {
        // The bytes behind the end are a valid heartbeat the walk must not see.
        const buffer = packet(v.kScore, bytes, v.kHeartbeat);
        const view = buffer.subarray(0, buffer.length - v.kHeartbeat.length);
        const got = decodePacket(view);
        assert.equal(got.truncated, true, `header ${bytes[0]}`);
        assert.deepEqual(got.chunks.map((c) => c.type), ['score'], `header ${bytes[0]}`);
    }
});

test('only the first 512 bytes count, and a packet shorter than 2 bytes is invalid', () => {
    const big = new Uint8Array(1000).fill(38);
    const got = decodePacket(big);
    assert.equal(got.chunks.length, Math.floor((512 - 2) / 4));
    assert.equal(got.truncated, true);
    assert.equal(decodePacket(new Uint8Array([0])).invalid, true);
    assert.deepEqual(decodePacket(new Uint8Array([0, 0])).chunks, []);
});
