// The game's rules as the stream tells them: where a map and a round start, how a round ends
// (winner and how), the one clock (round, freeze time, bomb), who is alive, the bomb's state.
// state.js calls in here for every element it applies; everything else (rounds, panels, the
// map, the timeline, stats) reads what was decided here and decides none of it again.
//
//   RADIO, RADIO_TEXT    the round's announcement codes and their words
//   STATE_*, BOMB_*      the stream's player state bits and bomb states
//   opensMap(decoded) -> true when the element's packets (decodePacket results) start a map
//   winnerOf(radioCode) -> 1 (T), 2 (CT), 0 (draw) or null for an announcement that ends no round
//   isAlive(player), hasSpawned(player), inTeam(player)     one player record of state.js
//   aliveCount(state, team)
//   chatText(text) -> the text without the game's line ends
//   newRound() -> the rules' part of a game state (state.round): { phase, planted, plantedAt
//       ({ x, y } where the bomb was planted: the game takes it off the radar at a defuse),
//       defused, exploded, winner, how, roundSeconds, lastTick }; phase 'none' (a map's start
//       or a join, before the first round start seen), 'freeze', 'live', 'over'
//   onBomb(state, chunk, fresh, events), onRadio(state, code, events),
//   onClock(state, seconds, time, events), settle(state, time, fresh, spawned, events)
//       used by state.js, in the element's order; events get { type, ... } in the order found:
//       'roundVoid' (the running round restarted before it ended), 'roundStart', 'freezeEnd',
//       'plant', 'drop' (once per drop: the game tells it twice), 'defuse', 'explode',
//       'roundEnd' { winner, how: 'elimination'|'bomb'|'defuse'|'time'|'draw',
//                    players: [{ slot, name, team, alive }] those in a team as it ended }
//   shownClock(state, time) -> { kind: 'round'|'freeze'|'bomb'|'over'|'', seconds }
//   formatClock(seconds) -> "1:05"   whole seconds, never below zero
//
// The stream has no round-start chunk: a round starts when (nearly: a late joiner may spawn a
// moment later) every player in a team spawns in the same half second, or failing spawn marks,
// at the first rise of the round clock after a round end. Its freeze time lasts until the clock
// rises to the round's time. A defuse is announced
// (code 3, from newer plugins), or is a counter-terrorist win in a round whose bomb was planted:
// the game takes the planted bomb off every radar at a defuse, so its state alone cannot tell.

export const RADIO = Object.freeze({ CT_WIN: 0, T_WIN: 1, BOMB_PLANTED: 2, BOMB_DEFUSED: 3, DRAW: 4 });
export const RADIO_TEXT = { 0: 'Counter-Terrorists win', 1: 'Terrorists win', 2: 'Bomb planted', 3: 'Bomb defused',
    4: 'Round draw' };
const WINNER = { [RADIO.CT_WIN]: 2, [RADIO.T_WIN]: 1, [RADIO.DRAW]: 0 };

export const STATE_ALIVE = 0x04, STATE_DEAD = 0x08, STATE_DIED = 0x10, STATE_SPAWNED = 0x20, STATE_CONNECTION = 0xC0;
export const BOMB_CARRIED = 0, BOMB_DROPPED = 1, BOMB_PLANTED = 2;
const POSITION_KNOWN = 0x01;  // the position group (stream.js GROUP.POSITION)
const TICK_GAP_S = 1.5;  // a tick this long after the one before still continues its count
const LONGEST_FREEZE_S = 30;  // a first tick above this after a round start is the round's time

export function opensMap(decoded) {
    return decoded.some((d) => d.chunks.some((c) => c.type === 'map' && c.name === ''));
}

export function winnerOf(code) { return WINNER[code] ?? null; }

export const inTeam = (p) => p.team === 1 || p.team === 2;

// The state bits gather a half second: a spawn in it outweighs a death before it. The game keeps
// a dead player at health 1 as an observer, so health alone never says alive.
export function isAlive(p) {
    if (!(p.health > 0)) return false;
    if (p.state & STATE_SPAWNED && !(p.state & STATE_CONNECTION)) return true;
    if (p.state & (STATE_DIED | STATE_DEAD)) return false;
    return (p.state & STATE_ALIVE) !== 0;
}

// A player is somewhere on the map once the stream gave a position (sampled only while alive).
export const hasSpawned = (p) => (p.known & POSITION_KNOWN) !== 0;

export function aliveCount(state, team) {
    let n = 0;
    for (const p of state.players) if (p.team === team && state.present(p.slot) && isAlive(p)) n++;
    return n;
}

export const chatText = (text) => text.replace(/[\r\n]+$/, '').replace(/[\r\n]+/g, ' ');

export function newRound(roundSeconds = null) {
    return { phase: 'none', planted: false, plantedAt: null, defused: false, exploded: false, winner: null, how: '',
        roundSeconds, lastTick: null, plantedNow: false, ended: null, freezeTicks: 0 };
}

function startRound(state, events) {
    const r = state.round;
    if (r.phase !== 'over') events.push({ type: 'roundVoid' });
    state.round = { ...newRound(r.roundSeconds), phase: 'freeze', lastTick: r.lastTick };
    events.push({ type: 'roundStart' });
}

