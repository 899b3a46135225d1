// The text beside the map: round, scores and clock, the players of each team, kill feed, chat,
// and the rounds and highlights of what is replayed.
//
//   renderPanels(elements: { score, round, clock, bomb, teams, feed, chat }, state, time, lit,
//                round: the number of the round shown, from the round index; else the score's)
//       lit: the slots to mark in the scoreboard (chosen or followed)
//   renderRounds(elements: { rounds, highlights }, rounds, highlights, current: the round shown)
//   clockText(state, time) -> "1:55", "C4 0:25", "1:45 freeze time", "freeze time", "round over" or ""
//   bombText(state) -> "C4 carried by NAME", "C4 dropped", "C4 planted", "C4 defused", "C4 exploded" or ""
//   weaponName(id) -> the game's weapon name for a weapon number

import { BOMB_CARRIED, BOMB_DROPPED, BOMB_PLANTED, ICON_C4, ICON_DEFUSER } from './state.js';
import { roundText } from './rounds.js';
import { aliveCount, formatClock, hasSpawned, inTeam, isAlive, shownClock } from './rules.js';

const WEAPONS = ['', 'p228', 'shield', 'scout', 'hegrenade', 'xm1014', 'c4', 'mac10', 'aug',
    'smokegrenade', 'elite', 'fiveseven', 'ump45', 'sg550', 'galil', 'famas', 'usp', 'glock18',
    'awp', 'mp5navy', 'm249', 'm3', 'm4a1', 'tmp', 'g3sg1', 'flashbang', 'deagle', 'sg552', 'ak47',
    'knife', 'p90'];
const CHAT_KIND = ['CT', 'T', '', 'CT dead', 'T dead', 'dead', 'spectators', 'spectator team'];
const FEED_SHOWN_S = 20;  // kills older than this leave the feed

export function weaponName(id) { return WEAPONS[id] ?? ''; }

export function clockText(state, time) {
    const c = shownClock(state, time);
    if (c.kind === 'over') return 'round over';
    if (c.kind === 'freeze') return c.seconds === null ? 'freeze time' : `${formatClock(c.seconds)} freeze time`;
    if (c.seconds === null) return '';
    return c.kind === 'bomb' ? `C4 ${formatClock(c.seconds)}` : formatClock(c.seconds);
}

export function bombText(state) {
    const b = state.bomb;
    if (state.round.defused) return 'C4 defused';
    if (state.round.exploded) return 'C4 exploded';
    if (b?.state === BOMB_PLANTED) return 'C4 planted';
    if (b?.state === BOMB_DROPPED) return 'C4 dropped';
    const carrier = state.players.find((p) => state.present(p.slot) && (p.icons & ICON_C4));
    if (carrier && (!b || b.state === BOMB_CARRIED)) return `C4 carried by ${carrier.name}`;
    return '';
}

function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
}

function teamTable(state, team, title, score, lit) {
    const box = el('div', `team team${team}`);
    const head3 = el('h3', '', `${title} ${score}`);
    head3.append(el('span', 'alive', `${aliveCount(state, team)} alive`));
    box.append(head3);
    const table = el('table');
    const head = el('tr');
    for (const [h, c] of [['', ''], ['HP', 'num'], ['K', 'num'], ['D', 'num'], ['weapon', ''], ['', '']]) head.append(el('th', c, h));
    table.append(head);
    const players = state.players.filter((p) => state.present(p.slot) && p.team === team)
        .sort((a, b) => b.kills - a.kills || a.deaths - b.deaths);
    for (const p of players) {
        const alive = isAlive(p);
        const row = el('tr', `${alive ? '' : 'dead'}${lit.includes(p.slot) ? ' lit' : ''}`);
        row.dataset.slot = String(p.slot);
        row.append(el('td', 'name', p.name), el('td', 'num', alive ? String(p.health) : '-'),
            el('td', 'num', String(p.kills)), el('td', 'num', String(p.deaths)),
            el('td', '', alive ? weaponName(p.weapon) : hasSpawned(p) ? 'dead' : ''),
            el('td', 'icons', (p.icons & ICON_C4 ? 'C4 ' : '') + (p.icons & ICON_DEFUSER ? 'kit' : '')));
        table.append(row);
    }
    box.append(table);
    return box;
}

export function renderPanels(elements, state, time, lit = [], round = null) {
    elements.score.textContent = `${state.map ? state.map.name : 'no map yet'}   T ${state.score.t} : ${state.score.ct} CT`;
    if (elements.round) {
        // The index's number stays on the round just won until the next begins; the score has
        // moved on by then.
        const number = Number.isInteger(round) ? round : state.score.t + state.score.ct + 1;
        // Nobody spawned yet (a map's first seconds): no count of nobody alive.
        const playing = state.players.some((p) => inTeam(p) && state.present(p.slot) && hasSpawned(p));
        elements.round.textContent = !state.map ? '' : playing ? `Round ${number} \u00b7 ` +
            `T ${aliveCount(state, 1)} alive, CT ${aliveCount(state, 2)} alive` : `Round ${number}`;
    }
    const clock = clockText(state, time);
    elements.clock.textContent = clock;
    elements.clock.className = clock.startsWith('C4') ? 'bomb' : '';
    if (elements.bomb) elements.bomb.textContent = bombText(state);
    elements.teams.replaceChildren(teamTable(state, 1, 'Terrorists', state.score.t, lit),
        teamTable(state, 2, 'Counter-Terrorists', state.score.ct, lit));

    elements.feed.replaceChildren(...state.feed.filter((k) => time - k.time < FEED_SHOWN_S).map((k) => {
        const line = el('li');
        line.append(el('span', `team${k.killerTeam}`, k.killer || 'world'),
            el('span', 'weapon', ` [${k.weapon}${k.headshot ? ', headshot' : ''}] `),
            el('span', `team${k.victimTeam}`, k.victim));
        return line;
    }));

    elements.chat.replaceChildren(...state.chat.map((c) => {
        if (c.radio !== undefined) return el('li', 'radio', c.text);
        const line = el('li');
        const kind = CHAT_KIND[c.kind] ?? '';
        line.append(el('span', `team${c.team}`, `${kind ? `(${kind}) ` : ''}${c.name}: `), el('span', '', c.text));
        return line;
    }));
}

// Each entry carries the record to jump to (data-record).
export function renderRounds(elements, rounds, highlights, current) {
    const at = (record) => formatClock(record / 2);
    let map = null;
    const items = [];
    for (const r of rounds) {
        if (r.map !== map) {
            map = r.map;
            items.push(el('li', 'map-name', map || 'map'));
        }
        const line = el('li', r === current ? 'now' : '');
        line.dataset.record = String(r.start);
        line.append(el('span', '', `${at(r.start)}  `), el('span', r.winner ? `win${r.winner}` : '', roundText(r)));
        items.push(line);
    }
    elements.rounds.replaceChildren(...items);
    elements.highlights.replaceChildren(...(highlights.length ? highlights.map((h) => {
        const line = el('li', `hl-${h.kind}`, `${at(h.record)}  R${h.round}  ${h.text}`);
        line.dataset.record = String(h.record);
        return line;
    }) : [el('li', '', 'none yet')]));
}
