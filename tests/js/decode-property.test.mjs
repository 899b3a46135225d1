// Hostile bytes: random and mutated packets, demo files and fragment bodies through the viewer's
// readers. None of them may throw, read past the end of the bytes it was given, or hand out a
// value that is not what its field can hold. Seeded, so a failing case can be replayed: the
// message names the seed and case number (KOVITV_JS_SEED picks another seed).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { decodePacket, PACKET_SIZE, NAME_KEEP } from '../../dist/addons/kovitv/viewer/stream.js';
import { parseDemo, DEMO_MASK } from '../../dist/addons/kovitv/viewer/demo.js';
import { parseElements } from '../../dist/addons/kovitv/viewer/fragments.js';
import { GameState } from '../../dist/addons/kovitv/viewer/state.js';
import { vectors as v, packet } from './vectors.mjs';

const SEED = Number(process.env.KOVITV_JS_SEED ?? 20261208);
const CASES = 3000;

function random(seed) {  // mulberry32
    let a = seed >>> 0;
    return () => {
        a = (a + 0x6D2B79F5) >>> 0;
        let t = a;
        t = Math.imul(t ^ (t >>> 15), t | 1);
        t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
        return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
    };
}

// The bytes behind a proxy that notes every index read at or beyond the end: a typed array
// answers such reads with undefined, which arithmetic quietly turns into 0.
function guarded(bytes) {
    const over = [];
    const proxy = new Proxy(bytes, {
        get(target, key) {
            if (typeof key === 'string' && /^\d+$/.test(key) && Number(key) >= target.length) over.push(Number(key));
            const value = Reflect.get(target, key);
            return typeof value === 'function' ? value.bind(target) : value;
        },
    });
    return { proxy, over };
}

const SHAPES = {
    player: { slot: [0, 31], mask: [0, 255], x: 's16', y: 's16', yaw: 's16', health: 'u8', state: 'u8',
        kills: 'u8', deaths: 'u8', team: 'u8', name: NAME_KEEP, weapon: 'u8', icons: 'u8' },
    map: { name: NAME_KEEP, zoom: 'u16', rotated: 'u8', originX: 's16', originY: 's16' },
    death: { killer: 'u8', victim: 'u8', headshot: 'u8', weapon: 255 },
    radio: { code: 'u8', a1: 'u8', a2: 'u8' },
    chat: { kind: 'u8', sender: 'u8', text: 255 },
    score: { t: 's8', ct: 's8' },
    heartbeat: { bytes: 'bytes3' },
    grenade: { id: 'u8', x: 's16', y: 's16', event: 'u8', kind: 'u8' },
    bomb: { x: 's16', y: 's16', state: 'u8' },
    clock: { seconds: 's16' },
};
const RANGES = { u8: [0, 255], s8: [-128, 127], u16: [0, 65535], s16: [-32768, 32767] };

function checkField(kind, key, value, shape) {
    const where = `${kind}.${key} = ${JSON.stringify(value)}`;
    if (typeof shape === 'number') {
        assert.equal(typeof value, 'string', where);
        assert.ok(value.length <= shape, where);  // one UTF-16 unit at most per byte kept
        return;
    }
    if (shape === 'bytes3') {
        assert.ok(Array.isArray(value) && value.length === 3, where);
        value.forEach((b) => checkField(kind, key, b, 'u8'));
        return;
    }
    const [lo, hi] = Array.isArray(shape) ? shape : RANGES[shape];
    assert.ok(Number.isInteger(value) && value >= lo && value <= hi, where);
}

function checkDecoded(bytes, got) {
    if (bytes.length < 2) {
        assert.ok(got.invalid && got.chunks.length === 0);
        return;
    }
    assert.equal(got.invalid, false);
    let last = 1;
    for (const chunk of got.chunks) {
        const shape = SHAPES[chunk.type];
        assert.ok(shape, `unknown chunk type ${chunk.type}`);
        assert.ok(chunk.offset > last && chunk.offset < Math.min(bytes.length, PACKET_SIZE), 'offset');
        last = chunk.offset;
        for (const [key, value] of Object.entries(chunk)) {
            if (key === 'type' || key === 'offset') continue;
            assert.ok(key in shape, `${chunk.type} has a field ${key}`);
            checkField(chunk.type, key, value, shape[key]);
        }
    }
    assert.ok(got.skipped >= 0 && got.skipped <= Math.min(bytes.length, PACKET_SIZE) - 2);
}

const CHUNKS = Object.values(v);

