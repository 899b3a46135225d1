// Reading a demo file: the undelayed stream of one map, one record per snapshot.
//
//   parseDemo(buffer: ArrayBuffer | Uint8Array) -> { records, fault }
//     records: Uint8Array[][], per record its packets, unmasked; two records per second of game
//              time. Every whole record before the first fault is kept.
//     fault:   null, or { offset, message } for the first byte that cannot be right
//   readPackets(bytes, at, count, mask) -> { packets, end } | { fault }   (shared with fragments.js)
//   demoLabel(entry) -> "2026-12-08 12:40 de_kovi (1.2 MB)" for an entry of the server's list
//   isDemoPath(path) -> true for a path the server's list may hold, "/demos/MMDDYY/HHMM_map.kdem"
//
// File: the format byte 2, then records: a packet count (one byte), and per packet its length
// (two bytes, big-endian, the two reserved bytes included) and its bytes XORed with 0x6D.

import { PACKET_RESERVED, PACKET_SIZE } from './stream.js';

export const DEMO_FORMAT = 2;
export const DEMO_MASK = 0x6D;

export function readPackets(bytes, at, count, mask) {
    const packets = [];
    for (let i = 0; i < count; i++) {
        if (at + 2 > bytes.length) return { fault: { offset: at, message: 'cut short in a packet length' } };
        const length = (bytes[at] << 8) | bytes[at + 1];
        if (length < PACKET_RESERVED || length > PACKET_SIZE) {
            return { fault: { offset: at,
                message: `packet length ${length} outside ${PACKET_RESERVED}..${PACKET_SIZE}` } };
        }
        at += 2;
        if (at + length > bytes.length) {
            return { fault: { offset: at, message: `packet of ${length} bytes cut short` } };
        }
        const packet = bytes.slice(at, at + length);
        if (mask !== 0) for (let b = 0; b < length; b++) packet[b] ^= mask;
        packets.push(packet);
        at += length;
    }
    return { packets, end: at };
}

export function parseDemo(buffer) {
    const bytes = buffer instanceof Uint8Array ? buffer : new Uint8Array(buffer);
    const records = [];
    if (bytes.length === 0) return { records, fault: { offset: 0, message: 'empty file: no format byte' } };
    if (bytes[0] !== DEMO_FORMAT) {
        return { records, fault: { offset: 0, message: `format byte is ${bytes[0]}, not ${DEMO_FORMAT}: not a demo file` } };
    }
    let at = 1;
    while (at < bytes.length) {
        const count = bytes[at];
        // A snapshot always holds at least a heartbeat, so an empty record is damage.
        if (count === 0) return { records, fault: { offset: at, message: 'record without packets' } };
        const got = readPackets(bytes, at + 1, count, DEMO_MASK);
        if (got.fault) {
            got.fault.message = `record ${records.length} at ${at}: ${got.fault.message}`;
            return { records, fault: got.fault };
        }
        records.push(got.packets);
        at = got.end;
    }
    return { records, fault: null };
}

// The server names its demo folders by the map's start, month first: MMDDYY.
export function demoLabel(entry) {
    const d = String(entry.date ?? ''), t = String(entry.time ?? '');
    const when = /^\d{6}$/.test(d) && /^\d{4}$/.test(t)
        ? `20${d.slice(4, 6)}-${d.slice(0, 2)}-${d.slice(2, 4)} ${t.slice(0, 2)}:${t.slice(2, 4)}` : `${d} ${t}`;
    const bytes = Number(entry.bytes);
    const size = !(bytes >= 0) ? '' : bytes >= 1e6 ? ` (${(bytes / 1e6).toFixed(1)} MB)` : ` (${Math.ceil(bytes / 1e3)} kB)`;
    return `${when} ${entry.map ?? ''}${size}`;
}

export function isDemoPath(path) {
    return typeof path === 'string' && /^\/demos\/\d{6}\/\d{4}_[^/\\?#]+\.kdem$/.test(path);
}
