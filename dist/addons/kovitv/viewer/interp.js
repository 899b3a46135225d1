// Where each player is drawn between two snapshots: the stream has two a second, the display
// draws sixty, so positions and view directions are eased from one snapshot to the next.
//
//   STATE_FIRED, STATE_HIT   state bits: fired, was hit in the snapshot's half second
//   JUMP_UNITS               farther than this in one snapshot is a jump, not a run
//   isJump(a, b)             whether player a (one snapshot) to b (the next) is drawn as a jump
//   lerpYaw(from, to, t)     degrees, the short way round, in [0, 360)
//   new Motion()
//     .at(state, next, fraction) -> this.players: [{ x, y, yaw }] by slot, refilled in place
//     .grenadeAt(g) -> { x, y } where grenade g of the last at()'s state is drawn (one object,
//          refilled each call)
//
// A jump (a respawn, a teleport, a death, a team change, a player coming or going) holds the
// earlier snapshot until the later one is reached: nothing slides across the map or out of a
// dead body. With no next snapshot, or a fraction of 0, the state is drawn exactly as it is.
// A grenade in flight is eased towards its place in the next snapshot; one that appears, blows
// up or is lost there is held: a throw starts at its thrower's hand, a blast where it burst.

import { isAlive, STATE_SPAWNED } from './rules.js';
import { GRENADE_EXPLODED, MAX_PLAYERS } from './state.js';

// A player runs at most 250 units a second (a little more with a knife or a boost): 125 in a
// snapshot's half second. Over 200 is no run; a fall or a slide down a slope stays under it.
export const JUMP_UNITS = 200;
// Bits of a player's state for the snapshot's half second (the stream's, beside rules.js's).
export const STATE_FIRED = 0x01, STATE_HIT = 0x02;

export function isJump(a, b) {
    if (!isAlive(a) || !isAlive(b)) return true;  // dead bodies do not move; a death is a jump
    if (a.team !== b.team || a.name !== b.name) return true;
    if (b.state & STATE_SPAWNED) return true;
    const dx = b.x - a.x, dy = b.y - a.y;
    return dx * dx + dy * dy > JUMP_UNITS * JUMP_UNITS;
}

export function lerpYaw(from, to, t) {
    const turn = ((((to - from) % 360) + 540) % 360) - 180;
    return (((from + turn * t) % 360) + 360) % 360;
}

export class Motion {
    constructor() {
        this.players = Array.from({ length: MAX_PLAYERS }, () => ({ x: 0, y: 0, yaw: 0 }));
        this.next = null;
        this.t = 0;
        this.grenade = { x: 0, y: 0 };
    }

    // Allocates nothing: it runs once a displayed frame.
    at(state, next, fraction) {
        const t = Math.min(Math.max(fraction || 0, 0), 1);
        this.next = next ?? null;
        this.t = t;
        for (let slot = 0; slot < MAX_PLAYERS; slot++) {
            const a = state.players[slot], out = this.players[slot];
            const b = next?.players[slot];
            if (!b || t === 0 || !next.present(slot) || !state.present(slot) || isJump(a, b)) {
                out.x = a.x; out.y = a.y; out.yaw = a.yaw;
                continue;
            }
            out.x = a.x + (b.x - a.x) * t;
            out.y = a.y + (b.y - a.y) * t;
            out.yaw = lerpYaw(a.yaw, b.yaw, t);
        }
        return this.players;
    }

    grenadeAt(g) {
        const out = this.grenade;
        const b = this.t > 0 ? this.next?.grenades.get(g.id) : undefined;
        // The same throw in both: an id comes back for a later grenade only after a blast.
        if (!b || b.kind !== g.kind || g.event === GRENADE_EXPLODED || b.event === GRENADE_EXPLODED) {
            out.x = g.x; out.y = g.y;
        } else {
            out.x = g.x + (b.x - g.x) * this.t;
            out.y = g.y + (b.y - g.y) * this.t;
        }
        return out;
    }
}