export function onBomb(state, chunk, fresh, events) {
    const was = state.bomb;
    const r = state.round;
    if (chunk.state === BOMB_PLANTED) r.plantedAt = { x: chunk.x, y: chunk.y };
    if (!fresh && chunk.state === BOMB_PLANTED && was?.state !== BOMB_PLANTED && !r.planted) {
        r.planted = true;
        r.plantedNow = true;
        events.push({ type: 'plant', x: chunk.x, y: chunk.y });
    } else if (!fresh && chunk.state === BOMB_DROPPED && was?.state !== BOMB_DROPPED) {
        events.push({ type: 'drop', x: chunk.x, y: chunk.y });
    }
    if (fresh && chunk.state === BOMB_PLANTED) r.planted = true;  // joined after the plant
    state.bomb = { x: chunk.x, y: chunk.y, state: chunk.state };
}

export function onRadio(state, code, events) {
    const r = state.round;
    if (code === RADIO.BOMB_DEFUSED && !r.defused) {
        r.defused = true;
        events.push({ type: 'defuse' });
    } else if (code === RADIO.BOMB_PLANTED && !r.planted) {
        r.planted = true;
        r.plantedNow = true;
        events.push({ type: 'plant', x: state.bomb?.x ?? 0, y: state.bomb?.y ?? 0 });
    } else if (winnerOf(code) !== null && r.phase !== 'over' && r.ended === null) {
        r.ended = winnerOf(code);  // decided once the whole element is applied
    }
}

export function onClock(state, seconds, time, events) {
    const r = state.round;
    const last = r.lastTick;
    const rise = last !== null && (seconds > last.seconds || last.seconds < 0);
    if (rise && r.phase === 'over') startRound(state, events);
    const round = state.round;
    // The freeze time's first tick is its own count (or the -1 of none); the rise after it, or
    // a first tick that can only be the round's time, ends it.
    if (round.phase === 'freeze' && seconds >= 0 && (round.freezeTicks > 0 ? rise :
        seconds >= (round.roundSeconds ?? LONGEST_FREEZE_S + 3) - 2)) {
        round.phase = 'live';
        round.roundSeconds = seconds + 1;
        events.push({ type: 'freezeEnd' });
    } else if (round.phase === 'freeze') {
        round.freezeTicks++;
    }
    // Once planted the ticks count the bomb's timer. In the plant's own half second the bomb is
    // told before the ticks, so a tick there that carries on the round's count is still the round's.
    let kind = round.phase === 'freeze' ? 'freeze' : 'round';
    if (bombPlanted(state)) {
        const continues = last && last.kind === 'round' && last.seconds - seconds === 1 && time - last.time <= TICK_GAP_S;
        kind = round.plantedNow && continues ? 'round' : 'bomb';
    }
    round.lastTick = { seconds, time, kind };
    state.clock = { seconds, time, kind };
}

const bombPlanted = (state) => state.bomb?.state === BOMB_PLANTED && !state.round.defused && !state.round.exploded;

// After the element's chunks (spawned: the slots whose state in it says they spawned): a round
// start from the players' spawns, a round end decided.
export function settle(state, time, fresh, spawned, events) {
    const r = state.round;
    if (!fresh && spawned.length >= 2) {
        let players = 0, all = 0;
        for (const p of state.players) {
            if (!inTeam(p) || !state.present(p.slot)) continue;
            players++;
            if (spawned.includes(p.slot)) all++;
        }
        // Kills in the same half second went to the round before; the start follows them.
        if (all >= 2 && all * 3 > players * 2) startRound(state, events);
    }
    const round = state.round;
    if (round.ended !== null && round !== r) round.ended = null;
    if (round.ended !== null) {
        const winner = round.ended;
        round.ended = null;
        round.winner = winner;
        round.how = howWon(state, winner);
        if (round.how === 'defuse' && !round.defused) {
            round.defused = true;
            events.push({ type: 'defuse' });
        }
        if (round.how === 'bomb') {
            round.exploded = true;
            events.push({ type: 'explode' });
        }
        round.phase = 'over';
        const players = state.players.filter((p) => inTeam(p) && state.present(p.slot))
            .map((p) => ({ slot: p.slot, name: p.name, team: p.team, alive: isAlive(p) }));
        events.push({ type: 'roundEnd', winner, how: round.how, players });
    }
    round.plantedNow = false;
}

function howWon(state, winner) {
    const r = state.round;
    if (winner === 0) return 'draw';
    // After a plant only a defuse or the bomb ends a round: not the last terrorist's death.
    if (winner === 2 && (r.defused || r.planted)) return 'defuse';
    if (aliveCount(state, winner === 1 ? 2 : 1) === 0) return 'elimination';
    if (winner === 1 && r.planted) return 'bomb';
    return 'time';
}

// One clock for every spectator, whenever they joined: a tick's kind is fixed when it comes, and
// a tick of another kind than what is running now (the round's before a plant, or none yet for a
// joiner) shows no number rather than a number of the wrong clock.
export function shownClock(state, time) {
    const r = state.round;
    const c = state.clock;
    if (r.phase === 'over' || r.defused || r.exploded) return { kind: 'over', seconds: null };
    if (r.phase === 'freeze') return { kind: 'freeze', seconds: r.roundSeconds };
    const kind = bombPlanted(state) ? 'bomb' : 'round';
    if (!c || c.kind !== kind || c.seconds < 0) return { kind: c || kind === 'bomb' ? kind : '', seconds: null };
    return { kind, seconds: Math.max(0, Math.ceil(c.seconds - Math.max(0, time - c.time))) };
}

export function formatClock(seconds) {
    const s = Math.max(0, Math.floor(seconds));
    return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}
