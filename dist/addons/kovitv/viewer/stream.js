// Decoding one packet of the spectator stream into chunks, the same walk the plugin's reader does.
//
//   decodePacket(bytes: Uint8Array) -> { chunks, truncated, skipped, invalid }
//     chunks:    plain objects { type, offset, ... } in packet order (types below)
//     truncated: the walk ended at a chunk claiming more bytes than the packet holds
//     skipped:   header bytes that are no chunk (37, 42-255), stepped over one at a time
//     invalid:   shorter than the two reserved bytes; nothing was read
//
// Packet: two reserved bytes, then chunks back to back (header byte, data), numbers big-endian.
// Nothing past bytes.length, nor past 512 bytes, is ever read.
//
// Chunk objects:
//   player  slot, mask, and per group present: x y yaw | health | state | kills deaths | team |
//           name | weapon | icons
//   map     name zoom rotated originX originY        death   killer victim headshot weapon
//   radio   code a1 a2                               chat    kind sender text
//   score   t ct                                     heartbeat bytes[3]
//   grenade id x y event kind                        bomb    x y state
//   clock   seconds (-1: the round is over)

export const PACKET_SIZE = 512;
export const PACKET_RESERVED = 2;
export const NAME_KEEP = 63;  // a reader keeps at most this much of a player or map name

export const CHUNK = Object.freeze({
    PLAYER_LAST: 31, MAP: 32, DEATH: 33, RADIO: 34, CHAT: 35, SCORE: 36,
    HEARTBEAT: 38, GRENADE: 39, BOMB: 40, CLOCK: 41,
});

export const GROUP = Object.freeze({
    POSITION: 0x01, HEALTH: 0x02, STATE: 0x04, KILLS: 0x08,
    TEAM: 0x10, NAME: 0x20, WEAPON: 0x40, ICONS: 0x80,
});

const GROUP_BYTES = [[GROUP.POSITION, 6], [GROUP.HEALTH, 1], [GROUP.STATE, 1], [GROUP.KILLS, 2],
    [GROUP.TEAM, 1], [GROUP.NAME, 1], [GROUP.WEAPON, 1], [GROUP.ICONS, 1]];

// Names and chat come from game clients: invalid UTF-8 becomes U+FFFD rather than failing.
const utf8 = new TextDecoder('utf-8', { fatal: false });

// A bounded cursor over one packet. Reads past the end are refused by the callers' checks
// (need()), so the getters themselves never look beyond `end`.
class Cursor {
    constructor(bytes, at, end) {
        this.bytes = bytes;
        this.at = at;
        this.end = end;
    }
    left() { return this.end - this.at; }
    need(n) { return this.left() >= n; }
    u8() { return this.bytes[this.at++]; }
    s8() { const v = this.bytes[this.at++]; return v >= 128 ? v - 256 : v; }
    s16() {
        const v = (this.bytes[this.at] << 8) | this.bytes[this.at + 1];
        this.at += 2;
        return v >= 0x8000 ? v - 0x10000 : v;
    }
    u16() {
        const v = (this.bytes[this.at] << 8) | this.bytes[this.at + 1];
        this.at += 2;
        return v;
    }
    // A length byte and that many bytes, keeping at most `keep` of them; null when cut.
    text(keep) {
        if (!this.need(1)) return null;
        const length = this.bytes[this.at];
        if (!this.need(1 + length)) return null;
        const start = this.at + 1;
        this.at = start + length;
        return utf8.decode(this.bytes.subarray(start, start + Math.min(length, keep)));
    }
}

function readPlayer(c, slot) {
    if (!c.need(1)) return null;
    const mask = c.bytes[c.at];
    // The whole chunk is measured before anything is taken, as the plugin's reader does.
    let fixed = 1;
    for (const [bit, size] of GROUP_BYTES) if (mask & bit) fixed += size;
    if (!c.need(fixed)) return null;
    if (mask & GROUP.NAME) {
        let before = 1;
        for (const [bit, size] of GROUP_BYTES) {
            if (bit === GROUP.NAME) break;
            if (mask & bit) before += size;
        }
        if (!c.need(fixed + c.bytes[c.at + before])) return null;
    }
    c.at++;
    const p = { type: 'player', slot, mask };
    if (mask & GROUP.POSITION) { p.x = c.s16(); p.y = c.s16(); p.yaw = c.s16(); }
    if (mask & GROUP.HEALTH) p.health = c.u8();
    if (mask & GROUP.STATE) p.state = c.u8();
    if (mask & GROUP.KILLS) { p.kills = c.u8(); p.deaths = c.u8(); }
    if (mask & GROUP.TEAM) p.team = c.u8();
    if (mask & GROUP.NAME) p.name = c.text(NAME_KEEP);
    if (mask & GROUP.WEAPON) p.weapon = c.u8();
    if (mask & GROUP.ICONS) p.icons = c.u8();
    return p;
}

function readMap(c) {
    if (!c.need(1) || !c.need(8 + c.bytes[c.at])) return null;
    const name = c.text(NAME_KEEP);
    return { type: 'map', name, zoom: c.u16(), rotated: c.u8(), originX: c.s16(), originY: c.s16() };
}

function readDeath(c) {
    if (!c.need(4)) return null;
    const killer = c.u8(), victim = c.u8(), headshot = c.u8();
    const weapon = c.text(255);
    return weapon === null ? null : { type: 'death', killer, victim, headshot, weapon };
}

function readChat(c) {
    if (!c.need(3)) return null;
    const kind = c.u8(), sender = c.u8();
    const text = c.text(255);
    return text === null ? null : { type: 'chat', kind, sender, text };
}

function fixed(size, read) {
    return (c) => (c.need(size) ? read(c) : null);
}

const READERS = {
    [CHUNK.MAP]: readMap,
    [CHUNK.DEATH]: readDeath,
    [CHUNK.RADIO]: fixed(3, (c) => ({ type: 'radio', code: c.u8(), a1: c.u8(), a2: c.u8() })),
    [CHUNK.CHAT]: readChat,
    [CHUNK.SCORE]: fixed(2, (c) => ({ type: 'score', t: c.s8(), ct: c.s8() })),
    [CHUNK.HEARTBEAT]: fixed(3, (c) => ({ type: 'heartbeat', bytes: [c.u8(), c.u8(), c.u8()] })),
    [CHUNK.GRENADE]: fixed(7, (c) => ({
        type: 'grenade', id: c.u8(), x: c.s16(), y: c.s16(), event: c.u8(), kind: c.u8(),
    })),
    [CHUNK.BOMB]: fixed(5, (c) => ({ type: 'bomb', x: c.s16(), y: c.s16(), state: c.u8() })),
    [CHUNK.CLOCK]: fixed(2, (c) => ({ type: 'clock', seconds: c.s16() })),
};

export function decodePacket(bytes) {
    const out = { chunks: [], truncated: false, skipped: 0, invalid: false };
    if (!(bytes instanceof Uint8Array) || bytes.length < PACKET_RESERVED) {
        out.invalid = true;
        return out;
    }
    const c = new Cursor(bytes, PACKET_RESERVED, Math.min(bytes.length, PACKET_SIZE));
    while (c.left() > 0) {
        const offset = c.at;
        const header = c.u8();
        const read = header <= CHUNK.PLAYER_LAST ? (cur) => readPlayer(cur, header) : READERS[header];
        if (read === undefined) {
            out.skipped++;
            continue;
        }
        const chunk = read(c);
        if (chunk === null) {
            out.truncated = true;
            break;
        }
        chunk.offset = offset;
        out.chunks.push(chunk);
    }
    return out;
}
