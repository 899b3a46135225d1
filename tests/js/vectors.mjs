// The C++ tests' byte vectors (tests/stream_vectors.h), read from the header itself so both
// languages check the same bytes.
import { readFileSync } from 'node:fs';

const header = readFileSync(new URL('../stream_vectors.h', import.meta.url), 'utf8');

function byteOf(token) {
    const t = token.trim();
    const char = /^'(\\?.)'$/.exec(t);
    if (char) return char[1].length === 1 ? char[1].charCodeAt(0) : { '\\0': 0, "\\'": 39, '\\\\': 92 }[char[1]];
    const n = Number(t);
    if (!Number.isInteger(n) || n < 0 || n > 255) throw new Error(`stream_vectors.h: not a byte: ${t}`);
    return n;
}

export const vectors = {};
for (const m of header.matchAll(/inline const Bytes (k\w+) = \{([^}]*)\};/g)) {
    const body = m[2].replace(/\/\/[^\n]*/g, '');
    vectors[m[1]] = Uint8Array.from(body.split(',').filter((t) => t.trim() !== '').map(byteOf));
}
if (Object.keys(vectors).length < 10) throw new Error('stream_vectors.h: vectors not found');

// A packet: the two reserved bytes, then the given chunk bytes.
export function packet(...chunks) {
    return Uint8Array.from([0, 0, ...chunks.flatMap((c) => [...c])]);
}