function mutate(rand, bytes) {
    const out = [...bytes];
    const edits = 1 + Math.floor(rand() * 4);
    for (let e = 0; e < edits; e++) {
        const at = Math.floor(rand() * (out.length + 1));
        switch (Math.floor(rand() * 5)) {
            case 0: if (at < out.length) out[at] ^= 1 << Math.floor(rand() * 8); break;
            case 1: if (at < out.length) out[at] = Math.floor(rand() * 256); break;
            case 2: out.splice(at, 0, Math.floor(rand() * 256)); break;
            case 3: out.splice(at, 1 + Math.floor(rand() * 8)); break;
            default: out.length = Math.min(out.length, at); break;  // cut short
        }
    }
    return Uint8Array.from(out);
}

function validPacket(rand) {
    const parts = [];
    const n = 1 + Math.floor(rand() * 12);
    for (let i = 0; i < n; i++) parts.push(CHUNKS[Math.floor(rand() * CHUNKS.length)]);
    return packet(...parts);
}

function someBytes(rand, max) {
    const out = new Uint8Array(Math.floor(rand() * max));
    for (let i = 0; i < out.length; i++) out[i] = Math.floor(rand() * 256);
    return out;
}

function hostilePacket(rand) {
    const r = rand();
    if (r < 0.3) return someBytes(rand, PACKET_SIZE + 80);  // past 512 too: nothing beyond is read
    if (r < 0.4) {  // a text length byte claiming more than is left
        const p = validPacket(rand);
        return Uint8Array.from([...p, 35, 2, 7, 200, 65, 66]);
    }
    return mutate(rand, validPacket(rand));
}

function record(packets, mask) {
    const out = [packets.length];
    for (const p of packets) out.push(p.length >> 8, p.length & 0xFF, ...p.map((b) => b ^ mask));
    return out;
}

function run(name, body) {
    const rand = random(SEED ^ [...name].reduce((h, c) => Math.imul(h, 31) + c.charCodeAt(0), 7));
    for (let i = 0; i < CASES; i++) {
        try {
            body(rand);
        } catch (error) {
            error.message = `${name}: seed ${SEED}, case ${i}: ${error.message}`;
            throw error;
        }
    }
}

test('decodePacket on random and mutated packets', () => {
    run('packets', (rand) => {
        const bytes = hostilePacket(rand);
        const { proxy, over } = guarded(bytes);
        const got = decodePacket(proxy);
        assert.deepEqual(over, [], 'read past the end');
        checkDecoded(bytes, got);
        assert.deepEqual(got, decodePacket(bytes), 'the proxy changed what was read');
    });
});

test('parseDemo and parseElements on mutated files keep only whole records before a fault', () => {
    run('files', (rand) => {
        const records = [];
        for (let n = 1 + Math.floor(rand() * 4); n > 0; n--) {
            const packets = [];
            for (let k = 1 + Math.floor(rand() * 3); k > 0; k--) packets.push(validPacket(rand));
            records.push(packets);
        }
        const demo = mutate(rand, [2, ...records.flatMap((r) => record(r, DEMO_MASK))]);
        const g = guarded(demo);
        const got = parseDemo(g.proxy);
        assert.deepEqual(g.over, [], 'demo: read past the end');
        assert.ok(got.fault === null || (Number.isInteger(got.fault.offset) && got.fault.offset <= demo.length
            && typeof got.fault.message === 'string'), 'demo fault');
        for (const r of got.records) {
            assert.ok(r.length >= 1 && r.length <= 255);
            for (const p of r) assert.ok(p.length >= 2 && p.length <= PACKET_SIZE);
        }
        new GameState().applyElement(got.records.flat(), 0);  // whatever survived plays

        const body = mutate(rand, records.flatMap((r) => [Math.floor(rand() * 2), ...record(r, 0)]));
        const e = guarded(body);
        const elements = parseElements(e.proxy);
        assert.deepEqual(e.over, [], 'fragment: read past the end');
        for (const element of elements.elements) assert.ok(element.packets.length >= 1);
    });
});

test('GameState takes any run of hostile snapshots and stays a game of 32 players', () => {
    run('state', (rand) => {
        const state = new GameState();
        for (let t = 0; t < 4; t++) {
            const packets = Array.from({ length: 1 + Math.floor(rand() * 3) }, () => hostilePacket(rand));
            state.applyElement(packets, t / 2, rand() < 0.1);
        }
        assert.equal(state.players.length, 32);
        assert.ok(state.feed.length <= 5 && state.chat.length <= 8 && state.grenades.size <= 256);
        state.clone();
    });
});
